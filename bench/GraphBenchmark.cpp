// SPDX-License-Identifier: MIT
// What the graph costs: 24 hours and 30 days of samples reduced to the
// columns of a 960-pixel image and drawn, on Qt's offscreen platform; and
// reading 30 days back from a history file.
#include "desktop/GraphPainter.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryStore.h"
#include "support/HistoryDays.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace drainwatch {
namespace {

constexpr double kStart = 1800000000;
constexpr double kDay = 86400;
const QSize kSize(960, 360);

const test::HistoryDay& thirtyDays()
{
    static const test::HistoryDay days = test::routineDays(kStart, 30);
    return days;
}

void draw(benchmark::State& state, double span)
{
    const auto& days = thirtyDays();
    const double until = kStart + 30 * kDay;
    GraphData data{[&days, since = until - span - kGapSeconds, until](const SampleVisitor& visit) {
                       days.eachSample(since, until, visit);
                   },
                   days.sleeps, until - span, until};
    QImage image(kSize, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        GraphPainter graph;
        graph.reduce(data, image.rect());
        QPainter painter(&image);
        graph.paint(painter, image.rect());
    }
    std::size_t samples = 0;
    data.eachSample([&samples](const HistorySample&) { ++samples; });
    state.counters["samples"] = static_cast<double>(samples);
}

void BM_Graph24Hours(benchmark::State& state) { draw(state, kDay); }
BENCHMARK(BM_Graph24Hours)->Unit(benchmark::kMillisecond);

void BM_Graph30Days(benchmark::State& state) { draw(state, 30 * kDay); }
BENCHMARK(BM_Graph30Days)->Unit(benchmark::kMillisecond);

// The drawing alone, of columns reduced once, as the window repaints.
void BM_Paint30Days(benchmark::State& state)
{
    const auto& days = thirtyDays();
    QImage image(kSize, QImage::Format_ARGB32_Premultiplied);
    GraphPainter graph;
    graph.reduce(GraphData{[&days](const SampleVisitor& visit) { days.eachSample(-1e300, 1e300, visit); }, days.sleeps,
                           kStart, kStart + 30 * kDay},
                 image.rect());
    for (auto _ : state) {
        QPainter painter(&image);
        graph.paint(painter, image.rect());
    }
}
BENCHMARK(BM_Paint30Days)->Unit(benchmark::kMillisecond);

// The reduction alone, without Qt.
void BM_Columns30Days(benchmark::State& state)
{
    const auto& days = thirtyDays();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            graphColumns(days.samples, days.sleeps, kStart, kStart + 30 * kDay, 872, RateUnit::PercentPerHour));
}
BENCHMARK(BM_Columns30Days)->Unit(benchmark::kMillisecond);

// What the Graph tab does at each refresh of the 30-day range: the file read
// straight into the columns.
void BM_Read30DaysFromFile(benchmark::State& state)
{
    const auto folder =
        std::filesystem::temp_directory_path() / ("drainwatch-graph-bench-" + std::to_string(::getpid()));
    const auto file = folder / "history.sqlite";
    {
        HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite);
        HistoryStore store(database);
        for (const HistorySample& sample : thirtyDays().samples) {
            store.addSample(sample);
            if (store.waiting() >= 500)
                store.flush();
        }
        store.flush();
    }
    {
        HistoryDatabase database(file, HistoryDatabase::Access::ReadOnly);
        const HistoryStore store(database);
        for (auto _ : state) {
            ColumnReducer reducer(kStart, kStart + 30 * kDay, 872, RateUnit::PercentPerHour);
            store.forEachSample(kStart, kStart + 31 * kDay,
                                [&reducer](const HistorySample& sample) { reducer.add(sample); });
            benchmark::DoNotOptimize(reducer.columns({}));
        }
        state.counters["file MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Read30DaysFromFile)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace drainwatch

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

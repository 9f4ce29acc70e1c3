// SPDX-License-Identifier: MIT
#include "desktop/GraphFile.h"

#include "desktop/GraphPainter.h"
#include "history/GraphRange.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryStore.h"
#include "sleep/SleepLedger.h"
#include "terminal/Options.h"

#include <QFile>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>
#include <memory>

#include <fmt/format.h>

namespace drainwatch {

QImage graphImage(const HistoryReader& reader, const std::string& range, RateUnit unit, QSize size)
{
    const GraphRange span = graphRange(range).value_or(kGraphRanges[kDefaultGraphRange]);
    const GraphData data = readGraphData(reader, readerNow(reader), span.seconds, unit);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    const QRect bounds(QPoint(0, 0), size);
    GraphPainter graph;
    graph.reduce(data, bounds);
    QPainter painter(&image);
    graph.paint(painter, bounds);
    return image;
}

HistoryReader historyFileReader(bool simulate)
{
    // One read-only connection for the samples, the discharges and the
    // sleeps, kept by the reader's functions.
    struct Open {
        explicit Open(const std::filesystem::path& file)
            : database(file, HistoryDatabase::Access::ReadOnly), store(database), ledger(database)
        {
        }
        HistoryDatabase database;
        HistoryStore store;
        SleepLedger ledger;
    };
    const auto open = std::make_shared<Open>(SleepLedger::defaultPath(Identity::of(simulate).historyFile));
    HistoryReader reader;
    reader.eachSample = [open](double since, double until, const SampleVisitor& visit) {
        open->store.forEachSample(since, until, visit);
    };
    reader.discharges = [open] { return open->store.discharges(); };
    reader.sleeps = [open] {
        std::vector<TimeSpan> spans;
        for (const SleepRecord& record : open->ledger.records())
            spans.push_back({record.start, record.end});
        return spans;
    };
    return reader;
}

int writeGraphFile(const std::string& file, const std::string& range, bool simulate)
{
    const QImage image = graphImage(historyFileReader(simulate), range, RateUnit::PercentPerHour);

    QFile out(QString::fromStdString(file));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fmt::print(stderr, "Drainwatch: cannot write the graph to {}: {}\n", file, out.errorString().toStdString());
        return 1;
    }
    QImageWriter writer(&out, "png");
    if (!writer.write(image) || !out.flush()) {
        fmt::print(stderr, "Drainwatch: cannot write the graph to {}: {}\n", file, writer.errorString().toStdString());
        return 1;
    }
    return 0;
}

} // namespace drainwatch

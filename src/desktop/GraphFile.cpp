// SPDX-License-Identifier: MIT
#include "desktop/GraphFile.h"

#include "desktop/GraphPainter.h"
#include "history/GraphRange.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryStore.h"
#include "sleep/SleepLedger.h"
#include "terminal/Options.h"

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImageWriter>
#include <QPainter>
#include <QPalette>

#include <cstdio>
#include <memory>

#include <fmt/format.h>

namespace drainwatch {

namespace {

// The key the window's Graph tab shows above the graph, for a file that
// is read without it.
void paintLegend(QPainter& painter, const QRect& row)
{
    const QPalette palette;
    painter.fillRect(row, palette.color(QPalette::Base));
    const QFontMetrics metrics = painter.fontMetrics();
    const std::pair<QColor, QString> keys[] = {
        {GraphPainter::kChargeLine, QObject::tr("charge (left)")},
        {GraphPainter::kRateLine, QObject::tr("drain (right)")},
        {GraphPainter::kSleepShade, QObject::tr("asleep")},
        {GraphPainter::kChargerShade, QObject::tr("on the charger")},
        {palette.color(QPalette::Base), QObject::tr("not running")},
    };
    int x = row.left() + 8;
    const int swatch = metrics.height() - 4;
    for (const auto& [colour, name] : keys) {
        const QRect box(x, row.center().y() - swatch / 2, swatch, swatch);
        painter.fillRect(box, colour);
        painter.setPen(palette.color(QPalette::Mid));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.setPen(palette.color(QPalette::Text));
        const int width = metrics.horizontalAdvance(name);
        painter.drawText(QRect(box.right() + 5, row.top(), width + 2, row.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         name);
        x = box.right() + 5 + width + 14;
    }
}

} // namespace

QImage graphImage(const HistoryReader& reader, const std::string& range, RateUnit unit, QSize size)
{
    const GraphRange span = graphRange(range).value_or(kGraphRanges[kDefaultGraphRange]);
    const GraphData data = readGraphData(reader, readerNow(reader), span.seconds, unit);
    const int legendHeight = QFontMetrics(QFont()).height() + 8;
    QImage image(size + QSize(0, legendHeight), QImage::Format_ARGB32_Premultiplied);
    const QRect bounds(QPoint(0, 0), size);
    GraphPainter graph;
    graph.reduce(data, bounds);
    QPainter painter(&image);
    graph.paint(painter, bounds);
    paintLegend(painter, QRect(0, size.height(), size.width(), legendHeight));
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
        // Awake with the lid closed is not shaded as a sleep.
        for (const SleepRecord& record : open->ledger.records())
            if (record.how != "lid closed")
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

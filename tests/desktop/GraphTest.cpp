// SPDX-License-Identifier: MIT
// The graph drawn offscreen on a recorded day, its pixels looked at where it
// matters, and the window's Graph, Discharges and Health tabs.
#include "support/AppFixture.h"

#include "desktop/DesktopApp.h"
#include "desktop/GraphFile.h"
#include "desktop/GraphPainter.h"
#include "support/HistoryDays.h"

#include <QtWidgets>

namespace drainwatch::test {
namespace {

constexpr double kMidnight = 1800000000;
constexpr double kHour = 3600;

HistoryReader readerOf(const HistoryDay& day, double now)
{
    HistoryReader reader;
    reader.now = [now] { return now; };
    reader.eachSample = [day](double since, double until, const SampleVisitor& visit) {
        day.eachSample(since, until, visit);
    };
    reader.sleeps = [day] { return day.sleeps; };
    return reader;
}

// What a shade over the base colour gives.
QRgb shaded(QColor shade)
{
    QImage pixel(1, 1, QImage::Format_ARGB32_Premultiplied);
    pixel.fill(QPalette().color(QPalette::Base));
    QPainter(&pixel).fillRect(0, 0, 1, 1, shade);
    return pixel.pixel(0, 0);
}

// Nearer the line's colour than any other the graph is drawn in: a line
// drawn with antialiasing, over a shade or not.
bool near(QRgb pixel, QColor line)
{
    const auto distance = [pixel](QColor c) {
        return std::abs(qRed(pixel) - c.red()) + std::abs(qGreen(pixel) - c.green()) +
               std::abs(qBlue(pixel) - c.blue());
    };
    const QPalette palette;
    for (const QColor other :
         {palette.color(QPalette::Base), palette.color(QPalette::Mid), palette.color(QPalette::Text),
          QColor(shaded(GraphPainter::kSleepShade)), QColor(shaded(GraphPainter::kChargerShade)),
          GraphPainter::kChargeLine, GraphPainter::kRateLine})
        if (other != line && distance(other) <= distance(line))
            return false;
    return true;
}

class RecordedGraph : public ::testing::Test {
protected:
    RecordedGraph()
    {
        image = graphImage(readerOf(day, kMidnight + 24 * kHour), "24h", RateUnit::PercentPerHour, size);
        if (const char* keep = std::getenv("DRAINWATCH_KEEP_GRAPH"))
            image.save(keep);
        geometry.reduce(GraphData{{}, {}, kMidnight, kMidnight + 24 * kHour}, QRect(QPoint(), size));
        plot = GraphPainter::plotArea(QRect(QPoint(), size));
    }
    int x(double hours) const { return geometry.timeToX(kMidnight + hours * kHour); }
    // A height at a charge of 10 %: no grid line, and below every line
    // drawn on this day.
    int low() const { return plot.bottom() - plot.height() / 10; }
    QRgb at(double hours) const { return image.pixel(x(hours), low()); }

    HistoryDay day = dayWithTwoSleepsAndACharge(kMidnight);
    QSize size{800, 300};
    QImage image;
    GraphPainter geometry;
    QRect plot;
};

TEST_F(RecordedGraph, SleepsAreShadedTheChargerInItsColourAndTheAwakeTimeIsNot)
{
    const QRgb base = QPalette().color(QPalette::Base).rgb();
    for (const double hours : {1.0, 3.5, 6.5, 20.5, 21.5})
        EXPECT_EQ(at(hours), shaded(GraphPainter::kSleepShade)) << hours << " h";
    for (const double hours : {12.25, 13.25})
        EXPECT_EQ(at(hours), shaded(GraphPainter::kChargerShade)) << hours << " h";
    for (const double hours : {8.5, 10.5, 14.5, 18.5, 23.5})
        EXPECT_EQ(at(hours), base) << hours << " h";
    EXPECT_NE(shaded(GraphPainter::kSleepShade), base);
    EXPECT_NE(shaded(GraphPainter::kChargerShade), shaded(GraphPainter::kSleepShade));
}

TEST_F(RecordedGraph, TheGapIsEmptyFromTopToBottomAndTheLinesAreDrawnElsewhere)
{
    const QColor base = QPalette().color(QPalette::Base);
    const auto lineIn = [&](int column, QColor line) {
        for (int y = plot.top() + 1; y < plot.bottom(); ++y)
            if (near(image.pixel(column, y), line))
                return true;
        return false;
    };
    // Hours; whether the charge line and the drain line are drawn there. Not
    // running from 15:00 to 17:00: neither, and no shade. On the charger
    // (12:45) and asleep (03:30) the charge goes on, the drain does not.
    for (const auto& [hours, charge, drain] :
         {std::tuple{15.5, false, false}, std::tuple{16.0, false, false}, std::tuple{16.5, false, false},
          std::tuple{10.0, true, true}, std::tuple{18.5, true, true}, std::tuple{12.75, true, false},
          std::tuple{3.5, true, false}}) {
        EXPECT_EQ(lineIn(x(hours), GraphPainter::kChargeLine), charge) << hours << " h";
        EXPECT_EQ(lineIn(x(hours), GraphPainter::kRateLine), drain) << hours << " h";
        if (!charge) {
            EXPECT_EQ(at(hours), base.rgb()) << hours << " h";
        }
    }
}

TEST_F(RecordedGraph, ThePointerGivesTheTimeTheChargeAndTheRateUnderIt)
{
    GraphPainter graph;
    GraphData data{[this](const SampleVisitor& visit) { day.eachSample(-1e300, 1e300, visit); }, day.sleeps, kMidnight,
                   kMidnight + 24 * kHour, RateUnit::Watts};
    graph.reduce(data, QRect(QPoint(), size));
    const QString awake = *graph.describe(x(10.0));
    // The time of the pointer's column, to the minute.
    const QDateTime when = QDateTime::fromString(awake.left(16), "yyyy-MM-dd HH:mm");
    ASSERT_TRUE(when.isValid()) << awake.toStdString();
    EXPECT_NEAR(double(when.toSecsSinceEpoch()), kMidnight + 10 * kHour, 120) << awake.toStdString();
    EXPECT_TRUE(awake.contains(QRegularExpression("  5[0-9]\\.[0-9]%  4\\.7 W$"))) << awake.toStdString();
    EXPECT_TRUE(graph.describe(x(16.0))->endsWith("not running"));
    EXPECT_TRUE(graph.describe(x(3.0))->contains("asleep"));
    EXPECT_TRUE(graph.describe(x(12.5))->contains("on the charger"));
    EXPECT_FALSE(graph.describe(plot.left() - 1));
    EXPECT_FALSE(graph.describe(plot.right() + 1));
}

// Pixels of text (dark, antialiased; darker than the grid) within a rectangle of the image.
int textPixelsIn(const QImage& image, const QRect& area)
{
    const int grid = qGray(QPalette().color(QPalette::Mid).rgb());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += qGray(image.pixel(x, y)) < grid - 40;
    return count;
}

TEST(Graph, NoHistoryIsAnEmptyGraphOfTheRangeThatSaysSoAndTheFileHasItsKey)
{
    const QSize size{400, 200};
    const QImage image = graphImage({}, "7d", RateUnit::PercentPerHour, size);
    ASSERT_FALSE(image.isNull());
    ASSERT_GT(image.height(), size.height()) << "a row for the key";
    const QRect plot = GraphPainter::plotArea(QRect(QPoint(), size));
    EXPECT_EQ(image.pixel(plot.left() + 2, plot.bottom() - plot.height() / 10), QPalette().color(QPalette::Base).rgb());
    // The words in the middle of the plot, the key below the graph; no text
    // above the captions' row, where a taller font was cut.
    EXPECT_GT(
        textPixelsIn(image, plot.adjusted(plot.width() / 4, plot.height() / 3, -plot.width() / 4, -plot.height() / 3)),
        20);
    EXPECT_GT(textPixelsIn(image, QRect(0, size.height(), size.width(), image.height() - size.height())), 20);
    EXPECT_EQ(textPixelsIn(image, QRect(0, 0, size.width(), 1)), 0);
}

class GraphWindowTest : public AppFixture {
protected:
    GraphWindowTest()
    {
        HistoryReader reader = readerOf(day, kMidnight + 24 * kHour);
        DischargeRecord older, newer;
        older.start = kMidnight - 3 * 86400;
        older.end = older.start + 5 * kHour;
        older.chargeAtStart = 1;
        older.chargeAtEnd = 0.6;
        older.averageMA = 412;
        newer = older;
        newer.start = kMidnight + 7 * kHour;
        newer.end = kMidnight + 12 * kHour;
        reader.discharges = [=] { return std::vector<DischargeRecord>{older, newer}; };
        desktop.window().setHistoryReader(reader);
        desktop.start();
    }
    QTabWidget& tabs() { return *desktop.window().findChild<QTabWidget*>("tabs"); }
    void show(const QString& tab)
    {
        for (int i = 0; i < tabs().count(); ++i)
            if (tabs().tabText(i) == tab)
                tabs().setCurrentIndex(i);
    }

    HistoryDay day = dayWithTwoSleepsAndACharge(kMidnight);
    DesktopApp desktop{*controller, "Drainwatch", store->path()};
};

TEST_F(GraphWindowTest, TheGraphTabFollowsTheRangeAndShowWatts)
{
    QStringList names;
    for (int i = 0; i < tabs().count(); ++i)
        names << tabs().tabText(i);
    EXPECT_EQ(names, QStringList({"Battery", "Graph", "Sleeps", "Discharges", "Health", "Apps"}));
    show("Graph");
    GraphPane& pane = desktop.window().graphPane();
    pane.view().resize(800, 300);
    const auto under = [&](double hours) {
        const GraphPainter& graph = pane.view().painter();
        return graph.describe(graph.timeToX(kMidnight + hours * kHour)).value_or("(outside)");
    };
    EXPECT_TRUE(under(10).endsWith("8.0 %/h")) << under(10).toStdString();
    desktop.window().findChild<QCheckBox*>("useWattsCheckbox")->setChecked(true);
    EXPECT_TRUE(under(10).endsWith("4.7 W")) << under(10).toStdString();

    // 6 hours back from midnight: 10:00 is outside, 22:30 inside.
    pane.findChild<QComboBox*>("graphRange")->setCurrentIndex(0);
    EXPECT_EQ(under(10), "(outside)");
    EXPECT_TRUE(under(22.5).endsWith("4.7 W")) << under(22.5).toStdString();
}

TEST_F(GraphWindowTest, DischargesAreNewestFirstAndHealthWaitsForThirtyDays)
{
    show("Discharges");
    auto* table = desktop.window().findChild<QTableWidget*>("dischargesTable");
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 0)->text(),
              QDateTime::fromSecsSinceEpoch(qint64(kMidnight + 7 * kHour)).toString("MM-dd HH:mm"));
    EXPECT_EQ(table->item(0, 0)->toolTip(),
              QDateTime::fromSecsSinceEpoch(qint64(kMidnight + 7 * kHour)).toString("yyyy-MM-dd HH:mm"));
    EXPECT_EQ(table->item(0, 1)->text(),
              QDateTime::fromSecsSinceEpoch(qint64(kMidnight + 12 * kHour)).toString("HH:mm"))
        << "on the day of the start, the time alone";
    EXPECT_EQ(table->item(1, 4)->text(), QStringLiteral("100.0% → 60.0%"));
    EXPECT_EQ(table->item(1, 6)->text(), "412 mA");
    EXPECT_EQ(table->item(1, 5)->text(), "0.0%");

    show("Health");
    const QString health = desktop.window().findChild<QLabel*>("healthTrendLabel")->text();
    EXPECT_TRUE(health.contains("Full charge 5000 mAh of 5500 mAh design: 90.9%")) << health.toStdString();
    EXPECT_TRUE(health.contains("Cycle count: 120"));
    EXPECT_TRUE(health.contains("needs 30 days of history; there are 0 so far")) << health.toStdString();
}

} // namespace
} // namespace drainwatch::test

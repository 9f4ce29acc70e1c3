// SPDX-License-Identifier: MIT
// The window's Apps tab and the discharges' largest applications, on
// recorded activity and a model of known watts.
#include "support/AppFixture.h"

#include "desktop/DesktopApp.h"

#include <QtWidgets>

#include <filesystem>
#include <fstream>

namespace drainwatch::test {
namespace {

struct RecordedSpan {
    double start = 0;
    ActivityInterval interval;
    double measuredWh = 0;
};

ActivityUse app(const std::string& name, double cpuSeconds, const std::string& icon = "")
{
    return ActivityUse{name, name, icon, ActivityKind::App, cpuSeconds, std::nullopt};
}

// 4 W at rest, 5 W a busy core, 6 W the screen at full brightness.
PowerModel learnedModel()
{
    PowerModel model;
    model.baseW = 4;
    model.cpuW = 5;
    model.screenW = 6;
    model.r2 = 0.93;
    model.heldOutErrorW = 0.41;
    model.minutes = 300;
    return model;
}

class AppsTabTest : public AppFixture {
protected:
    AppsTabTest()
    {
        // The uses in no order: the learning table sorts them itself.
        RecordedSpan lastHalfHour{now - 1800, {}, 10};
        lastHalfHour.interval.seconds = 1800;
        lastHalfHour.interval.uses = {app("Editor", 360), app("Firefox", 1800, "drainwatch-test-firefox"),
                                      app("Builder", 720)};
        lastHalfHour.interval.screenSeconds = 1800;
        RecordedSpan daysAgo{now - 3 * 86400, {}, 30};
        daysAgo.interval.seconds = 3600;
        daysAgo.interval.uses = {app("<b>markup</b>\nand a newline", 3600)};
        spans = {lastHalfHour, daysAgo};

        // A theme of one icon, where fromTheme finds the name a .desktop file gave.
        const std::filesystem::path theme = home.path() / "icons" / "drainwatch-test";
        std::filesystem::create_directories(theme / "16x16" / "apps");
        std::ofstream(theme / "index.theme") << "[Icon Theme]\nName=drainwatch-test\nDirectories=16x16/apps\n\n"
                                                "[16x16/apps]\nSize=16\nType=Fixed\n";
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        icon.save(QString::fromStdString((theme / "16x16" / "apps" / "drainwatch-test-firefox.png").string()));
        themePaths = QIcon::themeSearchPaths();
        themeName = QIcon::themeName();
        QIcon::setThemeSearchPaths({QString::fromStdString((home.path() / "icons").string())});
        QIcon::setThemeName("drainwatch-test");

        HistoryReader reader;
        reader.now = [this] { return now; };
        reader.activity = [this](double since, double until) {
            SpanActivity span;
            for (const RecordedSpan& s : spans)
                if (s.start >= since && s.start < until)
                    addInterval(span, s.interval, s.measuredWh);
            return span;
        };
        reader.model = [this] { return model; };
        reader.unpluggedAt = [this] { return unpluggedAt; };
        reader.discharges = [this] { return discharges; };
        desktop.window().setHistoryReader(reader);
        desktop.start();
    }

    ~AppsTabTest() override
    {
        QIcon::setThemeSearchPaths(themePaths);
        QIcon::setThemeName(themeName);
    }

    QTabWidget& tabs() { return *desktop.window().findChild<QTabWidget*>("tabs"); }
    void show(const QString& tab)
    {
        // Away and back: the tab reads when it is shown.
        tabs().setCurrentIndex(0);
        for (int i = 0; i < tabs().count(); ++i)
            if (tabs().tabText(i) == tab)
                tabs().setCurrentIndex(i);
    }
    QTableWidget& table(const char* name) { return *desktop.window().findChild<QTableWidget*>(name); }
    QString label(const char* name) { return desktop.window().findChild<QLabel*>(name)->text(); }
    void choose(const QString& span)
    {
        auto* choice = desktop.window().findChild<QComboBox*>("appsSpanChoice");
        choice->setCurrentIndex(choice->findText(span));
    }
    // Each row's cells, joined by " | ".
    QStringList rows(QTableWidget& t)
    {
        QStringList all;
        for (int r = 0; r < t.rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < t.columnCount(); ++c)
                cells << (t.item(r, c) ? t.item(r, c)->text() : QString());
            all << cells.join(" | ");
        }
        return all;
    }

    double now = double(QDateTime(QDate(2027, 1, 15), QTime(15, 0)).toSecsSinceEpoch());
    QStringList themePaths;
    QString themeName;
    std::vector<RecordedSpan> spans;
    PowerModel model = learnedModel();
    std::optional<double> unpluggedAt = now - 2 * 3600;
    std::vector<DischargeRecord> discharges;
    DesktopApp desktop{*controller, "Drainwatch", store->path()};
};

TEST_F(AppsTabTest, ALearnedModelGivesEachApplicationItsEnergyAndTheRowsAddUpToTheBattery)
{
    show("Apps");
    EXPECT_EQ(rows(table("appsTable")), QStringList({
                                            "Firefox | 2.50 Wh | 25.0% | 5.00 W | 0:30:00",
                                            "Builder | 1.00 Wh | 10.0% | 2.00 W | 0:12:00",
                                            "Editor | 0.50 Wh | 5.0% | 1.00 W | 0:06:00",
                                            "Screen | 3.00 Wh | 30.0% | 6.00 W | ",
                                            "Base | 2.00 Wh | 20.0% | 4.00 W | ",
                                            "Unexplained | 1.00 Wh | 10.0% | 2.00 W | ",
                                        }));
    EXPECT_EQ(label("appsQualityLabel"), "model of this laptop: R² 0.93, held-out error 0.41 W, 300 minutes");
    // The icon where the application named one, none elsewhere.
    EXPECT_FALSE(table("appsTable").item(0, 0)->icon().isNull());
    EXPECT_TRUE(table("appsTable").item(1, 0)->icon().isNull());
    EXPECT_TRUE(table("appsTable").item(3, 0)->icon().isNull());
}

TEST_F(AppsTabTest, WhileTheModelLearnsTheApplicationsHaveTheirCpuTimeAloneAndTheWordsSayWhy)
{
    model = PowerModel{};
    model.minutes = 40;
    show("Apps");
    EXPECT_EQ(rows(table("appsTable")), QStringList({
                                            "Firefox | — | — | — | 0:30:00",
                                            "Builder | — | — | — | 0:12:00",
                                            "Editor | — | — | — | 0:06:00",
                                        }));
    EXPECT_EQ(label("appsQualityLabel"), "learning this laptop: 40 of 120 minutes");
}

TEST_F(AppsTabTest, TheSpanChoiceChangesTheRowsAndSinceUnpluggingOnAcSaysSo)
{
    show("Apps");
    choose("7 days");
    QStringList seven = rows(table("appsTable"));
    ASSERT_EQ(seven.size(), 7);
    // 3600 s of CPU at 5 W over the 1.5 h awake: 5 Wh of 40, 3.33 W.
    EXPECT_EQ(seven[0], "<b>markup</b>and a newline | 5.00 Wh | 12.5% | 3.33 W | 1:00:00");
    EXPECT_EQ(seven[1], "Firefox | 2.50 Wh | 6.3% | 1.67 W | 0:30:00");
    EXPECT_TRUE(seven[6].startsWith("Unexplained | 22.00 Wh | 55.0%")) << seven[6].toStdString();

    choose("Today");
    EXPECT_EQ(table("appsTable").rowCount(), 6) << "three days ago is not today";
    choose("Since unplugging");
    EXPECT_EQ(table("appsTable").rowCount(), 6);
    EXPECT_TRUE(desktop.window().findChild<QLabel*>("appsNoteLabel")->isHidden());

    unpluggedAt = std::nullopt;
    show("Apps");
    EXPECT_EQ(table("appsTable").rowCount(), 0);
    EXPECT_FALSE(desktop.window().findChild<QLabel*>("appsNoteLabel")->isHidden());
    EXPECT_TRUE(label("appsNoteLabel").startsWith("On AC")) << label("appsNoteLabel").toStdString();

    // An hour on, the half hour has left the last hour: nothing, not a base of 0 Wh.
    now += 3600;
    choose("Last hour");
    EXPECT_EQ(table("appsTable").rowCount(), 0);
    EXPECT_FALSE(desktop.window().findChild<QLabel*>("noAppsLabel")->isHidden());
}

TEST_F(AppsTabTest, AMachineGivenNameIsPlainTextOnOneLine)
{
    show("Apps");
    choose("7 days");
    QTableWidget& apps = table("appsTable");
    ASSERT_GT(apps.rowCount(), 0);
    EXPECT_EQ(apps.item(0, 0)->text(), "<b>markup</b>and a newline");
    // An item is drawn as its text; no cell holds a label that could read markup.
    EXPECT_EQ(apps.cellWidget(0, 0), nullptr);
    for (const char* name : {"appsQualityLabel", "appsNoteLabel"})
        EXPECT_EQ(desktop.window().findChild<QLabel*>(name)->textFormat(), Qt::PlainText) << name;
}

TEST_F(AppsTabTest, EachDischargeNamesItsThreeLargestApplications)
{
    DischargeRecord recent;
    recent.start = now - 2 * 3600;
    recent.end = now;
    DischargeRecord older = recent;
    older.start = now - 3 * 86400 - 600;
    older.end = now - 3 * 86400 + 7200;
    DischargeRecord quiet = recent;
    quiet.start = now - 5 * 86400;
    quiet.end = now - 5 * 86400 + 3600;
    discharges = {quiet, older, recent};
    spans[0].interval.uses.push_back(app("Shell", 60));
    show("Discharges");
    QTableWidget& t = table("dischargesTable");
    const int largest = t.columnCount() - 1;
    ASSERT_EQ(t.horizontalHeaderItem(largest)->text(), "Largest");
    ASSERT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.item(0, largest)->text(), "Firefox, Builder, Editor") << "three of four, by energy";
    EXPECT_EQ(t.item(1, largest)->text(), "<b>markup</b>and a newline");
    EXPECT_EQ(t.item(2, largest)->text(), "-") << "nothing recorded";

    // While learning, by CPU time, whatever order the uses come in.
    model = PowerModel{};
    spans[0].interval.uses = {app("Shell", 60), app("Editor", 360), app("Builder", 720), app("Firefox", 1800)};
    show("Discharges");
    EXPECT_EQ(t.item(0, largest)->text(), "Firefox, Builder, Editor");
}

} // namespace
} // namespace drainwatch::test

// SPDX-License-Identifier: MIT
#include "support/AppFixture.h"

#include "terminal/Follower.h"
#include "terminal/TerminalFrontEnd.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <clocale>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace drainwatch::test {
namespace {

// The front end's output: a temporary file, read back from its start.
struct Output {
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { std::fclose(file); }

    std::string str() const
    {
        std::fflush(file);
        std::string text;
        char buffer[4096];
        for (ssize_t count; (count = ::pread(fileno(file), buffer, sizeof buffer, off_t(text.size()))) > 0;)
            text.append(buffer, std::size_t(count));
        return text;
    }
    // From now on every write fails, as when the reader has gone away.
    void lose()
    {
        const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        ASSERT_GE(full, 0);
        ASSERT_GE(::dup2(full, fileno(file)), 0);
        ::close(full);
    }

    std::FILE* file = std::tmpfile();
};

class TerminalFrontEndTest : public AppFixture {
protected:
    QStringList lines() const { return QString::fromStdString(out.str()).split('\n', Qt::SkipEmptyParts); }
    static QJsonObject parse(const QString& line) { return QJsonDocument::fromJson(line.toUtf8()).object(); }

    Output out;
};

TEST_F(TerminalFrontEndTest, BlocksOnePerTickThenALostStreamIsReportedAndStopSavesOnce)
{
    TerminalFrontEnd frontEnd(*controller, out.file, TerminalFrontEnd::Format::Blocks);
    frontEnd.start();
    battery.set("CurrentCapacity", std::int64_t{4250});
    tick();
    EXPECT_NE(out.str().find("  Health  96.2% (5000mAh of 5200mAh)\n\nAwake on battery  "), std::string::npos)
        << "one block for the start and one for the tick, a blank line between";
    const QStringList all = lines();
    ASSERT_EQ(all.size(), 18);
    EXPECT_EQ(all[14], "      Charge now  85.0%");
    for (const QString& line : all)
        EXPECT_EQ(line.indexOf("  ", 14), 16) << line.toStdString();
    EXPECT_EQ(out.str().find('\x1b'), std::string::npos) << "no terminal codes into a file";

    int lost = 0;
    frontEnd.outputLost = [&] { ++lost; };
    out.lose();
    tick();
    EXPECT_EQ(lost, 1);
    frontEnd.stop();
    frontEnd.stop();
    EXPECT_EQ(quits(), 1);
    EXPECT_DOUBLE_EQ(QSettingsPreferenceStore().doubleForKey("batteryUsage.lastHeartBeat"), clock.now());
    tick();
    EXPECT_EQ(lost, 1) << "nothing written after the stop";
}

TEST_F(TerminalFrontEndTest, JsonLinesCarryTheNineTextsAndTheFiguresWhateverTheLocale)
{
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    TerminalFrontEnd frontEnd(*controller, out.file, TerminalFrontEnd::Format::Json);
    frontEnd.start();
    runFor(600);
    battery.set("CurrentCapacity", std::int64_t{4250});
    tick();
    std::setlocale(LC_ALL, "C");
    if (!german)
        std::cerr << "de_DE.UTF-8 not installed: the locale part of this test did not run\n";

    const QStringList all = lines();
    ASSERT_EQ(all.size(), 122);
    for (const QString& line : all)
        EXPECT_EQ(parse(line).size(), 19) << line.toStdString();
    const QJsonObject last = parse(all.back());
    EXPECT_EQ(last["currentChargeLabel"].toString(), "85.0%");
    EXPECT_DOUBLE_EQ(last["charge"].toDouble(), 0.85);
    EXPECT_DOUBLE_EQ(last["currentMA"].toDouble(), 1250);
    for (const char* rate : {"ratePerHour", "recentPerHour", "averagePerHour"})
        EXPECT_DOUBLE_EQ(last[rate].toDouble(), 25) << rate;
}

TEST_F(TerminalFrontEndTest, JsonWithoutABatteryHasNullsAndTextsAreEscaped)
{
    battery.clear();
    TerminalFrontEnd frontEnd(*controller, out.file, TerminalFrontEnd::Format::Json);
    frontEnd.start();
    const QJsonObject first = parse(lines().value(0));
    for (const char* figure : {"charge", "currentMA", "ratePerHour", "recentPerHour", "averagePerHour", "lastSleep"})
        EXPECT_TRUE(first[figure].isNull()) << figure;
    controller->healthLabel->setText("a \"quoted\"\\path\twith\ncontrols");
    EXPECT_EQ(parse(QString::fromStdString(frontEnd.jsonLine()))["healthLabel"].toString(),
              "a \"quoted\"\\path\twith\ncontrols");
}

// A 45-column terminal, then a 24-column one: no line longer than the
// terminal, the long consumption text wrapped under itself, each redraw
// going back over exactly the lines the last one wrote.
TEST_F(TerminalFrontEndTest, RedrawnBlocksFitTheTerminalAndAResizeDrawsTheScreenAnew)
{
    TerminalFrontEnd frontEnd(*controller, out.file, TerminalFrontEnd::Format::Redraw);
    frontEnd.setColumns(45);
    frontEnd.start();
    runFor(60);
    const auto blocks = [&] {
        std::vector<QStringList> found;
        for (const QString& block : QString::fromStdString(out.str()).split(QRegularExpression("\x1b\\[(\\d+A|H)"))) {
            QStringList lines;
            for (QString line : block.split('\n', Qt::SkipEmptyParts)) {
                line.remove(QRegularExpression("\r|\x1b\\[2?[KJ]"));
                if (!line.isEmpty())
                    lines << line;
            }
            if (!lines.isEmpty())
                found.push_back(lines);
        }
        return found;
    };
    std::vector<QStringList> shown = blocks();
    ASSERT_EQ(shown.size(), 13u);
    const QStringList last = shown.back();
    EXPECT_EQ(last.size(), 10) << last.join('\n').toStdString();
    EXPECT_EQ(last.value(2), "     Consumption  25.0 %/h (25.0 %/h recent,");
    EXPECT_EQ(last.value(3), "                  25.0 %/h avg)");
    EXPECT_EQ(shown[shown.size() - 2].size(), 10);
    EXPECT_NE(out.str().rfind("\x1b[10A"), std::string::npos) << "back over the ten lines written";
    for (const QStringList& block : shown)
        for (const QString& line : block)
            ASSERT_LE(line.size(), 45) << line.toStdString();

    frontEnd.setColumns(24);
    shown = blocks();
    ASSERT_EQ(shown.size(), 14u);
    EXPECT_NE(out.str().find("\x1b[H\x1b[J"), std::string::npos) << "the resize clears the screen";
    EXPECT_EQ(shown.back().size(), 9) << "too narrow to wrap: cut at the edge";
    for (const QString& line : shown.back())
        EXPECT_LE(line.size(), 24) << line.toStdString();
    EXPECT_EQ(shown.back().value(8), "          Health  96.2% ");

    frontEnd.setColumns(0);
    tick();
    EXPECT_EQ(blocks().back().value(2), "     Consumption  25.0 %/h (25.0 %/h recent, 25.0 %/h avg)")
        << "unknown width: no limit";
}

TEST_F(TerminalFrontEndTest, JsonCarriesTheLastSleepFromTheTickThatEndedIt)
{
    trackSleeps();
    TerminalFrontEnd frontEnd(*controller, out.file, TerminalFrontEnd::Format::Json);
    frontEnd.start();
    tick();
    EXPECT_TRUE(parse(lines().back())["lastSleep"].isNull());

    suspend(1, 4450);
    const QJsonObject record = parse(lines().back())["lastSleep"].toObject();
    EXPECT_EQ(record["how"].toString(), "suspend");
    EXPECT_DOUBLE_EQ(record["asleepSeconds"].toDouble(), 3600);
    EXPECT_NEAR(record["ratePerHour"].toDouble(), 1.0, 1e-9);
    EXPECT_TRUE(record["mode"].isNull());
    EXPECT_EQ(record.keys().size(), 19);
    EXPECT_EQ(ledger.records().size(), 1u);
}

// A terminal beside a running monitor draws what that monitor's own
// terminal would: the same block from its JSON line, fitted to the width,
// and drawn anew after a resize.
TEST_F(TerminalFrontEndTest, AFollowerDrawsTheFrontEndsBlockFittedToItsTerminal)
{
    TerminalFrontEnd frontEnd(*controller, out.file, TerminalFrontEnd::Format::Redraw);
    frontEnd.setColumns(34);
    // The JSON line of every block the front end drew, as the monitor's
    // socket would carry it.
    std::string lines, line;
    controller->displayUpdated = [&, render = controller->displayUpdated] {
        const std::size_t shown = out.str().size();
        render();
        if (out.str().size() != shown)
            lines += line = frontEnd.jsonLine() + '\n';
    };
    frontEnd.start();
    runFor(60);

    Output followed;
    Follower follower(followed.file, TerminalFrontEnd::Format::Redraw);
    int columns = 34;
    follower.columns = [&columns] { return columns; };
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], lines.data(), lines.size()), ssize_t(lines.size()));
    ::close(ends[1]);
    EXPECT_EQ(follower.run(ends[0]), Follower::End::MonitorEnded);
    EXPECT_EQ(followed.str(), out.str());
    EXPECT_NE(out.str().find("     Consumption  25.0 %/h (25.0\n"), std::string::npos) << "wrapped: " << out.str();

    columns = 60;
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], line.data(), line.size()), ssize_t(line.size()));
    ::close(ends[1]);
    const std::size_t before = followed.str().size();
    EXPECT_EQ(follower.run(ends[0]), Follower::End::MonitorEnded);
    const std::string redrawn = followed.str().substr(before);
    EXPECT_TRUE(redrawn.starts_with("\x1b[H\x1b[J")) << "a resize clears the screen";
    EXPECT_NE(redrawn.find("     Consumption  25.0 %/h (25.0 %/h recent, 25.0 %/h avg)\n"), std::string::npos)
        << redrawn;
}

} // namespace
} // namespace drainwatch::test

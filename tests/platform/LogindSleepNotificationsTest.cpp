// SPDX-License-Identifier: MIT
#include "platform/LogindSleepNotifications.h"

#include "platform/LogindLidSource.h"
#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <QStandardPaths>
#include <QTest>

#include <systemd/sd-bus.h>

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";
const QString kNoLogind = QStringLiteral("Drainwatch: no logind on the system bus (");
const QString kGapsOnly = QStringLiteral("); sleep is detected from gaps between ticks only.");

// The test's own connection to the bus that stands in for the system bus:
// it asks and tells logind (python-dbusmock) what the test needs.
class Observer {
public:
    explicit Observer(const QString& address)
    {
        const QByteArray text = address.toUtf8();
        if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, text.constData()) < 0 ||
            sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0)
            ADD_FAILURE() << "cannot connect to " << text.constData();
    }
    ~Observer() { sd_bus_flush_close_unref(bus_); }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    bool logindThere()
    {
        Reply reply;
        int owned = 0;
        return sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  "NameHasOwner", &reply.error, &reply.message, "s", kLogind) >= 0 &&
               sd_bus_message_read(reply.message, "b", &owned) > 0 && owned;
    }

    // "what|who|why|mode" of each lock logind holds, comma-separated.
    QString locks()
    {
        Reply reply;
        if (sd_bus_call_method(bus_, kLogind, kLogindPath, kManager, "ListInhibitors", &reply.error, &reply.message,
                               "") < 0 ||
            sd_bus_message_enter_container(reply.message, 'a', "(ssssuu)") < 0)
            return QStringLiteral("(ListInhibitors failed: %1)").arg(reply.error.message);
        QStringList locks;
        while (sd_bus_message_enter_container(reply.message, 'r', "ssssuu") > 0) {
            const char *what, *who, *why, *mode;
            std::uint32_t uid, pid;
            sd_bus_message_read(reply.message, "ssssuu", &what, &who, &why, &mode, &uid, &pid);
            sd_bus_message_exit_container(reply.message);
            locks << QStringList{what, who, why, mode}.join('|');
        }
        return locks.join(',');
    }

    void prepareForSleep(bool start)
    {
        Reply reply;
        sd_bus_message* call = nullptr;
        const bool sent = sd_bus_message_new_method_call(bus_, &call, kLogind, kLogindPath, kMock, "EmitSignal") >= 0 &&
                          sd_bus_message_append(call, "sss", kManager, "PrepareForSleep", "b") >= 0 &&
                          sd_bus_message_open_container(call, 'a', "v") >= 0 &&
                          sd_bus_message_append(call, "v", "b", int(start)) >= 0 &&
                          sd_bus_message_close_container(call) >= 0 &&
                          sd_bus_call(bus_, call, 0, &reply.error, &reply.message) >= 0;
        sd_bus_message_unref(call);
        EXPECT_TRUE(sent) << "PrepareForSleep(" << start << "): " << (reply.error.message ? reply.error.message : "");
    }

    // Replaces logind's Inhibit with Python code run in the mock.
    void replaceInhibit(const char* code)
    {
        Reply reply;
        EXPECT_GE(sd_bus_call_method(bus_, kLogind, kLogindPath, kMock, "AddMethod", &reply.error, &reply.message,
                                     "sssss", kManager, "Inhibit", "ssss", "h", code),
                  0)
            << (reply.error.message ? reply.error.message : "");
    }

    // Adds a flag to logind's Manager, which the template leaves out.
    void addFlag(const char* name, bool value)
    {
        Reply reply;
        EXPECT_GE(sd_bus_call_method(bus_, kLogind, kLogindPath, kMock, "AddProperty", &reply.error, &reply.message,
                                     "ssv", kManager, name, "b", int(value)),
                  0)
            << name << ": " << (reply.error.message ? reply.error.message : "");
    }

    // As logind sets it: the mock's Set emits PropertiesChanged.
    void setFlag(const char* name, bool value)
    {
        Reply reply;
        EXPECT_GE(sd_bus_set_property(bus_, kLogind, kLogindPath, kManager, name, &reply.error, "b", int(value)), 0)
            << name << ": " << (reply.error.message ? reply.error.message : "");
    }

    // A PropertiesChanged of the Manager's LidClosed alone, whatever the
    // property holds: with a value, or invalidated without one.
    void signalLidClosed(std::optional<bool> value)
    {
        Reply reply;
        sd_bus_message* call = nullptr;
        bool sent = sd_bus_message_new_method_call(bus_, &call, kLogind, kLogindPath, kMock, "EmitSignal") >= 0 &&
                    sd_bus_message_append(call, "sss", "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                          "sa{sv}as") >= 0 &&
                    sd_bus_message_open_container(call, 'a', "v") >= 0 &&
                    sd_bus_message_append(call, "v", "s", kManager) >= 0 &&
                    sd_bus_message_open_container(call, 'v', "a{sv}") >= 0 &&
                    sd_bus_message_open_container(call, 'a', "{sv}") >= 0;
        if (value)
            sent = sent && sd_bus_message_append(call, "{sv}", "LidClosed", "b", int(*value)) >= 0;
        sent = sent && sd_bus_message_close_container(call) >= 0 && sd_bus_message_close_container(call) >= 0;
        if (value)
            sent = sent && sd_bus_message_append(call, "v", "as", 0) >= 0;
        else
            sent = sent && sd_bus_message_append(call, "v", "as", 1, "LidClosed") >= 0;
        sent = sent && sd_bus_message_close_container(call) >= 0 &&
               sd_bus_call(bus_, call, 0, &reply.error, &reply.message) >= 0;
        sd_bus_message_unref(call);
        EXPECT_TRUE(sent) << "PropertiesChanged: " << (reply.error.message ? reply.error.message : "");
    }

private:
    struct Reply {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* message = nullptr;
        ~Reply()
        {
            sd_bus_message_unref(message);
            sd_bus_error_free(&error);
        }
    };
    sd_bus* bus_ = nullptr;
};

// Without a bus, and on a bus of the test's own as the system bus, first
// without logind and then with python-dbusmock playing it: granting the lock,
// then refusing it.
TEST(LogindSleepNotificationsTest, SaysSoOnceWithoutLogindAndHoldsTheDelayLockOnlyUntilWillSleepHasRun)
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/drainwatch-test-bus");
    test::StderrCapture stderrLines;
    EXPECT_FALSE(LogindSleepNotifications().connectToSystemBus());
    const QStringList lines = stderrLines.lines();
    EXPECT_TRUE(lines.size() == 1 && lines[0].startsWith(kNoLogind) && lines[0].endsWith(kGapsOnly))
        << lines.join('\n').toStdString();

    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty() ||
        QProcess::execute("/usr/bin/python3", {"-c", "import dbusmock"}) != 0)
        GTEST_SKIP() << "needs dbus-daemon and python-dbusmock (Debian packages dbus, python3-dbusmock)";
    test::ChildProcess daemon, logind;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    const QString address = test::readLine(daemon);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLocal8Bit());
    EXPECT_FALSE(LogindSleepNotifications().connectToSystemBus());
    EXPECT_EQ(stderrLines.lines(), QStringList{kNoLogind + "org.freedesktop.login1 is not there" + kGapsOnly});

    logind.start("/usr/bin/python3", {"-m", "dbusmock", "--system", "--template", "logind"});
    Observer bus(address);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus.logindThere(); }, test::kHangMs));

    auto notifications = std::make_unique<LogindSleepNotifications>();
    QStringList events; // each with whether the lock was held, and the locks logind held
    auto record = [&](const char* event) {
        events << QString(event) + (notifications->holdsInhibitor() ? " held " : " ") + bus.locks();
    };
    notifications->subscribe([&] { record("willSleep"); }, [&] { record("didWake"); });
    ASSERT_TRUE(notifications->connectToSystemBus());
    const QString ourLock = "sleep|Drainwatch|Saves the battery count before the machine sleeps|delay";
    EXPECT_EQ(bus.locks(), ourLock);

    bus.prepareForSleep(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 1; }, test::kHangMs));
    EXPECT_EQ(events[0], "willSleep held " + ourLock);
    EXPECT_FALSE(notifications->holdsInhibitor());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.locks().isEmpty(); }, test::kHangMs))
        << "every copy of the lock is closed";

    bus.prepareForSleep(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 2; }, test::kHangMs));
    EXPECT_EQ(events[1], "didWake held " + ourLock);
    notifications.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.locks().isEmpty(); }, test::kHangMs)) << "released at the end";
    EXPECT_EQ(stderrLines.lines(), QStringList());

    // A refused lock is said once and sleep is told all the same, also when
    // the word comes while the program waits for logind's answer; the next
    // lock is granted (outside logind's list), and a lost bus lets go of it.
    bus.replaceInhibit("if not getattr(self, 'told', False):\n"
                       "    self.told = True\n"
                       "    self.EmitSignal('org.freedesktop.login1.Manager', 'PrepareForSleep', 'b', [True])\n"
                       "    raise dbus.exceptions.DBusException('Permission denied', "
                       "name='org.freedesktop.DBus.Error.AccessDenied')\n"
                       "self.lock, granted = os.pipe()\n"
                       "ret = dbus.types.UnixFd(granted)\n"
                       "os.close(granted)\n");
    events.clear();
    notifications = std::make_unique<LogindSleepNotifications>();
    notifications->subscribe([&] { record("willSleep"); }, [&] { record("didWake"); });
    ASSERT_TRUE(notifications->connectToSystemBus());
    EXPECT_FALSE(notifications->holdsInhibitor());
    EXPECT_EQ(stderrLines.lines(), QStringList{"Drainwatch: logind gives no sleep delay lock (Permission denied); "
                                               "the count may not be saved just before a sleep."});
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 1; }, test::kHangMs));
    EXPECT_EQ(events[0], "willSleep ");
    bus.prepareForSleep(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 2; }, test::kHangMs));
    EXPECT_EQ(events[1], "didWake held ");
    EXPECT_EQ(stderrLines.lines(), QStringList());

    daemon.kill();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notifications->holdsInhibitor(); }, test::kHangMs));
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

// Without a /proc lid: LidClosed follows logind's signals, asked only when
// nothing is known; Docked is asked at the closing and then at most every
// 30 s of the clock while the lid stays closed.
TEST(LogindLidSourceTest, KeepsLidClosedFromTheSignalsAndAsksDockedAtTheClosingAndEvery30s)
{
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty() ||
        QProcess::execute("/usr/bin/python3", {"-c", "import dbusmock"}) != 0)
        GTEST_SKIP() << "needs dbus-daemon and python-dbusmock (Debian packages dbus, python3-dbusmock)";
    test::ChildProcess daemon, logind;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    const QString address = test::readLine(daemon);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLocal8Bit());
    logind.start("/usr/bin/python3", {"-m", "dbusmock", "--system", "--template", "logind"});
    Observer bus(address);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus.logindThere(); }, test::kHangMs));
    bus.addFlag("LidClosed", false);
    bus.addFlag("Docked", true);

    LogindSleepNotifications notifications;
    ASSERT_TRUE(notifications.connectToSystemBus());
    test::FakeClock clock;
    LogindLidSource lid("/nonexistent/drainwatch-proc", notifications, clock);
    const auto closedNow = [&](bool closed) {
        return QTest::qWaitFor([&] { return lid.read().closed == closed; }, test::kHangMs);
    };
    EXPECT_EQ(lid.read().closed, false);
    EXPECT_FALSE(lid.read().docked) << "an open lid is not docked";

    // Only the signal says closed: the property still says open.
    bus.signalLidClosed(true);
    ASSERT_TRUE(closedNow(true));
    EXPECT_TRUE(lid.read().docked);
    bus.setFlag("Docked", false);
    clock.advance(29);
    EXPECT_TRUE(lid.read().docked) << "asked again only after 30 s";
    clock.advance(1);
    EXPECT_FALSE(lid.read().docked);
    bus.setFlag("Docked", true);
    clock.advance(-60);
    EXPECT_TRUE(lid.read().docked) << "a clock set back asks again";

    // Set as logind does, with its signal; a new closing asks Docked at once.
    bus.setFlag("LidClosed", false);
    ASSERT_TRUE(closedNow(false));
    bus.setFlag("Docked", false);
    bus.setFlag("LidClosed", true);
    ASSERT_TRUE(closedNow(true));
    EXPECT_FALSE(lid.read().docked);

    // A signal that invalidates LidClosed has the property asked again.
    bus.signalLidClosed(false);
    ASSERT_TRUE(closedNow(false));
    bus.signalLidClosed(std::nullopt);
    EXPECT_TRUE(closedNow(true)) << "the property says closed";

    // Without the bus nothing is known.
    daemon.kill();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lid.read().closed; }, test::kHangMs));
}

} // namespace
} // namespace drainwatch

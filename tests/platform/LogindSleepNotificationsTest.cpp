#include "platform/LogindSleepNotifications.h"

#include "platform/PlatformTestSupport.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kNoLogind = QStringLiteral("Drainwatch: no logind on the system bus (");
const QString kGapsOnly = QStringLiteral("); sleep is detected from gaps between ticks only.");

// "what|who|why|mode" of each lock in a reply to ListInhibitors.
QString locks(const QDBusMessage& reply)
{
    const auto list = qvariant_cast<QDBusArgument>(reply.arguments().value(0));
    QStringList locks;
    list.beginArray();
    for (QString what, who, why, mode; !list.atEnd();) {
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        locks << QStringList{what, who, why, mode}.join('|');
    }
    return locks.join(',');
}

// Without a bus, and on a bus of the test's own as the system bus, first
// without logind and then with python-dbusmock playing it.
TEST(LogindSleepNotificationsTest, SaysSoOnceWithoutLogindAndHoldsTheDelayLockOnlyUntilWillSleepHasRun)
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/drainwatch-test-bus");
    test::StderrCapture stderrLines;
    EXPECT_FALSE(LogindSleepNotifications().connectToSystemBus());
    const QStringList lines = stderrLines.lines();
    EXPECT_TRUE(lines.size() == 1 && lines[0].startsWith(kNoLogind) && lines[0].endsWith(kGapsOnly)) << lines.join('\n').toStdString();

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
    const QDBusConnection bus = QDBusConnection::connectToBus(address, "observer");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bus.interface()->isServiceRegistered(kLogind).value(); }, 15000));
    auto logindCall = [](const QString& interface, const QString& method) {
        return QDBusMessage::createMethodCall(kLogind, "/org/freedesktop/login1", interface, method);
    };
    auto prepareForSleep = [&](bool start) {
        bus.call(logindCall("org.freedesktop.DBus.Mock", "EmitSignal") << kManager << "PrepareForSleep" << "b" << QVariantList{start});
    };
    auto held = [&] { return locks(bus.call(logindCall(kManager, "ListInhibitors"))); };

    auto notifications = std::make_unique<LogindSleepNotifications>();
    QStringList events; // each with whether the lock was held, and the locks logind held
    auto record = [&](const char* event) { events << QString(event) + (notifications->holdsInhibitor() ? " held " : " ") + held(); };
    notifications->subscribe([&] { record("willSleep"); }, [&] { record("didWake"); });
    ASSERT_TRUE(notifications->connectToSystemBus());
    const QString ourLock = "sleep|Drainwatch|Saves the battery count before the machine sleeps|delay";
    EXPECT_EQ(held(), ourLock);

    prepareForSleep(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 1; }, 5000));
    EXPECT_EQ(events[0], "willSleep held " + ourLock);
    EXPECT_FALSE(notifications->holdsInhibitor());
    EXPECT_TRUE(QTest::qWaitFor([&] { return held().isEmpty(); }, 5000)) << "every copy of the lock is closed";

    prepareForSleep(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 2; }, 5000));
    EXPECT_EQ(events[1], "didWake held " + ourLock);
    notifications.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return held().isEmpty(); }, 5000)) << "released at the end";
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

} // namespace
} // namespace drainwatch

#include "platform/LogindSleepNotifications.h"

#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>


namespace drainwatch {
namespace {

using test::ScopedEnvironment;
using test::StderrCapture;
using test::TemporaryFolder;

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

// A system bus of the test's own, where python-dbusmock can play logind.
class PrivateSystemBus {
public:
    ~PrivateSystemBus()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("test-observer"));
        for (QProcess* process : {&mock_, &daemon_}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    // Why the test cannot run on this machine; empty when it can.
    static QString missingPart()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return QStringLiteral("dbus-daemon is not installed (Debian package dbus)");
        if (QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0)
            return QStringLiteral("python-dbusmock is not installed (Debian package python3-dbusmock)");
        return {};
    }

    bool start()
    {
        const QString folder = QString::fromStdString(folder_.path().string());
        QFile config(folder + QStringLiteral("/bus.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                    "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                                    "<busconfig><type>system</type><listen>unix:dir=%1</listen><policy context=\"default\">"
                                    "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                    "<allow own=\"*\"/></policy></busconfig>\n")
                         .arg(folder)
                         .toUtf8());
        config.close();
        daemon_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
        }
        address = QString::fromLocal8Bit(daemon_.readLine().trimmed());
        return !address.isEmpty();
    }

    bool startLogind()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address);
        mock_.setProcessEnvironment(environment);
        mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock_.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                                                         QStringLiteral("--template"), QStringLiteral("logind")});
        return QTest::qWaitFor([&] { return observer().interface()->isServiceRegistered(kLogind).value(); }, 15000);
    }

    QDBusConnection observer() const { return QDBusConnection::connectToBus(address, QStringLiteral("test-observer")); }

    QDBusMessage callLogind(const QString& interface, const QString& method, const QVariantList& arguments = {}) const
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kLogind, kPath, interface, method);
        call.setArguments(arguments);
        return observer().call(call, QDBus::Block, 5000);
    }

    void emitPrepareForSleep(bool start) const
    {
        const QDBusMessage reply = callLogind(QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"),
                                              {kManager, QStringLiteral("PrepareForSleep"), QStringLiteral("b"), QVariantList{start}});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    // "what who why mode" of every lock logind holds.
    QStringList inhibitors() const
    {
        const QDBusMessage reply = callLogind(kManager, QStringLiteral("ListInhibitors"));
        QStringList locks;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            ADD_FAILURE() << reply.errorMessage().toStdString();
            return locks;
        }
        const auto list = qvariant_cast<QDBusArgument>(reply.arguments().value(0));
        list.beginArray();
        while (!list.atEnd()) {
            QString what, who, why, mode;
            uint uid = 0, pid = 0;
            list.beginStructure();
            list >> what >> who >> why >> mode >> uid >> pid;
            list.endStructure();
            locks << QStringList{what, who, why, mode}.join(QLatin1Char('|'));
        }
        list.endArray();
        return locks;
    }

    QString address;

private:
    TemporaryFolder folder_;
    QProcess daemon_;
    QProcess mock_;
};

const QStringList kOurLock{QStringLiteral("sleep|Drainwatch|Saves the battery count before the machine sleeps|delay")};

TEST(LogindSleepNotificationsTest, TheDelayLockIsHeldUntilWillSleepHasRunAndTakenAgainBeforeDidWake)
{
    if (const QString missing = PrivateSystemBus::missingPart(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    PrivateSystemBus bus;
    ASSERT_TRUE(bus.start()) << "dbus-daemon did not start";
    ScopedEnvironment systemBus("DBUS_SYSTEM_BUS_ADDRESS", bus.address.toLocal8Bit());
    StderrCapture stderrLines;
    {
        LogindSleepNotifications withoutLogind;
        EXPECT_FALSE(withoutLogind.connectToSystemBus());
        EXPECT_EQ(stderrLines.lines(), QStringList{QStringLiteral(
            "Drainwatch: no logind on the system bus (org.freedesktop.login1 is not there); "
            "sleep is detected from gaps between ticks only.")});
    }
    ASSERT_TRUE(bus.startLogind()) << "the logind mock did not appear on the bus";

    auto notifications = std::make_unique<LogindSleepNotifications>();
    std::vector<std::string> events;
    auto record = [&](const char* event) {
        events.push_back(std::string(event) + ", holds " + (notifications->holdsInhibitor() ? "yes" : "no") + ", locks " +
                         bus.inhibitors().join(',').toStdString());
    };
    notifications->subscribe([&] { record("willSleep"); }, [&] { record("didWake"); });
    ASSERT_TRUE(notifications->connectToSystemBus());
    EXPECT_TRUE(notifications->holdsInhibitor());
    EXPECT_EQ(bus.inhibitors(), kOurLock);
    const std::string held = kOurLock.first().toStdString();

    bus.emitPrepareForSleep(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 1; }, 5000));
    EXPECT_EQ(events[0], "willSleep, holds yes, locks " + held);
    EXPECT_FALSE(notifications->holdsInhibitor());
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.inhibitors().isEmpty(); }, 5000)) << "every copy of the lock is closed";

    bus.emitPrepareForSleep(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return events.size() == 2; }, 5000));
    EXPECT_EQ(events[1], "didWake, holds yes, locks " + held);

    notifications.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bus.inhibitors().isEmpty(); }, 5000)) << "released at the end";
    EXPECT_EQ(stderrLines.lines(), QStringList());
}

TEST(LogindSleepNotificationsTest, NoSystemBusIsOneLineOnStandardError)
{
    TemporaryFolder folder;
    ScopedEnvironment systemBus("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QByteArray::fromStdString(folder.path().string()) + "/none");
    StderrCapture stderrLines;
    LogindSleepNotifications notifications;
    notifications.subscribe([] {}, [] {});
    EXPECT_FALSE(notifications.connectToSystemBus());
    EXPECT_FALSE(notifications.holdsInhibitor());
    const QStringList lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Drainwatch: no logind on the system bus ("))) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("); sleep is detected from gaps between ticks only.")));
}

} // namespace
} // namespace drainwatch

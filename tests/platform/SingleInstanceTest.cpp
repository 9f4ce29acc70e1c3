#include "platform/SingleInstance.h"

#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

// The competing process: tries once when told "go", says how it went, and
// stays (holding what it holds) until its standard input closes.
int runSingleInstanceChild(const QString& name)
{
    drainwatch::SingleInstance instance(name);
    std::string line;
    std::cout << "ready" << std::endl;
    if (!std::getline(std::cin, line))
        return 2;
    std::cout << (instance.tryBecomePrimary() ? "primary" : "secondary") << std::endl;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

namespace drainwatch {
namespace {

using test::ScopedEnvironment;
using test::TemporaryFolder;

const QString kName = QStringLiteral("Drainwatch-test");

QString readLine(QProcess& process)
{
    while (!process.canReadLine() && process.waitForReadyRead(10000)) {
    }
    return QString::fromLocal8Bit(process.readLine().trimmed());
}

class SingleInstanceTest : public ::testing::Test {
protected:
    std::unique_ptr<QProcess> startChild()
    {
        auto child = std::make_unique<QProcess>();
        child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--single-instance-child"), kName});
        EXPECT_EQ(readLine(*child), "ready");
        return child;
    }

    TemporaryFolder runtime;
    ScopedEnvironment runtimeDir{"XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path().string())};
};

TEST_F(SingleInstanceTest, ASecondStartIsRefusedAndAsksTheFirstToComeForward)
{
    SingleInstance first(kName);
    SingleInstance second(kName);
    SingleInstance simulated(kName + QStringLiteral("-simulated"));
    QSignalSpy activations(&first, &SingleInstance::activationRequested);

    ASSERT_TRUE(first.tryBecomePrimary());
    EXPECT_EQ(QFileInfo(first.lockFilePath()).absolutePath().toStdString(), runtime.path().string());
    EXPECT_TRUE(QFileInfo::exists(first.lockFilePath()));
    EXPECT_FALSE(second.tryBecomePrimary());
    EXPECT_TRUE(activations.wait(2000));
    EXPECT_TRUE(simulated.tryBecomePrimary()) << "another name runs beside it";
    EXPECT_EQ(activations.count(), 1);
}

TEST_F(SingleInstanceTest, OfStartsAtTheSameMomentExactlyOneIsPrimary)
{
    std::vector<std::unique_ptr<QProcess>> children;
    for (int i = 0; i < 6; ++i)
        children.push_back(startChild());
    for (auto& child : children)
        child->write("go\n");
    for (auto& child : children)
        child->waitForBytesWritten(2000);
    QStringList answers;
    for (auto& child : children)
        answers << readLine(*child);
    EXPECT_EQ(answers.count(QStringLiteral("primary")), 1) << answers.join(' ').toStdString();
    EXPECT_EQ(answers.count(QStringLiteral("secondary")), 5) << answers.join(' ').toStdString();
    for (auto& child : children) {
        child->closeWriteChannel();
        EXPECT_TRUE(child->waitForFinished(5000));
    }
}

TEST_F(SingleInstanceTest, WhatACrashedPrimaryLeftBehindDoesNotBlockTheNextStart)
{
    auto crashed = startChild();
    crashed->write("go\n");
    ASSERT_EQ(readLine(*crashed), "primary");
    crashed->kill();
    crashed->waitForFinished(5000);

    SingleInstance next(kName);
    ASSERT_TRUE(QFileInfo::exists(next.lockFilePath())) << "the crash left its lock";
    ASSERT_TRUE(QFileInfo::exists(next.serverPath())) << "and its socket";
    EXPECT_TRUE(next.tryBecomePrimary());

    QSignalSpy activations(&next, &SingleInstance::activationRequested);
    SingleInstance later(kName);
    EXPECT_FALSE(later.tryBecomePrimary());
    EXPECT_TRUE(activations.wait(2000));
}

} // namespace
} // namespace drainwatch

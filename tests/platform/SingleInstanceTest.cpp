#include "platform/SingleInstance.h"

#include "platform/PlatformTestSupport.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <iostream>

// The competing process: tries once when told "go", says how it went, and
// holds what it won until it is killed.
int runSingleInstanceChild(const QString& name)
{
    drainwatch::SingleInstance instance(name);
    std::string line;
    std::cout << "ready" << std::endl;
    std::getline(std::cin, line);
    std::cout << (instance.tryBecomePrimary() ? "primary" : "secondary") << std::endl;
    std::getline(std::cin, line);
    return 0;
}

namespace drainwatch {
namespace {

const QString kName = QStringLiteral("Drainwatch-test");

// The answers of competing processes, all told "go" once every one is ready.
QStringList startAtOnce(int count)
{
    std::vector<std::unique_ptr<test::ChildProcess>> children;
    for (int i = 0; i < count; ++i) {
        children.push_back(std::make_unique<test::ChildProcess>());
        children.back()->start(QCoreApplication::applicationFilePath(), {"--single-instance-child", kName});
        EXPECT_EQ(test::readLine(*children.back()), "ready");
    }
    for (const auto& child : children)
        child->write("go\n");
    for (const auto& child : children)
        child->waitForBytesWritten(2000);
    QStringList answers;
    for (const auto& child : children)
        answers << test::readLine(*child);
    return answers; // and all of them crash
}

TEST(SingleInstanceTest, OneOfSimultaneousStartsIsPrimaryDespiteACrashAndALaterStartKnocks)
{
    test::TemporaryFolder runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().c_str());
    SingleInstance first(kName), second(kName), simulated(kName + "-simulated");
    EXPECT_EQ(QFileInfo(first.lockFilePath()).absolutePath().toStdString(), runtime.path().string());

    ASSERT_EQ(startAtOnce(1), QStringList{"primary"});
    ASSERT_TRUE(QFileInfo::exists(first.lockFilePath()) && QFileInfo::exists(first.serverPath())) << "left by the crash";
    const QStringList answers = startAtOnce(6);
    EXPECT_TRUE(answers.count("primary") == 1 && answers.count("secondary") == 5) << answers.join(' ').toStdString();

    ASSERT_TRUE(first.tryBecomePrimary());
    QSignalSpy activations(&first, &SingleInstance::activationRequested);
    EXPECT_FALSE(second.tryBecomePrimary());
    EXPECT_TRUE(activations.wait(2000));
    EXPECT_TRUE(simulated.tryBecomePrimary()) << "another name runs beside it";
    EXPECT_EQ(activations.count(), 1);
}

} // namespace
} // namespace drainwatch

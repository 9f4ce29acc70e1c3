// SPDX-License-Identifier: MIT
#include "activity/ProcessGroups.h"

#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace drainwatch;

namespace {

class ProcTree {
public:
    explicit ProcTree(const std::string& name) : root(std::filesystem::path(testing::TempDir()) / name)
    {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
    }
    ~ProcTree() { std::filesystem::remove_all(root); }

    void process(int pid, const std::string& comm, int utime, int stime, int start)
    {
        std::filesystem::create_directories(root / std::to_string(pid));
        std::ofstream(root / std::to_string(pid) / "stat")
            << fmt::format("{} ({}) S 1 {} {} 0 -1 4194560 100 0 0 0 {} {} 0 0 20 0 1 0 {} 1000 10 "
                           "18446744073709551615 0 0 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n",
                           pid, comm, pid, pid, utime, stime, start);
        std::ofstream(root / std::to_string(pid) / "status") << fmt::format(
            "Name:\t{}\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t{}\t{}\t{}\t{}\n", comm, uid, uid, uid, uid);
    }
    void exit(int pid) { std::filesystem::remove_all(root / std::to_string(pid)); }

    std::filesystem::path root;
    unsigned uid = 1000;
};

} // namespace

TEST(ProcessStat, CommWithSpacesAndParenthesesIsReadToTheLastParenthesis)
{
    auto stat = parseProcessStat("42 (Web (Content) x) S 1 42 42 0 -1 0 0 0 0 0 150 50 0 0 20 0 1 0 9876 0 0\n");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->comm, "Web (Content) x");
    EXPECT_DOUBLE_EQ(stat->cpuTicks, 200);
    EXPECT_EQ(stat->startTicks, 9876u);
    EXPECT_FALSE(stat->kernelThread);
    // A kworker's flags (PF_KTHREAD among them), as root reads them.
    EXPECT_TRUE(parseProcessStat("8 (kworker/0:1-events) I 2 0 0 0 -1 69238880 0 0 0 0 0 9 0 0 20 0 1 0 14 0 0\n")
                    ->kernelThread);
    EXPECT_FALSE(parseProcessStat("42 (short) S 1 2 3"));
    EXPECT_FALSE(parseProcessStat("42 no parentheses"));
    EXPECT_FALSE(parseProcessStat("42 (x) S 1 42 42 0 -1 0 0 0 0 0 1x0 50 0 0 20 0 1 0 9876 0 0\n"));
}

TEST(ProcessGroups, ExitedProcessesKeepTheirTimeAndAReusedPidIsANewProcess)
{
    ProcTree tree("drainwatch-process-groups");
    tree.process(100, "firefox", 300, 100, 5000);
    tree.process(101, "firefox", 50, 50, 5100);
    tree.process(200, "vim", 10, 0, 6000);
    ProcessGroups groups(tree.root, 1000, 100);

    auto first = groups.read();
    EXPECT_DOUBLE_EQ(first["exe:firefox"], 5);
    EXPECT_DOUBLE_EQ(first["exe:vim"], 0.1);

    tree.exit(101);                         // firefox's second process ends
    tree.exit(200);                         // vim ends, and its PID goes to
    tree.process(200, "make", 20, 0, 9000); // another program
    tree.process(100, "firefox", 320, 110, 5000);
    auto second = groups.read();
    EXPECT_DOUBLE_EQ(second["exe:firefox"], 4.3 + 1);
    EXPECT_DOUBLE_EQ(second["exe:vim"], 0.1);
    EXPECT_DOUBLE_EQ(second["exe:make"], 0.2);
    EXPECT_DOUBLE_EQ(groups.totalSeconds(), 5.3 + 0.1 + 0.2);
}

TEST(ProcessGroups, FiveThousandProcessesWithGarbageAmongThemGiveASaneSum)
{
    ProcTree tree("drainwatch-process-many");
    for (int pid = 1; pid <= 5000; ++pid)
        tree.process(pid, fmt::format("worker{}", pid % 7), 1, 1, pid);
    std::ofstream(tree.root / "77" / "stat") << "77 (garbled";
    std::filesystem::create_directories(tree.root / "self");
    std::filesystem::create_directories(tree.root / "5001");
    ProcessGroups groups(tree.root, 1000, 100);
    auto read = groups.read();
    EXPECT_EQ(read.size(), 7u);
    EXPECT_NEAR(groups.totalSeconds(), 4999 * 0.02, 1e-6);
}

TEST(ProcessGroups, OtherUsersAndAMissingProcAreLeftOut)
{
    ProcTree tree("drainwatch-process-owner");
    tree.process(1, "init", 100, 100, 1);
    ProcessGroups stranger(tree.root, 1001, 100);
    EXPECT_TRUE(stranger.read().empty());
    ProcessGroups nowhere(tree.root / "missing", 1000, 100);
    EXPECT_TRUE(nowhere.read().empty());
}

// SPDX-License-Identifier: MIT
#include "activity/ActivityStore.h"
#include "support/Fakes.h"
#include "support/HistoryFiles.h"

#include <gtest/gtest.h>

namespace drainwatch {
namespace {

ActivityInterval minuteOf(std::vector<ActivityUse> uses, double screenSeconds = 30)
{
    ActivityInterval interval;
    interval.seconds = 60;
    interval.uses = std::move(uses);
    for (const ActivityUse& use : interval.uses)
        interval.cpuSeconds += use.cpuSeconds;
    interval.screenSeconds = screenSeconds;
    return interval;
}

ActivityUse use(const std::string& key, double cpuSeconds, const std::string& name = "")
{
    return {key, name.empty() ? key : name, "", ActivityKind::App, cpuSeconds, std::nullopt};
}

constexpr double kT = 1800000000.0; // on a bucket's start

TEST(ActivityStore, SpansAndTheirApplicationsAddUpOnDiskAndWaiting)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    {
        HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
        ActivityStore store(database);
        store.add(kT, minuteOf({use("app:firefox", 30, "Firefox"), use("app:builder", 60)}), 0.2);
        store.add(kT + 60, minuteOf({use("app:firefox", 10, "Firefox Nightly")}), 0.1);
        ASSERT_TRUE(store.flush());
        // The next bucket, still waiting: read with the flushed ones.
        store.add(kT + 600, minuteOf({use("app:firefox", 5, "Firefox")}, 0), 0.05);
        const SpanActivity span = store.span(kT, kT + 1200);
        EXPECT_DOUBLE_EQ(span.seconds, 180);
        EXPECT_DOUBLE_EQ(span.measuredWh, 0.35);
        EXPECT_DOUBLE_EQ(span.cpuSeconds, 105);
        EXPECT_DOUBLE_EQ(*span.screenSeconds, 60);
        ASSERT_EQ(span.uses.size(), 2u);
        EXPECT_EQ(span.uses[0].key, "app:builder");
        EXPECT_DOUBLE_EQ(span.uses[1].cpuSeconds, 45);
        EXPECT_EQ(span.uses[1].name, "Firefox");
        // A span is read whole from the bucket that holds its start.
        EXPECT_DOUBLE_EQ(store.span(kT + 599, kT + 1200).seconds, 180);
        EXPECT_DOUBLE_EQ(store.span(kT + 600, kT + 1200).seconds, 60);
        EXPECT_EQ(store.minutes(kT, kT + 1200).size(), 3u);
    }
    // The waiting span is lost with the process, as samples are.
    HistoryDatabase reader(file, HistoryDatabase::Access::ReadOnly, nullptr);
    EXPECT_DOUBLE_EQ(ActivityStore(reader).span(kT, kT + 1200).seconds, 120);
}

TEST(ActivityStore, ModelsAndRetention)
{
    HistoryDatabase database(nullptr);
    ActivityStore store(database);
    EXPECT_FALSE(store.latestModel());
    PowerModel model;
    model.baseW = 4;
    model.cpuW = 9;
    model.r2 = 0.9;
    model.minutes = 300;
    model.fittedAt = kT;
    store.addModel(model);
    model.fittedAt = kT + 86400;
    model.cpuW = 8.5;
    store.addModel(model);
    EXPECT_EQ(store.latestModel()->cpuW, 8.5);
    EXPECT_EQ(store.latestModel()->screenW, std::nullopt);

    store.add(kT, minuteOf({use("app:a", 1)}), 0.1);
    store.add(kT + 86400, minuteOf({use("app:b", 1)}), 0.1);
    ASSERT_TRUE(store.flush());
    store.deleteOlderThan(kT + 86400 * 2);
    EXPECT_EQ(store.span(0, 1e12).uses.size(), 0u);
    // The model in use outlives its minutes.
    EXPECT_EQ(store.latestModel()->cpuW, 8.5);
}

TEST(ActivityStore, WhatCannotBeTrueIsNotKeptOrRead)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    HistoryDatabase database(file, HistoryDatabase::Access::ReadWrite, nullptr);
    ActivityStore store(database);
    ActivityInterval broken = minuteOf({use("app:a", 1)});
    broken.seconds = std::nan("");
    store.add(kT, broken, 0.1);
    store.add(kT, minuteOf({use("app:a", 1)}), INFINITY);
    store.add(kT, minuteOf({}), 0.1);
    EXPECT_EQ(store.waiting(), 1u);
    ASSERT_TRUE(store.flush());
    // A damaged file: a negative CPU time and a negative coefficient.
    test::sqlExec(file, "INSERT INTO app_activity VALUES(1800000000, 'app:x', 'X', '', 0, -5, NULL);"
                        "INSERT INTO power_models(fitted_at, base_w, cpu_w, minutes) VALUES(1, 4, -9, 10)");
    EXPECT_EQ(store.span(0, 1e12).uses.size(), 0u);
    EXPECT_FALSE(store.latestModel());
}

TEST(ActivityStore, AnOlderFileReadAsItIsHasNoActivity)
{
    test::TemporaryFolder folder;
    const auto file = folder.path() / "history.sqlite";
    std::filesystem::copy_file(std::filesystem::path(DRAINWATCH_TEST_DATA) / "history" / "version-4.sqlite", file);
    HistoryDatabase reader(file, HistoryDatabase::Access::ReadOnly, nullptr);
    ASSERT_TRUE(reader.isOpen());
    const ActivityStore store(reader);
    EXPECT_EQ(store.span(0, 1e12).seconds, 0);
    EXPECT_FALSE(store.latestModel());
}

} // namespace
} // namespace drainwatch

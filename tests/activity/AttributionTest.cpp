// SPDX-License-Identifier: MIT
#include "activity/Attribution.h"

#include <gtest/gtest.h>

using namespace drainwatch;

namespace {

PowerModel knownModel()
{
    PowerModel model;
    model.baseW = 4;
    model.cpuW = 9;
    model.screenW = 3.5;
    model.gpuW = 6;
    model.netW = 0.5;
    return model;
}

SpanActivity hourOfWork(double measuredWh)
{
    SpanActivity span;
    addInterval(span,
                ActivityInterval{1800,
                                 {ActivityUse{"firefox", "Firefox", "firefox", ActivityKind::App, 900, 100.0},
                                  ActivityUse{"idle", "Idle", "", ActivityKind::App, 0, std::nullopt}},
                                 1000,
                                 900.0,
                                 300.0,
                                 2e6},
                measuredWh / 2);
    addInterval(
        span,
        ActivityInterval{1800,
                         {ActivityUse{"code", "Code", "code", ActivityKind::App, 1800, std::nullopt},
                          ActivityUse{"firefox", "Firefox Web", "firefox", ActivityKind::App, 100, std::nullopt}},
                         2000,
                         std::nullopt,
                         100.0,
                         std::nullopt},
        measuredWh / 2);
    return span;
}

} // namespace

TEST(AttributionTest, RowsAddUpToTheMeasuredEnergy)
{
    const std::vector<EnergyRow> rows = attribute(knownModel(), hourOfWork(20));
    ASSERT_EQ(rows.size(), 6u); // Firefox, Code, other, Screen, Base, Unexplained
    EXPECT_EQ(rows[0].key, "code");
    EXPECT_DOUBLE_EQ(rows[0].energyWh, 9 * 1800.0 / 3600);
    EXPECT_EQ(rows[1].key, "firefox");
    EXPECT_EQ(rows[1].name, "Firefox Web");
    EXPECT_DOUBLE_EQ(rows[1].energyWh, 9 * 1000.0 / 3600 + 6 * 100.0 / 3600);
    EXPECT_EQ(rows[2].key, "other");
    EXPECT_DOUBLE_EQ(rows[2].energyWh, 0.5 * 2 + 6 * 300.0 / 3600);
    EXPECT_EQ(rows[3].kind, EnergyKind::Screen);
    EXPECT_DOUBLE_EQ(rows[3].energyWh, 3.5 * 900 / 3600);
    EXPECT_EQ(rows[4].name, "Base");
    EXPECT_DOUBLE_EQ(rows[4].energyWh, 4.0);
    EXPECT_STREQ(energyKindName(rows[5].kind), "unexplained");
    double sum = 0;
    for (const EnergyRow& r : rows)
        sum += r.energyWh;
    EXPECT_NEAR(sum, 20, 20 * 1e-12);
    EXPECT_DOUBLE_EQ(rows[4].share, 4.0 / 20);
}

TEST(AttributionTest, UnexplainedGoesNegativeAndUndeterminedGivesNothing)
{
    const std::vector<EnergyRow> rows = attribute(knownModel(), hourOfWork(1));
    EXPECT_LT(rows.back().energyWh, 0);
    EXPECT_TRUE(attribute(PowerModel{}, hourOfWork(20)).empty());
    const std::vector<EnergyRow> none = attribute(knownModel(), hourOfWork(0));
    for (const EnergyRow& r : none)
        EXPECT_EQ(r.share, 0);
}

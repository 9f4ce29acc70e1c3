// SPDX-License-Identifier: MIT
#include "activity/PowerModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace drainwatch;

namespace {

struct Law {
    double baseW = 4, cpuW = 9, screenW = 3.5, noiseW = 0.3;
};

// A week of minutes: three applications switching on and off, brightness varying.
std::vector<ModelMinute> simulatedWeek(const Law& law, int count, bool constantBrightness = false)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    std::normal_distribution<double> noise(0, law.noiseW);
    std::vector<ModelMinute> minutes;
    bool on[3] = {false, false, false};
    const double appCores[3] = {0.3, 1.5, 0.8};
    double brightness = 0.5;
    for (int i = 0; i < count; ++i) {
        for (bool& app : on)
            if (unit(random) < 0.05)
                app = !app;
        if (!constantBrightness && unit(random) < 0.1)
            brightness = unit(random);
        double cores = 0.05;
        for (int a = 0; a < 3; ++a)
            cores += on[a] ? appCores[a] * (0.8 + 0.4 * unit(random)) : 0;
        const double powerW = law.baseW + law.cpuW * cores + law.screenW * brightness + noise(random);
        minutes.push_back(
            ModelMinute{60.0 * i, 60, powerW * 60 / 3600, cores * 60, brightness * 60, std::nullopt, std::nullopt});
    }
    return minutes;
}

} // namespace

TEST(PowerModelTest, LearnsAWeekOfMinutes)
{
    const PowerModel model = fitPowerModel(simulatedWeek(Law{}, 10080), 1000);
    ASSERT_TRUE(model.determined());
    EXPECT_NEAR(*model.baseW, 4, 4 * 0.05);
    EXPECT_NEAR(*model.cpuW, 9, 9 * 0.05);
    EXPECT_NEAR(*model.screenW, 3.5, 3.5 * 0.05);
    EXPECT_FALSE(model.gpuW);
    EXPECT_FALSE(model.netW);
    EXPECT_NEAR(*model.heldOutErrorW, 0.3 * std::sqrt(2 / M_PI), 0.03);
    EXPECT_GT(*model.r2, 0.9);
    EXPECT_EQ(model.minutes, 10080);
    EXPECT_EQ(model.fittedAt, 1000);
}

TEST(PowerModelTest, ClampsANegativeTermToZero)
{
    Law law;
    law.screenW = -2; // the unconstrained optimum is negative
    const PowerModel model = fitPowerModel(simulatedWeek(law, 5000), 0);
    ASSERT_TRUE(model.determined());
    ASSERT_TRUE(model.screenW);
    EXPECT_EQ(*model.screenW, 0);
    EXPECT_NEAR(*model.cpuW, 9, 9 * 0.05);
}

TEST(PowerModelTest, UndeterminedWithTooFewMinutesOrNoVariety)
{
    const PowerModel few = fitPowerModel(simulatedWeek(Law{}, 40), 0);
    EXPECT_FALSE(few.determined());
    EXPECT_FALSE(few.cpuW);
    EXPECT_EQ(modelQualityText(few), "learning this laptop: 40 of 120 minutes");
    std::vector<ModelMinute> idle(300, ModelMinute{0, 60, 0.1, 3, 30, std::nullopt, std::nullopt});
    const PowerModel flat = fitPowerModel(idle, 0);
    EXPECT_FALSE(flat.determined());
    EXPECT_EQ(modelQualityText(flat), "learning this laptop: 300 minutes, too little variety yet");
}

TEST(PowerModelTest, ConstantBrightnessLeavesTheScreenEmpty)
{
    const PowerModel model = fitPowerModel(simulatedWeek(Law{}, 3000, true), 0);
    ASSERT_TRUE(model.determined());
    EXPECT_FALSE(model.screenW);
    EXPECT_NEAR(*model.cpuW, 9, 9 * 0.05);
    EXPECT_EQ(modelQualityText(model).rfind("model of this laptop: R² ", 0), 0u);
}

TEST(PowerModelTest, SkipsBrokenMinutes)
{
    std::vector<ModelMinute> minutes = simulatedWeek(Law{}, 2000);
    minutes.push_back(ModelMinute{0, 0, 1, 1, 1, std::nullopt, std::nullopt});
    minutes.push_back(ModelMinute{0, 60, NAN, 1, 1, std::nullopt, std::nullopt});
    minutes.push_back(ModelMinute{0, 60, 1, INFINITY, 1, std::nullopt, std::nullopt});
    const PowerModel model = fitPowerModel(minutes, 0);
    EXPECT_EQ(model.minutes, 2000);
    ASSERT_TRUE(model.determined());
    EXPECT_TRUE(std::isfinite(*model.r2));
    EXPECT_NEAR(*model.cpuW, 9, 9 * 0.05);
}

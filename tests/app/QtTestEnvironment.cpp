// One QApplication for the whole test program, on the offscreen platform, so
// that no test needs a display.
#include "support/Fakes.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Each test points the XDG folders elsewhere; this keeps Qt quiet
        // until it does.
        setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        static int argc = 1;
        static char name[] = "app_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    drainwatch::test::TemporaryFolder runtime_;
    QApplication* app_ = nullptr;
};

[[maybe_unused]] const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace

#include "views/FrameLogs.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace tarvicon {
namespace {

// The benchmark reads these lines: a view's name, when the paint ended and what it cost.
TEST(FrameLog, OneLinePerPaintedFrame) {
    EXPECT_EQ(FrameLine("detail", 1234.5, {21.304, 5.1, 27, true}),
              "Frame detail at=1234.50 build=21.30 draw=5.10 paint=27.00");
    EXPECT_EQ(FrameLine("coronar", 0.004, {0, 1.5, 2.25, false}),
              "Frame coronar at=0.00 build=- draw=1.50 paint=2.25");

    EXPECT_FALSE(TFrameLog("").Enabled());
    test::TTempDir dir;
    const auto path = dir.Path() / "frames.log";
    {
        const TFrameLog log(path.string());
        ASSERT_TRUE(log.Enabled());
        log.Frame("detail", {1, 2, 3, true});
        log.Frame("sagital", {});
    }
    std::istringstream lines(test::ReadFile(path));
    std::string first, second, more;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(first.rfind("Frame detail at=", 0), 0u) << first;
    EXPECT_NE(first.find(" build=1.00 draw=2.00 paint=3.00"), std::string::npos) << first;
    EXPECT_EQ(second.rfind("Frame sagital at=", 0), 0u) << second;
    EXPECT_FALSE(std::getline(lines, more));
}

} // namespace
} // namespace tarvicon

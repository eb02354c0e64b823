#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

test::TProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), (test::BinDir() / "tarvicon-cli").string());
    return test::RunProcess(args);
}

TEST(ParamsCommand, OptionsRunInOrderAndTheLevelStaysConsistent) {
    const auto result =
        Cli({"params", "--get", "detail/zoom", "--set", "detail/colormapping/level/center=50", "--set",
             "detail/colormapping/level/width=20", "--get", "detail/colormapping/level/low", "--get",
             "detail/colormapping/level/high", "--set", "detail/colormapping/level/high=90", "--get",
             "detail/colormapping/level/center"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out,
              "detail/zoom=0\ndetail/colormapping/level/low=40\ndetail/colormapping/level/high=60\n"
              "detail/colormapping/level/center=65\n");
}

TEST(ParamsCommand, ConfigurationPresetsAndSnapshots) {
    test::TTempDir folder;
    const auto config = folder.Path() / "viewer.cfg";
    test::WriteFile(config, R"(<initialize><preset><detail><gamma>2</gamma></detail></preset>
        <levels><level><low>20</low><high>80</high></level></levels></initialize>)");
    const auto result = Cli({"params", "--config", config.string(), "--apply", "level:0", "--get",
                             "detail/gamma", "--get", "detail/colormapping/level/width", "--snapshot"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out.rfind("detail/gamma=2\ndetail/colormapping/level/width=60\n<configuration>", 0), 0u)
        << result.Out;

    const auto bad = Cli({"params", "--get", "detail/nothing"});
    EXPECT_EQ(bad.Status, 1);
    EXPECT_EQ(bad.Err, "Cannot find parameter detail/nothing\n");
    EXPECT_EQ(Cli({"params", "--bogus", "x"}).Status, 2);
}

TEST(LutCommand, PrintsTheDetailViewsTable) {
    const auto result =
        Cli({"lut", "--set", "detail/colormapping/level/low=20", "--set", "detail/colormapping/level/high=80",
             "--set", "detail/gamma=2", "--entries", "0,1005,1602-1603"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, "0=FE000001\n1005=FE3E3E3E\n1602=FEFDFDFD\n1603=FEFDFDFD\n");
}

} // namespace
} // namespace tarvicon

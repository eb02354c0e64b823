#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

test::TProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), (test::BinDir() / "tarvicon-cli").string());
    return test::RunProcess(args);
}

TEST(DumpCommand, PrintsTheElementsNumbersAndPixels) {
    test::TTempDir out;
    const auto pixels = out.Path() / "pixels.raw";
    const auto result = Cli({"dump", "--numbers", "--pixels", pixels.string(),
                             (test::Fixtures() / "jpeg_gray16x3.dcm").string()});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_NE(result.Out.find("Transfer syntax uid=1.2.840.10008.1.2.4.70\n"), std::string::npos);
    EXPECT_NE(result.Out.find("Patient name=Fixture^Image\n"), std::string::npos);
    EXPECT_NE(
        result.Out.find("\nWidth=32\nHeight=24\nPixelFormat=pf16bit\nFrameCount=3\nSlicePosition=-12500\n"
                        "ImageNumber=7\nPixelDataSize=4608\n"),
        std::string::npos)
        << result.Out;
    const std::string source = test::ReadFile(test::Fixtures() / "src_gray16x3.dcm");
    EXPECT_EQ(test::ReadFile(pixels), source.substr(source.size() - 4608));
}

TEST(DumpCommand, FailedReadPrintsTheListThenTheMessage) {
    test::TTempDir out;
    const std::string bytes = test::ReadFile(test::PydicomTestFiles() / "CT_small.dcm");
    test::WriteFile(out.Path() / "cut.dcm", bytes.substr(0, 1000));
    const auto result = Cli({"dump", (out.Path() / "cut.dcm").string()});
    EXPECT_EQ(result.Status, 1);
    EXPECT_NE(result.Out.find(") ERROR: "), std::string::npos);
    EXPECT_NE(result.Out.find("\nDUMP=... "), std::string::npos);
    EXPECT_NE(result.Err.find("\r\nTag: "), std::string::npos) << result.Err;
}

TEST(DumpCommand, BadUsage) {
    for (const auto& args :
         std::vector<std::vector<std::string>>{{}, {"dump"}, {"dump", "--bogus", "x"}, {"nothing"}}) {
        const auto result = Cli(args);
        EXPECT_EQ(result.Status, 2);
        // A command that does not exist is named before the usage.
        const std::string named =
            args == std::vector<std::string>{"nothing"} ? "tarvicon-cli: no command \"nothing\"\n\n" : "";
        EXPECT_EQ(result.Err.rfind(named + "usage: tarvicon-cli ", 0), 0u) << result.Err;
    }
}

} // namespace
} // namespace tarvicon

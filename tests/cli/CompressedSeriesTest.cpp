// A CT series converted file by file to JPEG 2000 and to RLE gives the uncompressed series' cube,
// voxel for voxel, and the same picture through tarvicon-cli render.

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

TEST(CompressedSeries, JpegTwoThousandAndRleGiveTheSameCubeAndPicture) {
    const test::TTempDir folder;
    const auto render = [&](const std::string& kind) {
        const auto out = folder.Path() / kind;
        const auto result = test::RunProcess({(test::BinDir() / "tarvicon-cli").string(), "render",
                                              (test::Fixtures() / ("ct_" + kind)).string(), "--save-cuboid",
                                              out.string() + ".cub", "--raw", out.string() + ".raw", "-o",
                                              out.string() + ".bmp"});
        EXPECT_EQ(result.Status, 0) << kind << ": " << result.Err;
        return test::ReadFile(out.string() + ".cub") + test::ReadFile(out.string() + ".raw") +
               test::ReadFile(out.string() + ".bmp");
    };
    const std::string plain = render("plain");
    ASSERT_GT(plain.size(), 96u * 80 * 20 * 2);
    EXPECT_TRUE(render("j2k") == plain) << "the JPEG 2000 series differs";
    EXPECT_TRUE(render("rle") == plain) << "the RLE series differs";
}

} // namespace
} // namespace tarvicon

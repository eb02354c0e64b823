// The names and the legend of exported pictures.

#include "catalogue/Exports.h"

#include "catalogue/DicomTrees.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

TEST(ExportNames, ANumberIsTakenByAFileOfAnyExtension) {
    struct TCase {
        std::vector<std::string> present;
        std::string base, extension, expected;
    } const cases[] = {
        {{}, "1234", ".jpg", "1234-01.jpg"},
        {{"1234-01.jpg", "1234-02.bmp"}, "1234", ".jpg", "1234-03.jpg"},
        {{"1234-01.jpg", "1234-02.bmp"}, "1234", ".gif", "1234-03.gif"},
        {{"1234-01"}, "1234", ".jpg", "1234-02.jpg"},                      // no extension blocks too
        {{"1234-010.jpg", "1234-01x.jpg"}, "1234", ".jpg", "1234-01.jpg"}, // longer names do not
        {{"5678-01.jpg"}, "1234", ".jpg", "1234-01.jpg"},
        {{"-01.jpg"}, "", ".jpg", "-02.jpg"},    // no series: no base name
        {{}, "a/../b", ".jpg", "a_.._b-01.jpg"}, // a "/" never leaves the folder
    };
    for (const TCase& c : cases) {
        test::TTempDir dir;
        for (const std::string& name : c.present) test::WriteFile(dir.Path() / name, "x");
        EXPECT_EQ(NextExportName(dir.Path().string(), c.base, c.extension),
                  (dir.Path() / c.expected).string())
            << c.expected;
    }
}

TEST(ExportNames, NumberingGoesOnAfter99InsteadOfOverwriting) {
    test::TTempDir dir;
    for (int n = 1; n <= 99; ++n)
        test::WriteFile(dir.Path() / ("77-" + std::string(n < 10 ? "0" : "") + std::to_string(n) + ".jpg"),
                        "x");
    EXPECT_EQ(NextExportName(dir.Path().string(), "77", ".jpg"), (dir.Path() / "77-100.jpg").string());
    test::WriteFile(dir.Path() / "77-100.bmp", "x");
    EXPECT_EQ(NextExportName(dir.Path().string(), "77", ".jpg"), (dir.Path() / "77-101.jpg").string());
}

TEST(ExportLegend, ShowsTheSeriesWithItsDatesAsDayMonthYear) {
    test::TTempDir dir;
    test::TImage image;
    image.Accession = "1234";
    image.BirthDate = "19650412";
    image.Sex = "F";
    test::WriteSeries(dir.Path(), "a", 2, image);
    TDicomTree tree;
    tree.AddFolder(dir.Path().string());
    ASSERT_EQ(LoadToEnd(tree), "");
    ASSERT_EQ(tree.ObjectCount(), 1);
    const TDicomObject* object = tree.ObjectAt(0);
    EXPECT_EQ(ExportBaseName(object), "1234");
    EXPECT_EQ(ExportLegend(object), " 15.3.2007: Doe^P1, 12.4.1965, F, P1 ");
    EXPECT_EQ(ExportBaseName(nullptr), "");
    EXPECT_EQ(ExportLegend(nullptr), "");

    // A date outside 1900..2020 stays as stored.
    test::TTempDir later;
    image.BirthDate = "20250101";
    test::WriteSeries(later.Path(), "a", 2, image);
    TDicomTree second;
    second.AddFolder(later.Path().string());
    ASSERT_EQ(LoadToEnd(second), "");
    EXPECT_EQ(ExportLegend(second.ObjectAt(0)), " 15.3.2007: Doe^P1, 20250101, F, P1 ");
}

TEST(ExportLegend, LineBreaksAreEditedAsBackslashN) {
    struct TCase {
        std::string legend, edited, back;
    } const cases[] = {
        {"one line", "one line", "one line"},
        {"a\r\nb", "a\\nb", "a\r\nb"},
        {"a\nb\rc", "a\\nb\\nc", "a\r\nb\r\nc"},
        {"a\r\n\r\nb", "a\\n\\nb", "a\r\n\r\nb"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(LegendForEditing(c.legend), c.edited) << c.edited;
        EXPECT_EQ(LegendFromEditing(c.edited), c.back) << c.edited;
    }
    EXPECT_EQ(LegendFromEditing("x\\Ny"), "x\r\ny"); // any case
    EXPECT_EQ(LegendFromEditing("x\\ty\\"), "x\\ty\\");
}

} // namespace
} // namespace tarvicon

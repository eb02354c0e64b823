// The pages "Info", "FullInfo" and "Trace".

#include "app/InfoFrames.h"
#include "app/TraceFrames.h"
#include "catalogue/DicomObjects.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QSpinBox>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

using TRows = std::vector<TInfoRow>;

std::unique_ptr<TDicomSingleImage> PydicomImage(const char* name) {
    auto image = std::make_unique<TDicomSingleImage>();
    image->LoadFromFile((test::PydicomTestFiles() / name).string());
    return image;
}

// A CT series of three slices with its cube: slice 0 is the highest position, image number 3.
std::unique_ptr<TDicomArrayImage> CtSeries() {
    auto series = std::make_unique<TDicomArrayImage>();
    test::TImage image;
    for (int i = 0; i < 3; ++i) {
        image.Number = std::to_string(i + 1);
        image.Position = i;
        auto file = std::make_unique<TDicomFile>();
        file->LoadFromString(test::ImageFile(image));
        series->AddFile(std::move(file));
    }
    series->SortImages();
    series->BuildCube();
    return series;
}

std::string ValueOf(const TRows& rows, const std::string& name) {
    for (const auto& [rowName, value] : rows)
        if (rowName == name) return value;
    return "(none)";
}

TEST(OverviewPageTest, ShowsTheChosenElementsInOrderAndOnlyThoseWithAValue) {
    const auto ct = PydicomImage("CT_small.dcm");
    const auto mr = PydicomImage("MR_small.dcm");
    TDicomOverviewFrame page;
    page.ShowObject(ct.get());
    // "Referring physician's name" and "Patient date of birth" are empty, "0008.103E" is absent.
    EXPECT_EQ(page.Rows(), (TRows{{"Patient name", "CompressedSamples^CT1"},
                                  {"Acquisition date", "19970430"},
                                  {"Modality", "CT"},
                                  {"Series", "e+1"},
                                  {"Patient ID", "1CT1"},
                                  {"Patient sex", "O"},
                                  {"Patient age", "000Y"},
                                  {"Patient weight", "0.000000"},
                                  {"Patient Position", "FFS"},
                                  {"Image number", "1"},
                                  {"Photometric Interpretation", "MONOCHROME2"},
                                  {"Rows", "128"},
                                  {"Columns", "128"}}));

    // The next object lacks some: their rows go, the others keep their places.
    page.ShowObject(mr.get());
    EXPECT_EQ(page.Rows(), (TRows{{"Patient name", "CompressedSamples^MR1"},
                                  {"Modality", "MR"},
                                  {"Patient ID", "4MR1"},
                                  {"Patient sex", "F"},
                                  {"Patient weight", "80.0000"},
                                  {"Patient Position", "HFS"},
                                  {"Image number", "1"},
                                  {"Photometric Interpretation", "MONOCHROME2"},
                                  {"Rows", "64"},
                                  {"Columns", "64"}}));
    // A row made later comes in below the rows already there.
    page.ShowObject(ct.get());
    EXPECT_EQ(page.Rows(), (TRows{{"Patient name", "CompressedSamples^CT1"},
                                  {"Modality", "CT"},
                                  {"Patient ID", "1CT1"},
                                  {"Patient sex", "O"},
                                  {"Patient weight", "0.000000"},
                                  {"Patient Position", "FFS"},
                                  {"Image number", "1"},
                                  {"Photometric Interpretation", "MONOCHROME2"},
                                  {"Rows", "128"},
                                  {"Columns", "128"},
                                  {"Acquisition date", "19970430"},
                                  {"Series", "e+1"},
                                  {"Patient age", "000Y"}}));
}

TEST(InfoPagesTest, BothPagesFollowTheSeriesSliceAndEmptyWithoutAnObject) {
    const auto series = CtSeries();
    TDicomOverviewFrame overview;
    TDicomInfoFrame full;
    const auto show = [&](TDicomObject* object) {
        full.ShowObject(object);
        overview.ShowObject(object);
    };
    series->SetPosition({0, 0, 0});
    show(series.get());
    EXPECT_EQ(overview.Rows(), (TRows{{"Patient name", "Doe^P1"},
                                      {"Modality", "CT"},
                                      {"Series desc", "Head"},
                                      {"Patient ID", "P1"},
                                      {"Image number", "3"},
                                      {"Rows", "8"},
                                      {"Columns", "8"}}));
    const std::vector<std::string>& elements = series->ImageElements(0);
    ASSERT_EQ(full.Rows().size(), elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i)
        EXPECT_EQ(full.Rows()[i].first + "=" + full.Rows()[i].second, elements[i]);

    // Another slice of the same series: its own image number on both pages.
    series->SetPosition({0, 0, 2});
    show(series.get());
    EXPECT_EQ(ValueOf(full.Rows(), "Image number"), "1");
    EXPECT_EQ(ValueOf(overview.Rows(), "Image number"), "1");
    EXPECT_EQ(full.Rows().size(), elements.size());

    show(nullptr);
    EXPECT_TRUE(overview.Rows().empty());
    EXPECT_TRUE(full.Rows().empty());
    EXPECT_EQ(overview.Object(), nullptr);
    EXPECT_EQ(full.Object(), nullptr);
}

TEST(TraceStampTest, ShowsSecondsAndMillisecondsWithBlanksForZeros) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {1500, " 1.5  "},  {0, "  .   "},     {59999, "59.999"},
        {10010, "1 . 1 "}, {61500, " 1.5  "}, {-500, "59.5  "},
    };
    for (const auto& [elapsed, stamp] : cases) EXPECT_EQ(TraceStamp(elapsed), stamp) << elapsed;
}

// A clock that starts at 42.125 s of a minute and moves 1.5 s per line.
std::function<std::int64_t()> SteppingClock() {
    return [now = std::int64_t{1'700'000'022'125} - 1500]() mutable { return now += 1500; };
}

QStringList Lines(const TTraceFrame& page) {
    return page.Text().isEmpty() ? QStringList() : page.Text().split('\n');
}

TEST(TracePageTest, TenLinesPerFlushNewestOnTop) {
    TTraceFrame page;
    page.SetClock(SteppingClock());
    for (int i = 1; i <= 25; ++i) page.AddLine("line " + std::to_string(i));
    EXPECT_TRUE(page.Text().isEmpty());
    for (const int shown : {10, 20, 25, 25}) {
        page.Flush();
        const QStringList lines = Lines(page);
        ASSERT_EQ(lines.size(), shown);
        for (int k = 0; k < shown; ++k)
            EXPECT_TRUE(lines[k].endsWith(": line " + QString::number(shown - k))) << lines[k].toStdString();
    }
    // The first stamp is the clock's own seconds, the others the time since the line before.
    const QStringList lines = Lines(page);
    EXPECT_EQ(lines.back(), "42.125: line 1");
    EXPECT_EQ(lines.front(), " 1.5  : line 25");
}

TEST(TracePageTest, TheLineLimitDropsTheOldestAndZeroStopsLogging) {
    TTraceFrame page;
    EXPECT_EQ(page.LineLimit(), 200);
    for (int i = 1; i <= 205; ++i) page.AddLine("line " + std::to_string(i));
    while (page.PendingCount() > 0) page.Flush();
    QStringList lines = Lines(page);
    ASSERT_EQ(lines.size(), 200);
    EXPECT_TRUE(lines.front().endsWith(": line 205"));
    EXPECT_TRUE(lines.back().endsWith(": line 6"));

    // "MaxLines:" sets the limit; the next flush holds the log to it.
    page.findChild<QSpinBox*>("MaxLines")->setValue(100);
    page.AddLine("line 206");
    page.Flush();
    lines = Lines(page);
    ASSERT_EQ(lines.size(), 100);
    EXPECT_TRUE(lines.back().endsWith(": line 107"));

    // "Clear" empties the log only; with the limit 0 nothing new is kept and the lines
    // already kept still pass through the log, which the flush then empties.
    page.AddLine("kept");
    page.findChild<QAction*>("ClearButton")->trigger();
    EXPECT_TRUE(page.Text().isEmpty());
    page.SetLineLimit(0);
    EXPECT_EQ(page.LineLimit(), 0);
    page.AddLine("dropped");
    EXPECT_EQ(page.PendingCount(), 1u);
    page.Flush();
    EXPECT_EQ(page.PendingCount(), 0u);
    EXPECT_TRUE(page.Text().isEmpty());
}

} // namespace
} // namespace tarvicon

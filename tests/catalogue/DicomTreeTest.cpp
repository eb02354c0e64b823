#include "catalogue/DicomTrees.h"
#include "config/Schema.h"
#include "support/LosslessJpegWriter.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/Progress.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <thread>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

using test::ImageFile;
using test::Outline;
using test::TImage;

class StudyTree : public ::testing::Test {
protected:
    void Write(const std::string& name, const TImage& image) { Write(name, ImageFile(image)); }
    void Write(const std::string& name, const std::string& bytes) {
        test::WriteFile(folder.Path() / name, bytes);
    }
    std::string Load() {
        tree.OperationPause = 0;
        tree.AddFolder(folder.Path().string());
        return LoadToEnd(tree);
    }
    test::TTempDir folder;
    TDicomTree tree;
};

TEST_F(StudyTree, FilesAndSqueezesSeries) {
    for (int i = 0; i < 3; ++i) {
        TImage im;
        im.Number = std::to_string(i + 1);
        im.Position = i * 5;
        Write("head" + std::to_string(i), im);
    }
    TImage scout; // same series UID, other image type: a series of its own
    scout.ImageType = "DERIVED\\SECONDARY";
    scout.Description = "Scout";
    Write("scout", scout);
    TImage twice; // two files with one image number: the later one stays
    twice.Series = "1.2.3.2";
    twice.Description = "Neck";
    twice.Number = "7";
    Write("neck1", twice);
    Write("neck2", twice);
    TImage mixed; // sizes differ: not merged, captions of the image numbers
    mixed.Series = "1.2.3.3";
    mixed.Description = "Mixed";
    mixed.Number = "12";
    Write("mixed1", mixed);
    mixed.Number = "";
    mixed.Size = 4;
    Write("mixed2", mixed);
    TImage other;
    other.Patient = "P2";
    other.Study = "9.9";
    other.Series = "9.9.1";
    other.SeriesDate = "";
    other.Description = "Chest";
    Write("other", other);
    Write("Study_skipped", other);

    ASSERT_EQ(Load(), "");
    EXPECT_EQ(Outline(tree), "Doe^P1 P1\n"
                             "  2007.03.15\n"
                             "    Head (CT[3]) {3x3}\n"
                             "    Mixed (CT)\n"
                             "      0012 {1x1}\n"
                             "      dummy {1x1}\n"
                             "    Neck (CT) {1x1}\n"
                             "    Scout (CT) {1x1}\n"
                             "Doe^P2 P2\n"
                             "  ..\n"
                             "    Chest (CT) {1x1}\n");
    EXPECT_EQ(tree.ObjectCount(), 6);
    // The run selected the first object; the series of three is no volume without a thickness.
    EXPECT_EQ(tree.SelectedObject(), tree.ObjectAt(0));
    TDicomObject& head = *tree.ObjectAt(0);
    EXPECT_FALSE(head.IsVolume());
    EXPECT_EQ(head.Cube().Metrics().Z, 1);
    EXPECT_EQ(head.Cube().Voxel(0, 0, 0), 110); // the highest slice position comes first
}

TEST_F(StudyTree, VolumesNeedThicknessOrDepth) {
    const struct {
        int slices;
        const char* thickness;
        bool volume;
    } cases[] = {{40, "", false}, {40, "2.5", true}, {3, "2.5", false}, {4, "2.5", true}, {65, "", true}};
    for (const auto& c : cases) {
        test::TTempDir series;
        for (int i = 0; i < c.slices; ++i) {
            TImage im;
            im.Number = std::to_string(i + 1);
            im.Position = i;
            im.Size = 2;
            im.Thickness = c.thickness;
            test::WriteFile(series.Path() / std::to_string(i), ImageFile(im));
        }
        TDicomTree local;
        local.AddFolder(series.Path().string());
        ASSERT_EQ(LoadToEnd(local), "");
        ASSERT_EQ(local.ObjectCount(), 1);
        EXPECT_EQ(local.ObjectAt(0)->IsVolume(), c.volume) << c.slices << " " << c.thickness;
        EXPECT_EQ(local.ObjectAt(0)->Cube().Metrics().Z == 1, !c.volume) << c.slices;
    }
}

TEST_F(StudyTree, BadFilesBecomeErrorNodesAndFiveStopTheRun) {
    Write("good", TImage());
    test::WriteFile(folder.Path() / "text.txt", "not a DICOM file");
    test::WriteFile(folder.Path() / "truncated", ImageFile(TImage()).substr(0, 300));
    fs::create_symlink(folder.Path() / "nowhere", folder.Path() / "dangling");
    test::WriteFile(folder.Path() / "empty", "");
    test::WriteFile(folder.Path() / "more.bin", "\x01\x02");
    ASSERT_EQ(Load(), ""); // four errors: the run goes on
    // A failed fetch is parsed like a file, so the open error also ends as a format error; the
    // cut file reads as far as it goes.
    EXPECT_EQ(tree.ErrorCount(), 4);
    const std::string outline = Outline(tree);
    EXPECT_NE(outline.find("dummy Error: Invalid DICOM file format 1"), std::string::npos) << outline;
    EXPECT_NE(outline.find("Head (CT) {1x1}"), std::string::npos) << outline;
    // The bad files share one node, each replacing the one before: it names the last error only.
    std::size_t errors = 0;
    for (std::size_t at = outline.find("Error: "); at != std::string::npos; at = outline.find("Error: ", at + 1))
        ++errors;
    EXPECT_EQ(errors, 1u) << outline;

    test::WriteFile(folder.Path() / "more2.bin", "\x03");
    TDicomTree second;
    second.AddFolder(folder.Path().string());
    const std::string stopped = LoadToEnd(second);
    EXPECT_EQ(stopped.rfind("Too many errors:\r\n", 0), 0u) << stopped;
    EXPECT_FALSE(second.Loading());
    EXPECT_FALSE(ProgressActive());
}

// Bytes the heap holds in live allocations, large ones included.
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

TEST_F(StudyTree, LoadedSeriesKeepsItsPixelsOnlyInTheCube) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers keep their own heap";
#endif
    // 100 images of 256 × 256 16-bit samples: 12.5 MiB of pixels.
    constexpr int kImages = 100, kSize = 256;
    constexpr std::size_t kPixels = std::size_t(kImages) * kSize * kSize * 2;
    for (int i = 0; i < kImages; ++i) {
        TImage image;
        image.Number = std::to_string(i + 1);
        image.Position = i;
        image.Size = kSize;
        Write(std::to_string(i), image);
    }
    const std::size_t before = HeapInUse();
    ASSERT_EQ(Load(), "");
    ASSERT_EQ(tree.ObjectCount(), 1);
    const auto* series = dynamic_cast<const TDicomArrayImage*>(tree.ObjectAt(0));
    ASSERT_NE(series, nullptr);
    ASSERT_EQ(series->Cube().ByteSize(), kPixels);
    ASSERT_EQ(series->ImageCount(), kImages);
    for (const auto& file : series->Files()) EXPECT_EQ(file->PixelDataSize(), 0u);
    // The cube lives outside the heap (a mapped store); what stays on the heap is the element
    // lists and the tree, far below the pixels the files brought.
    const std::size_t after = HeapInUse();
    const std::size_t grown = after > before ? after - before : 0;
    RecordProperty("heap_growth_bytes", std::to_string(grown));
    EXPECT_LT(grown, kPixels / 8) << "heap grew by " << grown << " bytes";
}

// Minor page faults of the whole process so far.
long PageFaults() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

TEST_F(StudyTree, WholePageSlicesMoveIntoTheCubeWithoutFreshPages) {
    // 24 images of 512 × 512 16-bit samples: each file's pixels are 128 whole pages at its end,
    // which the squeeze hands to the cube instead of copying them into fresh pages.
    constexpr int kImages = 24, kSize = 512;
    constexpr long kFilePages = long(kImages) * kSize * kSize * 2 / 4096;
    for (int i = 0; i < kImages; ++i) {
        TImage image;
        image.Number = std::to_string(i + 1);
        image.Position = i;
        image.Size = kSize;
        Write(std::to_string(i), image);
    }
    // Small pages only, so that the faults count pages whatever the system's huge-page setting.
    const int hugeOff = prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0);
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    const long before = PageFaults();
    const std::string stopped = Load();
    const long faults = PageFaults() - before;
    prctl(PR_SET_THP_DISABLE, hugeOff > 0 ? 1 : 0, 0, 0, 0);
    ASSERT_EQ(stopped, "");
    ASSERT_EQ(tree.ObjectCount(), 1);
    const auto* series = dynamic_cast<const TDicomArrayImage*>(tree.ObjectAt(0));
    ASSERT_NE(series, nullptr);
    const TPixelCube& cube = series->Cube();
    ASSERT_EQ(cube.Depth(), std::uint32_t(kImages));
    ASSERT_EQ(cube.ByteSize(), std::uint64_t(kFilePages) * 4096);
    // Every sample of slice z is 100 + the position of the z-th file, highest position first.
    const auto* samples = reinterpret_cast<const std::uint16_t*>(cube.Voxels());
    for (int z = 0; z < kImages; ++z) {
        const std::uint16_t expected = std::uint16_t(100 + kImages - 1 - z);
        const auto* slice = samples + std::size_t(z) * kSize * kSize;
        EXPECT_EQ(std::count(slice, slice + kSize * kSize, expected), kSize * kSize) << z;
    }
    for (const auto& file : series->Files()) EXPECT_EQ(file->PixelDataSize(), 0u);
    // Reading the files faults in their pages once; a squeeze that copied them would fault in
    // as many again for the cube.
    RecordProperty("page_faults", std::to_string(faults));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) // they fault in shadow pages
    EXPECT_LT(faults, kFilePages + kFilePages / 2)
        << faults << " faults for " << kFilePages << " pages of files";
#endif
}

TEST_F(StudyTree, SelectionOverlayAndSeriesCommands) {
    TImage slices;
    slices.Thickness = "1";
    test::WriteSeries(folder.Path(), "a", 4, slices);
    TImage other;
    other.Series = "1.2.3.9";
    other.Description = "Other";
    Write("b", other);
    ASSERT_EQ(Load(), "");
    ASSERT_EQ(tree.ObjectCount(), 2);
    TDicomObject& head = *tree.ObjectAt(0);
    TDicomObject& single = *tree.ObjectAt(1);

    tree.SelectNode(nullptr);
    tree.SelectNext(); // from the first node, skipping it
    EXPECT_EQ(tree.SelectedObject(), &head);
    tree.SelectNext();
    EXPECT_EQ(tree.SelectedObject(), &single);
    tree.SelectPrevious();
    EXPECT_EQ(tree.SelectedSerial(), head.SerialNumber());
    tree.SelectBySerial(-1);
    EXPECT_EQ(tree.SelectedObject(), nullptr);
    tree.SelectBySerial(single.SerialNumber());
    EXPECT_EQ(tree.SelectedObject(), &single);
    tree.SelectOverlayBySerial(head.SerialNumber());
    EXPECT_TRUE(tree.NodeOf(&head)->OverlayMarked());
    tree.SelectOverlayBySerial(12345678);
    EXPECT_EQ(tree.OverlayObject(), nullptr);
    EXPECT_FALSE(tree.NodeOf(&head)->OverlayMarked());

    auto root = CreateParameterTree();
    struct TCounts : ITreeListener {
        int cubeChanges = 0, changes = 0;
        void CubeChanged(TDicomTree&) override { ++cubeChanges; }
        void SelectionChanged(TDicomTree&) override { ++changes; }
    } counts;
    const TScopedTreeListener listening(tree, counts);
    int& cubeChanges = counts.cubeChanges;
    int& changes = counts.changes;
    for (const char* path : {"detail/series/xpose-left-right", "detail/series/upscale-z",
                             "detail/series/revert", "detail/series/next", "detail/overlay"})
        tree.Listen(*root->FindNode(path));
    tree.SelectObject(&head);
    const std::uint32_t depth = head.Cube().Depth();
    root->FindNode("detail/series/upscale-z")->NotifyListeners();
    EXPECT_EQ(head.Cube().Depth(), 2 * depth - 1);
    EXPECT_FALSE(ProgressActive());
    EXPECT_FALSE(tree.IsBusy());
    EXPECT_TRUE(tree.TakeChanged());
    root->FindNode("detail/series/xpose-left-right")->NotifyListeners();
    root->FindNode("detail/series/revert")->NotifyListeners();
    EXPECT_EQ(head.Cube().Depth(), depth);
    EXPECT_EQ(cubeChanges, 3);
    root->FindNode("detail/overlay")->SetText(std::to_string(single.SerialNumber()));
    EXPECT_EQ(tree.OverlayObject(), &single);
    root->FindNode("detail/series/next")->NotifyListeners();
    EXPECT_EQ(tree.SelectedObject(), &single);
    EXPECT_GT(changes, 0);
}

// A series as the cube holds it: extents, spacing and every voxel.
std::string CubeState(const TDicomObject& object) {
    const TPixelCube& cube = object.Cube();
    std::ostringstream out;
    out << cube.Width() << "x" << cube.Height() << "x" << cube.Depth() << " " << cube.Metrics().Z << " ";
    out.write(reinterpret_cast<const char*>(cube.Voxels()), std::streamsize(cube.ByteSize()));
    return out.str();
}

TEST_F(StudyTree, LaterRunsKeepTheSeriesOfEarlierOnes) {
    TImage slices;
    slices.Thickness = "1";
    test::WriteSeries(folder.Path(), "head", 4, slices);
    TImage mixed; // not merged: each image keeps its own cube
    mixed.Series = "1.2.3.3";
    mixed.Description = "Mixed";
    Write("mixed1", mixed);
    mixed.Number = "2";
    mixed.Size = 4;
    Write("mixed2", mixed);
    ASSERT_EQ(Load(), "");
    ASSERT_EQ(tree.ObjectCount(), 3);
    TDicomObject* head = tree.ObjectAt(0);
    auto root = CreateParameterTree();
    tree.Listen(*root->FindNode("detail/series/upscale-z"));
    tree.SelectObject(head);
    root->FindNode("detail/series/upscale-z")->NotifyListeners();
    ASSERT_EQ(head->Cube().Depth(), 7u);
    std::vector<std::string> before;
    for (int i = 0; i < 3; ++i) before.push_back(CubeState(*tree.ObjectAt(i)));

    test::TTempDir second;
    TImage other;
    other.Series = "1.2.3.9";
    other.Description = "Other";
    test::WriteFile(second.Path() / "other", ImageFile(other));
    tree.AddFolder(second.Path().string());
    ASSERT_EQ(LoadToEnd(tree), "");
    tree.AddFolder(folder.Path().string()); // the first folder again
    ASSERT_EQ(LoadToEnd(tree), "");

    // The earlier series keeps its object, voxels and operations; the files loaded again form
    // a series beside it. Single images of the same numbers are replaced by the later files,
    // which are built again, not left black.
    EXPECT_EQ(tree.ObjectAt(0), head);
    EXPECT_EQ(Outline(tree), "Doe^P1 P1\n"
                             "  2007.03.15\n"
                             "    Head (CT[4]) {4x7}\n"
                             "    Head (CT[4]) {4x4}\n"
                             "    Mixed (CT)\n"
                             "      0001 {1x1}\n"
                             "      0002 {1x1}\n"
                             "    Other (CT) {1x1}\n");
    EXPECT_EQ(CubeState(*tree.ObjectAt(0)), before[0]);
    EXPECT_EQ(CubeState(*tree.ObjectAt(2)), before[1]);
    EXPECT_EQ(CubeState(*tree.ObjectAt(3)), before[2]);
    EXPECT_EQ(tree.ObjectAt(1)->Cube().Voxel(0, 0, 0), 103);
}

// A progress sink whose user cancels once the run has shown a few updates.
struct TCancellingSink : IProgressSink {
    int Shown = 0;
    int CancelAfter = 3;
    void Started() override {}
    void Show(int, const std::string&, const std::string&, const std::string&) override { ++Shown; }
    bool CancelRequested() override { return Shown > CancelAfter; }
    void Ended() override {}
};

TEST_F(StudyTree, ACancelledRunTakesBackOnlyWhatItFiled) {
    TImage slices;
    slices.Thickness = "1";
    test::WriteSeries(folder.Path(), "head", 4, slices);
    ASSERT_EQ(Load(), "");
    tree.SelectObject(tree.ObjectAt(0));
    const std::string before = Outline(tree);

    test::TTempDir second;
    TImage other;
    other.Patient = "P2";
    other.Series = "1.2.3.9";
    other.Thickness = "1";
    test::WriteSeries(second.Path(), "other", 12, other);
    TImage more = slices; // joins the first patient's study as a series of its own
    more.Series = "1.2.3.5";
    test::WriteSeries(second.Path(), "more", 12, more);
    TCancellingSink sink;
    SetProgressSink(&sink);
    tree.AddFolder(second.Path().string());
    EXPECT_EQ(LoadToEnd(tree), "");
    SetProgressSink(nullptr);
    EXPECT_FALSE(tree.Loading());
    EXPECT_EQ(Outline(tree), before);
    ASSERT_NE(tree.SelectedObject(), nullptr);
    EXPECT_EQ(tree.SelectedObject(), tree.ObjectAt(0));
}

// Records what the tree tells, and throws from the event named in ThrowOn.
struct TRecorder : ITreeListener {
    std::string ThrowOn;
    int Changing = 0, Changed = 0, Depth = 0, MaxDepth = 0;
    std::vector<const TDicomObject*> Destroyed;
    std::vector<std::string> Events;

    void Note(const std::string& event) {
        Events.push_back(event);
        if (event == ThrowOn) throw WException("handler failed in " + event);
    }
    void StructureChanging(TDicomTree&) override {
        ++Changing;
        MaxDepth = std::max(MaxDepth, ++Depth);
    }
    void StructureChanged(TDicomTree&) override {
        ++Changed;
        --Depth;
    }
    void ObjectDestroying(TDicomTree&, const TDicomObject& object) override { Destroyed.push_back(&object); }
    void CubeChanged(TDicomTree&) override { Note("cube"); }
    void LoadingFinished(TDicomTree&) override { Note("loaded"); }
    void SelectionChanged(TDicomTree&) override { Note("selection"); }
};

TEST_F(StudyTree, ListenersSeeStructureAndDestructions) {
    test::WriteSeries(folder.Path(), "a", 3, TImage());
    TRecorder recorder;
    const TScopedTreeListener listening(tree, recorder);
    ASSERT_EQ(Load(), "");
    EXPECT_EQ(recorder.Changing, recorder.Changed);
    EXPECT_EQ(recorder.MaxDepth, 1);
    EXPECT_EQ(recorder.Destroyed.size(), 3u); // the single images merged into the series
    EXPECT_EQ(std::count(recorder.Events.begin(), recorder.Events.end(), "loaded"), 1);
    const TDicomObject* series = tree.ObjectAt(0);
    ASSERT_NE(series, nullptr);
    EXPECT_EQ(tree.SelectedObject(), series);
    recorder.Destroyed.clear();
    tree.Clear();
    EXPECT_EQ(recorder.Destroyed, std::vector<const TDicomObject*>{series});
    EXPECT_EQ(tree.Selected(), nullptr);
    EXPECT_EQ(recorder.Depth, 0);
}

TEST_F(StudyTree, HandlerFailuresReachTheCaller) {
    test::WriteSeries(folder.Path(), "a", 2, TImage());
    TRecorder recorder;
    recorder.ThrowOn = "loaded";
    const TScopedTreeListener listening(tree, recorder);
    EXPECT_EQ(test::ErrorOf([&] { Load(); }), "handler failed in loaded");
    EXPECT_FALSE(tree.Loading());
    EXPECT_FALSE(ProgressActive());
    EXPECT_EQ(tree.ObjectCount(), 1);

    recorder.ThrowOn = "cube";
    auto root = CreateParameterTree();
    tree.Listen(*root->FindNode("detail/series/upscale-z"));
    EXPECT_EQ(test::ErrorOf([&] { root->FindNode("detail/series/upscale-z")->NotifyListeners(); }),
              "handler failed in cube");
    EXPECT_FALSE(tree.IsBusy());
    EXPECT_FALSE(ProgressActive());
}

// A host that notes which thread asks it.
class TThreadHost : public IHost {
public:
    bool AskYesNo(const std::string&) override { return Note(); }
    void Notice(const std::string& text) override {
        Note();
        notices.push_back(text);
    }
    bool ShiftHeld() override { return Note(); }
    bool CapsLockToggled() override { return Note(); }
    std::uint64_t TickCount() override { return fallback.TickCount(); }
    int ScreenWidth() override { return 1920; }

    std::vector<std::string> notices;
    bool otherThread = false;

private:
    bool Note() {
        if (std::this_thread::get_id() != owner) otherThread = true;
        return false;
    }
    std::thread::id owner = std::this_thread::get_id();
    THeadlessHost fallback;
};

TEST_F(StudyTree, ReadersLeaveTheHostToTheCallingThread) {
    // Lossless JPEG files whose streams are baseline: each read has a notice for the user.
    for (int i = 0; i < 6; ++i) {
        test::TJpegOptions baseline;
        baseline.FrameMarker = 0xC0;
        test::TDicomWriter w;
        w.Preamble().Meta("1.2.840.10008.1.2.4.70");
        w.Explicit(0x0010, 0x0020, "LO", "P1").Explicit(0x0020, 0x0013, "IS", std::to_string(i + 1));
        w.US(0x0028, 0x0010, 8).US(0x0028, 0x0011, 8);
        w.US(0x0028, 0x0100, 8).US(0x0028, 0x0101, 8).US(0x0028, 0x0102, 7);
        w.Encapsulated({test::EncodeLosslessJpeg(std::vector<std::uint16_t>(64, 9), 8, 8, baseline)});
        Write("jpeg" + std::to_string(i), w.Bytes());
    }
    TThreadHost host;
    const TScopedHost scoped(host);
    ASSERT_EQ(Load(), "");
    EXPECT_FALSE(host.otherThread);
    EXPECT_EQ(host.notices, std::vector<std::string>(6, "Unable to extract this file format."));
}

// pydicom's own grouping of its DICOMDIR test folders: patient, study, series (with image type)
// and the number of images in each.
TEST(StudyTreeOnRealFiles, GroupsAsPydicomDoes) {
    const fs::path folder = test::PydicomTestFiles() / "dicomdirtests";
    const auto script = R"(
import os, sys, collections, pydicom
counts = collections.Counter()
for top, dirs, files in os.walk(sys.argv[1]):
    for name in files:
        try:
            d = pydicom.dcmread(os.path.join(top, name), stop_before_pixels=True)
        except Exception:
            continue
        if 'PixelData' not in pydicom.dcmread(os.path.join(top, name)) or not d.get('PatientID'):
            continue
        it = d.get('ImageType')
        it = '\\'.join(it) if isinstance(it, (list, pydicom.multival.MultiValue)) else str(it or '')
        counts[(d.PatientID, d.StudyInstanceUID, d.SeriesInstanceUID, it)] += 1
for key, n in sorted(counts.items()):
    print('|'.join(key) + '=' + str(n))
)";
    const auto result = test::RunProcess({TARVICON_PYTHON, "-c", script, folder.string()});
    ASSERT_EQ(result.Status, 0) << result.Err;

    TDicomTree tree;
    tree.AddFolder(folder.string());
    LoadToEnd(tree);
    std::map<std::string, int> ours;
    for (int i = 0; i < tree.ObjectCount(); ++i) {
        const TDicomObject& o = *tree.ObjectAt(i);
        if (o.GetValue("Patient ID").empty() || o.Cube().ByteSize() == 0) continue;
        const std::string key = o.GetValue("Patient ID") + "|" + o.GetValue("Study Instance UID") + "|" +
                                o.GetValue("Series Instance UID") + "|" + o.GetValue("Image type");
        ours[key] += o.ImageCount();
    }
    std::set<std::string> expected, found;
    std::istringstream lines(result.Out);
    for (std::string line; std::getline(lines, line);) expected.insert(line);
    for (const auto& [key, n] : ours) found.insert(key + "=" + std::to_string(n));
    EXPECT_EQ(found, expected);
    EXPECT_GE(found.size(), 10u);
}

} // namespace
} // namespace tarvicon

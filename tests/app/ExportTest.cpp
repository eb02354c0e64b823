// The export of the main window on the offscreen platform: still pictures with their legend and
// selection frame, the rotation as a GIF and a video, cancel and write failures, the selection
// frame's settings, the export folder and the cuboid file. Files are read back.

#include "app/MainForms.h"
#include "support/GifReading.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "util/Progress.h"
#include "views/DicomViewFrames.h"
#include "views/TracedHosts.h"
#include "volume/PixelCube.h"

#include <QApplication>
#include <QImage>
#include <QSettings>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

// Cancels a run after a number of updates, as "Storno" pressed during it.
class TCancellingSink : public IProgressSink {
public:
    explicit TCancellingSink(int updates) : left_(updates) {}
    void Started() override {}
    void Show(int, const std::string&, const std::string& text, const std::string&) override {
        texts.push_back(text);
        --left_;
    }
    bool CancelRequested() override { return left_ <= 0; }
    void Ended() override { ended = true; }
    std::vector<std::string> texts;
    bool ended = false;

private:
    int left_;
};

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir_.Path() / "settings"));
        const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
        if (documents) documents_ = documents;
        setenv("XDG_DOCUMENTS_DIR", (dir_.Path() / "documents").c_str(), 1);
        exportFolder_ = dir_.Path() / "documents" / "Melvor2" / "DICOM" / "Export";
        study_ = dir_.Path() / "study";
        test::TImage image;
        image.Thickness = "1";
        image.Size = 32;
        image.Accession = "1234";
        image.BirthDate = "19650412";
        image.Sex = "M";
        fs::create_directories(study_);
        test::WriteSeries(study_, "head", 32, image);
    }

    void TearDown() override {
        form_.reset();
        scopedHost_.reset();
        SetProgressSink(nullptr);
        if (documents_)
            setenv("XDG_DOCUMENTS_DIR", documents_->c_str(), 1);
        else
            unsetenv("XDG_DOCUMENTS_DIR");
    }

    void Start() {
        TFormStart start;
        TakeCommandLineArgument(study_.string(), start.CommandLine);
        start.ProgramPath = (test::BinDir() / "tarvicon").string();
        start.SettingsName = "tarvicon-export-test";
        start.Dialogs.Error = [this](const std::string& text) {
            errors_.push_back(text);
            progressOpenAtError_ = ProgressActive();
        };
        start.Dialogs.SavePicture = [this](const std::string& folder, const std::string& proposed,
                                           bool animated) {
            proposals_.push_back(proposed);
            startFolders_.push_back(folder);
            offeredAnimation_ = animated;
            return answer_.empty() ? proposed : answer_;
        };
        start.Dialogs.InputLegend = [this](const std::string& legend) -> std::optional<std::string> {
            asked_.push_back(legend);
            return legendAnswer_;
        };
        start.Dialogs.OpenFolder = [this](const std::string& folder) {
            opened_.push_back(folder);
            return true;
        };
        form_ = std::make_unique<TForm1>(std::move(start), trace_, host_);
        form_->resize(900, 700);
        form_->show();
        for (int i = 0; i < 100000 && (!form_->Started() || form_->LoadPending()); ++i) {
            form_->IdleWork();
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        ASSERT_NE(form_->DetailView().DicomObject(), nullptr) << test::ReadFile(dir_.Path() / "trace.txt");
    }

    TConfigNode& Node(const char* path) { return *form_->Root().FindNode(path); }
    void Fire(const char* path) { static_cast<TEventNode&>(Node(path)).Fire(); }

    test::TTempDir dir_;
    std::optional<std::string> documents_;
    fs::path study_, exportFolder_;
    TTraceFile trace_{(dir_.Path() / "trace.txt").string()};
    TTracedHost host_{trace_};
    std::unique_ptr<TScopedHost> scopedHost_ = std::make_unique<TScopedHost>(host_);
    std::unique_ptr<TForm1> form_;
    std::vector<std::string> errors_, proposals_, startFolders_, asked_, opened_;
    bool progressOpenAtError_ = false;
    bool offeredAnimation_ = false;
    std::string answer_;
    std::optional<std::string> legendAnswer_ = std::string(" edited legend ");
};

TEST_F(ExportTest, StillPicturesCarryTheLegendAndTheSelectionFrameLimitsTheJpeg) {
    Start();
    // The first export makes the folder and proposes the accession number's first free name.
    Fire("detail/savebitmap");
    ASSERT_TRUE(errors_.empty()) << errors_.front();
    ASSERT_EQ(proposals_.size(), 1u);
    EXPECT_EQ(proposals_[0], (exportFolder_ / "1234-01.jpg").string());
    EXPECT_EQ(startFolders_[0], exportFolder_.string());
    EXPECT_FALSE(offeredAnimation_);
    ASSERT_EQ(asked_.size(), 1u);
    EXPECT_EQ(asked_[0], " 15.3.2007: Doe^P1, 12.4.1965, M, P1 ");
    QImage whole(QString::fromStdString((exportFolder_ / "1234-01.jpg").string()));
    ASSERT_FALSE(whole.isNull());
    // The legend: white text on black at the top left.
    const QRgb corner = whole.pixel(1, 1);
    EXPECT_LT(qRed(corner) + qGreen(corner) + qBlue(corner), 40);
    int white = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < std::min(whole.width(), 120); ++x) white += qGray(whole.pixel(x, y)) > 200;
    EXPECT_GT(white, 10);

    // With the selection frame shown, the JPEG holds only the frame's area; a BMP the whole view.
    form_->DetailView().SelectionFrame().Width = 200;
    form_->DetailView().SelectionFrame().Height = 150;
    Node("detail/crop-frame").SetAsInteger(1);
    EXPECT_TRUE(form_->DetailView().SelectionFrame().Visible);
    EXPECT_EQ(QSettings("Quintar", "tarvicon-export-test").value("SelectionWidth").toInt(), 200);
    Fire("detail/savebitmap");
    EXPECT_EQ(proposals_.back(), (exportFolder_ / "1234-02.jpg").string());
    const QImage framed(QString::fromStdString(proposals_.back()));
    EXPECT_EQ(framed.size(), QSize(200, 150));
    answer_ = (exportFolder_ / "view.bmp").string();
    Fire("detail/savebitmap");
    const QImage bitmap(QString::fromStdString(answer_));
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.size(), form_->DetailView().ImgView().viewport()->size());
    EXPECT_TRUE(form_->DetailView().SelectionFrame().Visible); // shown again after the picture

    // Another extension: nothing written, nothing said.
    answer_ = (exportFolder_ / "note.txt").string();
    Fire("detail/savebitmap");
    EXPECT_FALSE(fs::exists(answer_));
    EXPECT_TRUE(errors_.empty());

    // The automatic export asks nothing and takes the next number, the BMP's one included.
    answer_.clear();
    const std::size_t asks = asked_.size();
    Fire("detail/savebitmapauto");
    EXPECT_EQ(asked_.size(), asks);
    EXPECT_TRUE(fs::exists(exportFolder_ / "1234-03.jpg"));
    EXPECT_NE(
        test::ReadFile(dir_.Path() / "trace.txt").find("Saved " + (exportFolder_ / "1234-03.jpg").string()),
        std::string::npos);
}

TEST_F(ExportTest, TheRotationIsAGifOf72FramesAndTheViewComesBack) {
    Start();
    // Values that change across the series (the phantom's change only from slice to slice, which
    // a turn about the slices' axis never shows), and the automatic window over them.
    TPixelCube& cube = form_->DetailView().DicomObject()->Cube();
    for (std::uint32_t z = 0; z < cube.Depth(); ++z)
        for (std::uint32_t y = 0; y < cube.Height(); ++y)
            for (std::uint32_t x = 0; x < cube.Width(); ++x) {
                const auto value = std::uint16_t(100 + (x + 2 * y + 3 * z) % 40);
                std::memcpy(cube.VoxelPtr(x, y, z), &value, 2);
            }
    form_->DetailView().ClearCaches();
    Node("detail/slices/autolevels").SetAsInteger(0); // the whole cube's histogram
    Node("detail/rotate").SetAsInteger(1);
    Fire("detail/savebitmapauto");
    ASSERT_TRUE(errors_.empty()) << errors_.front();
    const test::TGif gif = test::ReadGif(exportFolder_ / "1234-01.gif");
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->ImageCount, 72);
    GraphicsControlBlock control{};
    ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), 0, &control), GIF_OK);
    EXPECT_EQ(control.DelayTime, 10);
    EXPECT_EQ(test::LoopCount(gif->SavedImages[0]), 0);
    EXPECT_NE(test::FrameIndices(*gif, 0), test::FrameIndices(*gif, 18)); // -180° and -90° differ
    EXPECT_EQ(Node("detail/angle").GetAsFloat(), 175);
    EXPECT_FALSE(form_->DetailView().HideCross());

    // The dialog offers the animation's formats; a video of the rotation.
    answer_ = (exportFolder_ / "turn.mp4").string();
    Fire("detail/savebitmap");
    EXPECT_TRUE(offeredAnimation_);
    ASSERT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_GT(fs::file_size(answer_), 1000u);
}

TEST_F(ExportTest, ACancelledAnimationWritesNothing) {
    Start();
    Node("detail/rotate").SetAsInteger(1);
    TCancellingSink sink(5);
    SetProgressSink(&sink);
    for (const char* name : {"cancelled.gif", "cancelled.webm"}) {
        answer_ = (exportFolder_ / name).string();
        Fire("detail/savebitmap");
        EXPECT_TRUE(errors_.empty());
        EXPECT_FALSE(fs::exists(answer_)) << name;
    }
    // The progress counts the angles from −180° and stops at the cancel.
    ASSERT_GE(sink.texts.size(), 2u);
    EXPECT_EQ(sink.texts[1], "-180\u00B0");
    EXPECT_EQ(std::count(sink.texts.begin(), sink.texts.end(), "Optimizing image"), 0);
    EXPECT_FALSE(ProgressActive());
    EXPECT_FALSE(form_->DetailView().HideCross());
    // Nothing but the progress's own files: no temporaries left behind.
    for (const auto& entry : fs::directory_iterator(exportFolder_)) ADD_FAILURE() << entry.path();
}

TEST_F(ExportTest, AWriteFailureIsReportedAfterTheProgressClosed) {
    Start();
    answer_ = (dir_.Path() / "missing" / "x.jpg").string();
    Fire("detail/savebitmap");
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("Cannot create file"), std::string::npos) << errors_[0];
    EXPECT_FALSE(progressOpenAtError_);
    EXPECT_FALSE(fs::exists(answer_));
    // The window goes on: the next export works.
    answer_.clear();
    Fire("detail/savebitmap");
    EXPECT_EQ(errors_.size(), 1u);
    EXPECT_TRUE(fs::exists(exportFolder_ / "1234-01.jpg"));
}

TEST_F(ExportTest, TheCuboidAndTheExportFolder) {
    Start();
    Fire("detail/savecuboid");
    ASSERT_TRUE(errors_.empty()) << errors_.front();
    TPixelCube saved;
    saved.LoadFromFile((exportFolder_ / "cuboid.cub").string());
    TPixelCube& shown = form_->DetailView().DicomObject()->Cube();
    ASSERT_EQ(saved.ByteSize(), shown.ByteSize());
    EXPECT_EQ(saved.Depth(), shown.Depth());
    EXPECT_EQ(std::memcmp(saved.VoxelPtr(0, 0, 0), shown.VoxelPtr(0, 0, 0), saved.ByteSize()), 0);
    Fire("detail/savebitmapopen");
    EXPECT_EQ(opened_, std::vector<std::string>{exportFolder_.string()});
}

} // namespace
} // namespace tarvicon

// The main window on the offscreen platform, started as the program starts it: a study opened
// from the command line, the series shown in the four views, the memory each series keeps,
// the twin position, and the bad inputs that must leave a usable window.

#include "app/MainForms.h"
#include "app/ProgressForms.h"
#include "app/StudyTreeViews.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "util/Host.h"
#include "views/DicomViewFrames.h"
#include "views/TracedHosts.h"

#include <QApplication>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

// Two CT volumes of one study (six slices with a slice thickness each), distinct in their values.
void WriteStudy(const fs::path& folder) {
    fs::create_directories(folder);
    test::TImage head;
    head.Thickness = "1";
    head.Size = 16;
    test::WriteSeries(folder, "head", 6, head);
    test::TImage chest = head;
    chest.Series = "1.2.3.2";
    chest.Description = "Chest";
    test::WriteSeries(folder, "chest", 6, chest);
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir_.Path() / "settings"));
        study_ = dir_.Path() / "study";
        WriteStudy(study_);
    }

    void TearDown() override {
        form_.reset();
        scopedHost_.reset();
    }

    // Starts the window on the arguments and runs idle passes until the load has ended.
    void Start(const std::vector<std::string>& arguments) {
        TFormStart start;
        for (const std::string& argument : arguments) TakeCommandLineArgument(argument, start.CommandLine);
        start.ProgramPath = (test::BinDir() / "tarvicon").string();
        start.SettingsName = "tarvicon-test";
        start.Dialogs.Error = [this](const std::string& text) { errors_.push_back(text); };
        start.Dialogs.BrowseFolder = [this](const std::string& caption, const std::string&) {
            captions_.push_back(caption);
            return browseAnswer_;
        };
        form_ = std::make_unique<TForm1>(std::move(start), trace_, host_);
        form_->OnFatal = [this](int status) { fatal_ = status; };
        form_->resize(1200, 800);
        form_->show();
        RunIdle();
    }

    void RunIdle() {
        for (int i = 0; i < 100000 && (!form_->Started() || form_->LoadPending()); ++i) {
            form_->IdleWork();
            QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    }

    TDicomObject* Series(const std::string& description) {
        for (int i = 0; i < form_->Tree().ObjectCount(); ++i)
            if (form_->Tree().ObjectAt(i)->Description() == description) return form_->Tree().ObjectAt(i);
        return nullptr;
    }

    double Low() { return form_->Root().FindNode("detail/colormapping/level/low")->GetAsFloat(); }
    void SetLow(double low) { form_->Root().FindNode("detail/colormapping/level/low")->SetAsFloat(low); }

    test::TTempDir dir_;
    fs::path study_;
    TTraceFile trace_{(dir_.Path() / "trace.txt").string()};
    TTracedHost host_{trace_};
    std::unique_ptr<TScopedHost> scopedHost_ = std::make_unique<TScopedHost>(host_);
    std::unique_ptr<TForm1> form_;
    std::vector<std::string> errors_;
    std::vector<std::string> captions_;
    std::string browseAnswer_;
    int fatal_ = -1;
};

TEST_F(MainFormTest, OpensTheStudyInFourLinkedViews) {
    Start({study_.string()});
    ASSERT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(captions_.empty()); // something was opened: no folder dialog
    ASSERT_EQ(form_->Tree().ObjectCount(), 2) << test::ReadFile(dir_.Path() / "trace.txt");
    TDicomObject* shown = form_->DetailView().DicomObject();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown, form_->Tree().SelectedObject());
    for (const TDicomViewFrame* view : form_->Views())
        EXPECT_EQ(view->DicomObject(), shown) << view->ViewName();
    EXPECT_EQ(form_->Views()[1]->ViewPath(), "RFT");
    EXPECT_EQ(form_->Views()[3]->FitMode(), 2);
    // The study tree widget lists the patient with its study and series.
    EXPECT_EQ(form_->TreeView().topLevelItemCount(), 1);
    form_->UpdateStatusBar();
    EXPECT_TRUE(form_->StatusText(0).contains(" : ")) << form_->StatusText(0).toStdString();
    EXPECT_TRUE(form_->StatusText(2).endsWith("mm")) << form_->StatusText(2).toStdString();
    // A click in the detail view moves the navigation views to pictures through the new point:
    // they share the series, which the detail view has moved already.
    for (TDicomViewFrame* view : form_->Views()) view->repaint();
    for (const TDicomViewFrame* view : form_->Views()) ASSERT_FALSE(view->NeedsBuild()) << view->ViewName();
    const QPoint cross = form_->DetailView().Position();
    form_->DetailView().SetPosition(cross + QPoint(3, 2));
    EXPECT_TRUE(form_->Views()[1]->NeedsBuild());  // coronal: another row
    EXPECT_TRUE(form_->Views()[2]->NeedsBuild());  // sagittal: another column
    EXPECT_FALSE(form_->Views()[3]->NeedsBuild()); // transaxial: the same slice
    // The parameter changes reach the trace.
    EXPECT_NE(test::ReadFile(dir_.Path() / "trace.txt").find("Change detail/"), std::string::npos);
}

// What a slice loop and a window drag cost: another slice rebuilds only the views whose picture
// it changes, and a new window recolours the navigation views, which share the detail view's.
TEST_F(MainFormTest, ViewsBuildAgainOnlyWhenTheirPictureChanges) {
    Start({study_.string()});
    ASSERT_EQ(form_->Tree().ObjectCount(), 2);
    const auto paintAll = [&] {
        for (TDicomViewFrame* view : form_->Views()) view->repaint();
        for (const TDicomViewFrame* view : form_->Views())
            ASSERT_FALSE(view->NeedsBuild()) << view->ViewName();
    };
    paintAll();
    TConfigNode& slice = *form_->Root().FindNode("detail/slice");
    slice.SetAsInteger(slice.GetAsInteger() + 1);
    EXPECT_TRUE(form_->Views()[0]->NeedsBuild());
    EXPECT_FALSE(form_->Views()[1]->NeedsBuild()); // coronal: the same row
    EXPECT_FALSE(form_->Views()[2]->NeedsBuild()); // sagittal: the same column
    EXPECT_TRUE(form_->Views()[3]->NeedsBuild());  // transaxial: the detail view's path
    paintAll();
    SetLow(Low() - 100);
    form_->DetailView().repaint();
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_TRUE(form_->Views()[i]->NeedsBuild()) << form_->Views()[i]->ViewName();
}

// The document lays the PET over the CT at the start: the PET is shown once before, so that its
// picture fills its colours; an overlay never shown would be laid over in black.
TEST_F(MainFormTest, TheStartOverlayHasItsColours) {
    test::TImage pet;
    pet.Thickness = "1";
    pet.Size = 16;
    pet.Series = "1.2.3.9";
    pet.Description = "Uptake";
    pet.Modality = "PT";
    test::WriteSeries(study_, "pet", 6, pet);
    Start({study_.string()});
    const TDicomObject* overlay = form_->Tree().OverlayObject();
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->Description(), "Uptake");
    EXPECT_NE(form_->Tree().SelectedObject(), overlay);
    const TColorTable& colours = overlay->ColorTable();
    EXPECT_TRUE(std::any_of(colours.begin(), colours.end(), [](TColor c) { return (c & 0xFFFFFFu) != 0; }));
}

// An upscale along the slices puts the same place at twice the slice number, a revert back at
// the first: "detail/slice" follows with a change that the slider and the trace see.
TEST_F(MainFormTest, TheSliceFollowsAnUpscaleAndItsRevert) {
    Start({study_.string()});
    TConfigNode& slice = *form_->Root().FindNode("detail/slice");
    slice.SetAsInteger(3);
    const auto lastTraced = [&] {
        const std::string trace = test::ReadFile(dir_.Path() / "trace.txt");
        const std::size_t at = trace.rfind("Change detail/slice = ");
        return at == std::string::npos ? -1 : std::stoi(trace.substr(at + 22));
    };
    form_->Root().FindNode("detail/series/upscale-z")->NotifyListeners();
    RunIdle();
    EXPECT_EQ(form_->DetailView().SliceCount(), 11);
    EXPECT_EQ(form_->DetailView().CurrentSlice(), 6);
    EXPECT_EQ(slice.GetAsInteger(), 6);
    EXPECT_EQ(lastTraced(), 6);
    form_->Root().FindNode("detail/series/revert")->NotifyListeners();
    RunIdle();
    EXPECT_EQ(form_->DetailView().CurrentSlice(), 3);
    EXPECT_EQ(slice.GetAsInteger(), 3);
    EXPECT_EQ(lastTraced(), 3);
}

TEST_F(MainFormTest, EachSeriesKeepsItsOwnParameters) {
    Start({study_.string()});
    form_->Root().FindNode("detail/twin")->SetAsInteger(0);
    TDicomObject* head = Series("Head");
    TDicomObject* chest = Series("Chest");
    ASSERT_TRUE(head && chest);

    form_->Tree().SelectObject(head);
    SetLow(-300);
    form_->DetailView().SetPath("BFR");
    form_->DetailView().SetCubePosition({3, 4, 2});
    const int headSlice = form_->DetailView().CurrentSlice();

    form_->Tree().SelectObject(chest);
    EXPECT_EQ(form_->DetailView().DicomObject(), chest);
    for (const TDicomViewFrame* view : form_->Views())
        EXPECT_EQ(view->DicomObject(), chest) << view->ViewName();
    SetLow(-700);
    form_->DetailView().SetCubePosition({9, 9, 4});

    form_->Tree().SelectObject(head);
    EXPECT_EQ(Low(), -300);
    EXPECT_EQ(form_->DetailView().ViewPath(), "BFR");
    // The slice comes back with the series; the position across it is the one of the series
    // just left, carried through the position nodes.
    EXPECT_EQ(form_->DetailView().CurrentSlice(), headSlice);
    form_->Tree().SelectObject(chest);
    EXPECT_EQ(Low(), -700);
}

TEST_F(MainFormTest, TwinSeriesShareOneWorldPosition) {
    Start({study_.string()});
    ASSERT_NE(form_->Root().FindNode("detail/twin")->GetAsInteger(), 0);
    TDicomObject* head = Series("Head");
    TDicomObject* chest = Series("Chest");
    ASSERT_TRUE(head && chest);
    form_->Tree().SelectObject(head);
    form_->DetailView().SetCubePosition({5, 6, 3});
    const TCubePoint world = form_->DetailView().GetWorldPosition();
    form_->Tree().SelectObject(chest);
    EXPECT_EQ(form_->DetailView().GetWorldPosition(), world);
    form_->DetailView().SetCubePosition({2, 2, 1});
    const TCubePoint chestWorld = form_->DetailView().GetWorldPosition();
    form_->Tree().SelectObject(head);
    EXPECT_EQ(form_->DetailView().GetWorldPosition(), chestWorld);
}

TEST_F(MainFormTest, AConfigurationThatDoesNotParseEndsTheProgram) {
    const fs::path config = dir_.Path() / "broken.cfg";
    test::WriteFile(config, "<configuration>\n  <presets>\n</configuration>\n");
    Start({"-c" + config.string(), study_.string()});
    EXPECT_EQ(fatal_, 1);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("broken.cfg"), std::string::npos) << errors_[0];
    EXPECT_NE(errors_[0].find("(3/"), std::string::npos) << errors_[0];
}

TEST_F(MainFormTest, NothingOpenedAsksForAFolder) {
    browseAnswer_ = study_.string();
    Start({});
    ASSERT_EQ(captions_.size(), 1u);
    EXPECT_EQ(captions_[0], "DICOM directory to open:");
    EXPECT_EQ(form_->Tree().ObjectCount(), 2);
    EXPECT_EQ(form_->LastDirectory(), study_.string());
    EXPECT_EQ(QSettings("Quintar", "tarvicon-test").value("LastDicomDirectory").toString().toStdString(),
              study_.string());
}

// What a bad second input must leave: the first study loaded and shown.
TEST_F(MainFormTest, BadInputsLeaveTheEarlierSeries) {
    const fs::path broken = dir_.Path() / "broken";
    fs::create_directories(broken);
    test::WriteFile(broken / "a.dcm", std::string(300, 'x'));
    test::WriteFile(broken / "b.dcm", "DICM");
    const fs::path more = dir_.Path() / "more";
    test::TImage image;
    image.Patient = "P2";
    image.Series = "9.9";
    image.Thickness = "1";
    fs::create_directories(more);
    test::WriteSeries(more, "more", 5, image);
    const fs::path empty = dir_.Path() / "empty";
    fs::create_directories(empty);
    struct TCase {
        const char* Name;
        std::string Folder;
        int Objects;       // after the second run; the broken files add error nodes
        std::string Error; // what the user is told, if anything
    };
    const std::string nowhere = (dir_.Path() / "nowhere").string();
    const std::vector<TCase> cases = {
        {"missing folder", nowhere, 2, "No such file or folder: " + nowhere},
        {"empty folder", empty.string(), 2, "No DICOM files found in " + empty.string()},
        {"broken files", broken.string(), -1, ""},
        {"second run", more.string(), 3, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Start({study_.string()});
        TDicomObject* shown = form_->DetailView().DicomObject();
        ASSERT_NE(shown, nullptr);
        browseAnswer_ = c.Folder;
        form_->Root().FindNode("detail/series/add")->NotifyListeners();
        RunIdle();
        if (c.Objects >= 0)
            EXPECT_EQ(form_->Tree().ObjectCount(), c.Objects);
        else
            EXPECT_GT(form_->Tree().ObjectCount(), 2);
        EXPECT_NE(Series("Head"), nullptr);
        EXPECT_NE(Series("Chest"), nullptr);
        EXPECT_NE(form_->DetailView().DicomObject(), nullptr);
        EXPECT_TRUE(form_->Tree().SelectedObject() == nullptr ||
                    form_->DetailView().DicomObject() == form_->Tree().SelectedObject());
        EXPECT_EQ(errors_, c.Error.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.Error});
        form_.reset();
        errors_.clear();
    }
    // On the command line too: an empty window would not say why it stays empty.
    captions_.clear();
    Start({empty.string()});
    EXPECT_EQ(errors_, std::vector<std::string>{"No DICOM files found in " + empty.string()});
    EXPECT_TRUE(captions_.empty()); // the folder was opened: no folder dialog
    // The empty detail view says how to open a study; with a series of broken files shown,
    // that the series has no picture.
    form_->UpdateViewLabel();
    EXPECT_EQ(form_->DetailView().EmptyText().rfind("No study open\n", 0), 0u);
    form_.reset();
    Start({broken.string()});
    form_->UpdateViewLabel();
    ASSERT_NE(form_->DetailView().DicomObject(), nullptr);
    EXPECT_EQ(form_->DetailView().EmptyText(), "This series holds no picture");
}

TEST_F(MainFormTest, EscInTheProgressDialogCancelsASecondLoad) {
    Start({study_.string()});
    const fs::path more = dir_.Path() / "more";
    test::TImage image;
    image.Patient = "P2";
    image.Series = "9.9";
    image.Thickness = "1";
    image.Size = 128;
    fs::create_directories(more);
    test::WriteSeries(more, "more", 400, image);
    // A file that cannot arrive until it is written (a pipe): the run stays open however fast the
    // other files load, so the dialog is seen while it runs.
    const fs::path held = more / "held";
    ASSERT_EQ(mkfifo(held.c_str(), 0600), 0);
    browseAnswer_ = more.string();
    // Lets the fetch that waits for the pipe go on; also when the test ends early.
    const auto release = [&] {
        for (int i = 0; i < 500; ++i) {
            const int writer = open(held.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                close(writer);
                return;
            }
            if (form_->Tree().Cache().FindFirst({TEntryState::Queued, TEntryState::Fetching}) < 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    struct TReleaseAtEnd {
        const std::function<void()> Release;
        ~TReleaseAtEnd() { Release(); }
    } const releaseAtEnd{release};
    form_->Root().FindNode("detail/series/add")->NotifyListeners();
    TProgressForm* progress = form_->findChild<TProgressForm*>();
    ASSERT_NE(progress, nullptr);
    // Until the run has begun to file.
    for (int i = 0; i < 100000 && !progress->isVisible() && form_->LoadPending(); ++i) form_->IdleWork();
    ASSERT_TRUE(progress->isVisible());
    QTest::keyClick(progress, Qt::Key_Escape);
    // The fetch waiting for the pipe ends (an empty file): the run files it, sees the cancel and
    // ends. Without it the run would wait for ever.
    release();
    RunIdle();
    EXPECT_FALSE(form_->Tree().Loading());
    EXPECT_NE(Series("Head"), nullptr);
    EXPECT_NE(Series("Chest"), nullptr);
    EXPECT_NE(form_->DetailView().DicomObject(), nullptr);
}

} // namespace
} // namespace tarvicon

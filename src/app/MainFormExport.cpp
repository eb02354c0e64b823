// TForm1's export: still pictures with their legend, the animation as a GIF or a video, the
// selection frame, the export folder and the cuboid file.

#include "app/MainForms.h"
#include "app/ProgressForms.h"
#include "catalogue/AnimationFiles.h"
#include "catalogue/Exports.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/Progress.h"
#include "views/DicomViewFrames.h"
#include "views/ImageViewRules.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace tarvicon {

namespace {

// The still picture's progress stays at least this long, so the user sees that it was saved.
constexpr std::uint64_t kStillShownMs = 444;
// Frames per second of the videos: the GIF's 10 hundredths for the rotation; a slice loop
// plays at the pace of a cine loop.
constexpr int kRotationFps = 10;
constexpr int kSliceLoopFps = 25;

std::string FileNameOnly(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

void TForm1::ExportPicture(bool interactive, bool askLegend, bool animated) {
    if (exporting_) return;
    if (exportStartFolder_.empty()) {
        const std::string folder = ExportFolder();
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) RaiseError("Cannot create folder \"" + folder + "\". " + error.message());
        exportStartFolder_ = folder;
    }
    const TDicomObject* object = tree_.SelectedObject();
    std::string file = NextExportName(exportStartFolder_, ExportBaseName(object), animated ? ".gif" : ".jpg");
    if (interactive) {
        file = ChooseExportFile(file, animated);
        if (file.empty()) return;
    }
    std::string legend = ExportLegend(object);
    if (askLegend) legend = AskLegend(legend);
    if (animated) {
        if (!ExportAnimation(file, legend)) return;
    } else {
        if (ViewFileKind(file) == TViewFileKind::None) return;
        ExportStill(file, legend);
    }
    Log("Saved " + file);
}

std::string TForm1::ChooseExportFile(const std::string& proposed, bool animated) {
    if (start_.Dialogs.SavePicture) return start_.Dialogs.SavePicture(exportStartFolder_, proposed, animated);
    QFileDialog dialog(this, QApplication::applicationDisplayName());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters{"JPEG Image File (*.jpg)", "Bitmaps (*.bmp)"};
    if (animated)
        filters = QStringList{"Animated GIF (*.gif)", "MP4 Video (*.mp4)", "WebM Video (*.webm)"} + filters;
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(animated ? "gif" : "jpg");
    dialog.setDirectory(QString::fromStdString(exportStartFolder_));
    dialog.selectFile(QString::fromStdString(FileNameOnly(proposed)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst().toStdString();
}

std::string TForm1::AskLegend(const std::string& legend) {
    const std::string shown = LegendForEditing(legend);
    std::optional<std::string> answer;
    if (start_.Dialogs.InputLegend) {
        answer = start_.Dialogs.InputLegend(shown);
    } else {
        bool ok = false;
        const QString text =
            QInputDialog::getText(this, QApplication::applicationDisplayName(), "Legend:", QLineEdit::Normal,
                                  QString::fromStdString(shown), &ok);
        if (ok) answer = text.toStdString();
    }
    return answer ? LegendFromEditing(*answer) : std::string();
}

void TForm1::ExportStill(const std::string& file, const std::string& legend) {
    SelectionChanging(tree_);
    const std::uint64_t t0 = Host().TickCount();
    StartProgress("Saving " + FileNameOnly(file) + "...");
    try {
        views_[0]->SaveToFile(file, legend);
        for (std::uint64_t now = Host().TickCount(); now - t0 < kStillShownMs; now = Host().TickCount()) {
            UpdateProgress(static_cast<long long>(now - t0), kStillShownMs, legend);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    } catch (...) {
        // The writer's message is shown after the dialog has gone.
        EndProgress();
        SelectionChanged(tree_);
        throw;
    }
    EndProgress();
    SelectionChanged(tree_);
}

bool TForm1::ExportAnimation(const std::string& file, const std::string& legend) {
    TDicomViewFrame& view = *views_[0];
    if (!view.DicomObject() || !view.Mapping()) RaiseError("The picture is empty");
    const bool rotation = Node("detail/rotate").GetAsInteger() != 0;
    TConfigNode& slice = Node("detail/slice");
    const std::int32_t shownSlice = slice.GetAsInteger();
    const int count = rotation ? 72 : std::max(1, view.SliceCount());
    TAnimationWriter writer(file, GifPaletteOf(*view.Mapping()), rotation ? kRotationFps : kSliceLoopFps);

    // The frames are driven here: the animation clocks stand still and idle work waits, and
    // the progress dialog is the only window that takes input.
    exporting_ = true;
    view.HoldAnimations(true);
    if (rotation) view.SetRotateClock(std::max<std::uint64_t>(1, Host().TickCount()));
    view.SetHideCross(!view.PermanentGrid());
    view.SetGridAlpha(0);
    progressForm_->setWindowModality(Qt::ApplicationModal);
    struct TRestore {
        TForm1& form;
        TDicomViewFrame& view;
        bool rotation;
        TConfigNode& slice;
        std::int32_t shownSlice;
        ~TRestore() {
            view.SetHideCross(false);
            view.HoldAnimations(false);
            if (rotation) view.SetRotateClock(std::max<std::uint64_t>(1, Host().TickCount()));
            if (ProgressActive()) EndProgress();
            form.progressForm_->setWindowModality(Qt::NonModal);
            form.exporting_ = false;
            if (!rotation) form.Guarded([&] { slice.SetAsInteger(shownSlice); });
        }
    };
    const TRestore restore{*this, view, rotation, slice, shownSlice};

    if (!StartProgress("Saving " + FileNameOnly(file) + "...")) return false;
    TBitmap32 picture;
    for (int i = 0; i < count; ++i) {
        const int angle = -180 + 5 * i;
        const bool going = rotation ? UpdateProgress(angle + 180, 360, std::to_string(angle) + "\u00B0")
                                    : UpdateProgress(i, count, "Slice " + std::to_string(i + 1));
        if (!going) return false;
        if (rotation)
            Node("detail/angle").SetAsFloat(angle);
        else
            slice.SetAsInteger(i);
        view.RenderToBitmap(legend, picture);
        writer.AddFrame(picture);
        view.InvalidateView();
        // Paints the views and lets "Storno" or Esc in the progress dialog through.
        QCoreApplication::processEvents();
    }
    if (!UpdateProgress(count, count, "Optimizing image")) return false;
    writer.Save();
    return true;
}

void TForm1::OpenExportFolder() {
    const std::string folder = ExportFolder();
    // Before the first export the folder is not there yet: opening it shows where they go.
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const bool opened = start_.Dialogs.OpenFolder
                            ? start_.Dialogs.OpenFolder(folder)
                            : QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
    if (!opened) RaiseError("Cannot open folder \"" + folder + "\".");
}

void TForm1::ShowSelectionFrame(bool on) {
    views_[0]->ShowFrame(on);
    WriteSettings();
    TConfigNode& node = Node("detail/crop-frame");
    if ((node.GetAsInteger() != 0) != on) node.SetAsInteger(on ? 1 : 0);
}

void TForm1::SaveCuboid() {
    TDicomObject* object = views_[0]->DicomObject();
    if (!object) return;
    const std::string folder = ExportFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) RaiseError("Cannot create folder \"" + folder + "\". " + error.message());
    const std::string file = folder + "/cuboid.cub";
    object->Cube().SaveToFile(file);
    Log("Saved " + file);
}

} // namespace tarvicon

#pragma once
// The progress dialog: the window the viewer installs as the core's progress sink, so that every
// long operation shows its title, bar, text and detail and can be cancelled with "Storno" or Esc.
//
// It belongs to the UI thread. Its parts carry object names for those who look inside:
// "TitleLine", "ProgressBar", "CancelButton", "TextLine", "DetailLine".

#include "util/Progress.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarvicon {

class TProgressForm : public QDialog, public IProgressSink {
    Q_OBJECT

public:
    // A borderless window above all others, 628 × 115, owned by owner; hidden until a run starts.
    explicit TProgressForm(QWidget* owner);

    // Centres the dialog on the screen, shows it in front, not cancelled.
    void Started() override;
    // Sets the lines and the bar and repaints at once, without handling other events.
    void Show(int bar, const std::string& title, const std::string& text, const std::string& detail) override;
    // True once "Storno" or Esc was pressed in this run.
    bool CancelRequested() override;
    // Hides the dialog; it serves the next run.
    void Ended() override;
    // Esc presses "Storno" instead of closing: the dialog stays until its run ends.
    void reject() override;

private:
    void Cancel();

    QLabel* titleLine_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    QLabel* textLine_;
    QLabel* detailLine_;
    bool cancelled_ = false;
    // Since the last paint made at once; invalid until the first of a run.
    QElapsedTimer painted_;
    static constexpr int kRepaintMs = 40;
};

} // namespace tarvicon

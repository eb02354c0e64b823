#pragma once
// The command panel on the page "Control": the command set as actions (keys, context menu,
// toolbar), the six parameter sliders and the colour bar, bound to the parameter tree.

#include "app/CommandRules.h"
#include "config/ConfigNodes.h"

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCursor;
class QKeyEvent;
class QMenu;
class QToolBar;

namespace tarvicon {

class TColoringFrame;
class TDicomObject;
class TRealParamFrame;
class TScalingNode;

class TMiniControlFrame : public QWidget, public INodeListener {
    Q_OBJECT
public:
    explicit TMiniControlFrame(QWidget* parent = nullptr);
    ~TMiniControlFrame() override;

    // Keeps the root, binds the six sliders (Param1 selected), the colour bar, and listens to the
    // level, its scaling and the toggles the toolbar shows. A root given up must still exist when
    // the next one (or none) is set.
    void SetRoot(TConfigNode* root);
    // The series shown: OverlayAction takes its serial number; the colour bar paints its table.
    void SetSubject(TDicomObject* object);
    TDicomObject* Subject() const { return subject_; }

    // Steps the selected slider by the sign of delta (a large step with Shift); always handled.
    bool WheelStep(bool shift, int delta);
    // The selected slider's caption without "&"; empty when none is selected.
    std::string SelectedCaption() const;
    // The caption of the last command run, without "&", once; then empty.
    std::string TakePendingCaption();
    // The periodic refresh of the command states (idle work): at most every 1000 ms.
    void RefreshCommands();
    // Suspend and resume the six sliders (a busy bracket).
    void BeginSliderUpdate();
    void EndSliderUpdate();
    // The cursor of the panel and its six sliders.
    void SetPanelCursor(const QCursor& cursor);

    // The window's key preview: true when a command took the key (a disabled command swallows
    // it); false while AltGr is held or when no command has the key.
    bool KeyPressed(const QKeyEvent& event);

    // A command's action by name ("CenterAction"); raises for an unknown name.
    QAction& Command(const std::string& name);
    // The main window's whole context menu, "Copy params" and "Paste params" included.
    QMenu& ContextMenu() { return *contextMenu_; }
    TColoringFrame& ColoringBar() { return *coloring_; }
    const std::array<TRealParamFrame*, 6>& Sliders() const { return sliders_; }
    TRealParamFrame* SelectedSlider() const { return selected_; }

    // What the window does for the panel: the about box, "Release window".
    std::function<void()> OnAbout;
    std::function<void()> OnRelease;
    // An error raised by a command; without a handler a message box shows it.
    std::function<void(const std::string&)> OnError;

    void NodeChanged(TConfigNode& node) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildActions();
    void BuildToolBar();
    void BuildContextMenu();
    // Runs a command by its index in the list: state rule, pending caption, effect.
    void Run(std::size_t index);
    void RunParamEntry(std::size_t index);
    void RunEffect(const TCommand& command);
    // The parameter handler of the keyed commands.
    void ParamKey(char key);
    void ApplyPlan(const TKeyPlan& plan);
    void BindByKey(int slider, char key);
    void BindByPath(int slider, const char* path);
    void Select(int slider);
    void StepSelected(int tag);
    void Popup();
    // The level's presentation follows a new scaling; the level sliders follow "centered".
    void ReconfigureLevel();
    // Recomputes and shows every command's states, last to first.
    void ApplyStates();
    void Listen(bool on);
    template <typename Work>
    void Guarded(Work&& work);

    TConfigNode* root_ = nullptr;
    TDicomObject* subject_ = nullptr;
    std::array<TRealParamFrame*, 6> sliders_{};
    TRealParamFrame* selected_ = nullptr;
    TColoringFrame* coloring_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* contextMenu_ = nullptr;
    std::vector<QAction*> actions_;      // in list order
    std::vector<QAction*> paramEntries_; // "Copy params", "Paste params"
    std::vector<TConfigNode*> listened_;
    TConfigNode* level_ = nullptr;
    TScalingNode* scaling_ = nullptr;
    std::string pendingCaption_;
    std::int64_t lastRefresh_ = 0;
    std::int64_t lastAnimate_ = kAnimateLongAgo;
    bool altGrHeld_ = false;
};

} // namespace tarvicon

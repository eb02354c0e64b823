#include "app/MiniControlFrames.h"

#include "app/ParamFrames.h"
#include "catalogue/DicomObjects.h"
#include "config/ColorMappings.h"
#include "config/Schema.h"
#include "util/Host.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace tarvicon {

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The pictures of the image list by index: the six orientations, then the toggle off and on.
QIcon CommandImage(int index) {
    static constexpr const char* kNames[] = {"swap-bu", "swap-lr", "swap-nf",    "swap-lu",
                                             "swap-uf", "swap-fr", "toggle-off", "toggle-on"};
    if (index < 0 || index >= static_cast<int>(std::size(kNames))) return {};
    return QIcon(QString(":/app/commands/%1.svg").arg(kNames[index]));
}

struct TKeyName {
    int Key;
    const char* Name;
};
// Qt's keys under the names of the shortcut texts; the first of a name is the one menus show.
// The "+" and "-" keys are the keys that carry those signs: on layouts where "+" needs Shift the
// key reports "=" unshifted.
constexpr TKeyName kKeyNames[] = {
    {Qt::Key_Plus, "+"},       {Qt::Key_Equal, "+"},     {Qt::Key_Minus, "-"},
    {Qt::Key_Underscore, "-"}, {Qt::Key_Space, "Space"}, {Qt::Key_Tab, "Tab"},
    {Qt::Key_Escape, "Esc"},   {Qt::Key_Enter, "Enter"}, {Qt::Key_Return, "Enter"},
    {Qt::Key_Insert, "Ins"},   {Qt::Key_Delete, "Del"},  {Qt::Key_Home, "Home"},
    {Qt::Key_End, "End"},      {Qt::Key_PageUp, "PgUp"}, {Qt::Key_PageDown, "PgDn"},
    {Qt::Key_Left, "Left"},    {Qt::Key_Right, "Right"}, {Qt::Key_Up, "Up"},
    {Qt::Key_Down, "Down"},
};

std::optional<TKeyStroke> StrokeOf(int key, Qt::KeyboardModifiers modifiers) {
    TKeyStroke stroke;
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
        stroke.Key = std::string(1, static_cast<char>(key));
    } else {
        for (const TKeyName& name : kKeyNames)
            if (name.Key == key) stroke.Key = name.Name;
        if (stroke.Key.empty()) return std::nullopt;
    }
    stroke.Shift = modifiers & Qt::ShiftModifier;
    stroke.Ctrl = modifiers & Qt::ControlModifier;
    stroke.Alt = modifiers & Qt::AltModifier;
    stroke.Keypad = modifiers & Qt::KeypadModifier;
    return stroke;
}

// The key sequence a menu shows for a shortcut text.
QKeySequence SequenceOf(std::string_view text) {
    const auto stroke = ParseShortcut(text);
    if (!stroke) return {};
    int key = 0;
    if (stroke->Key.size() == 1 && std::isalnum(static_cast<unsigned char>(stroke->Key[0]))) {
        key = stroke->Key[0];
    } else {
        for (const TKeyName& name : kKeyNames)
            if (name.Name == stroke->Key) {
                key = name.Key;
                break;
            }
    }
    Qt::KeyboardModifiers modifiers;
    if (stroke->Shift) modifiers |= Qt::ShiftModifier;
    if (stroke->Ctrl) modifiers |= Qt::ControlModifier;
    if (stroke->Alt) modifiers |= Qt::AltModifier;
    if (stroke->Keypad) modifiers |= Qt::KeypadModifier;
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)));
}

// Menus show the shortcuts, but the keys reach the commands only through KeyPressed (first
// match in list order): the shortcut context fires only for a focused widget that has the
// action, and neither the menus nor the toolbar's buttons ever take the focus.
void ShowShortcuts(QAction& action, std::span<const std::string_view> texts) {
    QList<QKeySequence> sequences;
    for (std::string_view text : texts)
        if (!text.empty()) sequences.push_back(SequenceOf(text));
    action.setShortcutContext(Qt::WidgetShortcut);
    action.setShortcuts(sequences);
}

constexpr int kColoringWidth = 20;

} // namespace

TMiniControlFrame::TMiniControlFrame(QWidget* parent) : QWidget(parent) {
    BuildActions();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    toolBar_ = new QToolBar(this);
    layout->addWidget(toolBar_);
    BuildToolBar();
    auto* sliders = new QHBoxLayout;
    sliders->setContentsMargins(0, 0, 0, 0);
    sliders->setSpacing(0);
    coloring_ = new TColoringFrame(this);
    coloring_->setFixedWidth(kColoringWidth);
    sliders->addWidget(coloring_);
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        auto* slider = new TRealParamFrame(this);
        slider->setObjectName(QString("Param%1").arg(i + 1));
        slider->OnActivated = [this, i](TRealParamFrame&) { Select(static_cast<int>(i)); };
        sliders->addWidget(slider, 1);
        sliders_[i] = slider;
    }
    layout->addLayout(sliders, 1);
    BuildContextMenu();
    SetRoot(nullptr);
    // AltGr's state: a key press alone does not say when it is let go.
    qApp->installEventFilter(this);
}

// The listener base leaves the nodes, whichever of the two goes first.
TMiniControlFrame::~TMiniControlFrame() {
    qApp->removeEventFilter(this);
}

void TMiniControlFrame::BuildActions() {
    for (const TCommand& command : Commands()) {
        auto* action = new QAction(Q(command.Caption), this);
        action->setObjectName(Q(command.Name));
        action->setToolTip(Q(command.Hint));
        ShowShortcuts(*action, command.Shortcuts);
        action->setIcon(CommandImage(command.ImageIndex));
        action->setCheckable(command.State != TStateRule::None && command.State != TStateRule::Adjusted);
        action->setVisible(!command.Hidden);
        const std::size_t index = actions_.size();
        connect(action, &QAction::triggered, this, [this, index] {
            // Qt flips a checkable action by itself; the tick follows the state rule at the refresh.
            QAction& self = *actions_[index];
            if (self.isCheckable()) self.setChecked(!self.isChecked());
            Run(index);
        });
        actions_.push_back(action);
    }
    for (const TParamEntry& entry : ParamEntries()) {
        auto* action = new QAction(Q(entry.Caption), this);
        action->setToolTip(Q(entry.Hint));
        const std::string_view shortcut = entry.Shortcut;
        ShowShortcuts(*action, std::span(&shortcut, 1));
        const std::size_t index = paramEntries_.size();
        connect(action, &QAction::triggered, this, [this, index] { RunParamEntry(index); });
        paramEntries_.push_back(action);
    }
}

void TMiniControlFrame::BuildToolBar() {
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setFocusPolicy(Qt::NoFocus);
    Command("MipDetailAction").setIconText("MIP detail");
    Command("MipNaviAction").setIconText("&MIPnavi");
    const char* const buttons[] = {"MipDetailAction",
                                   "MipNaviAction",
                                   "-",
                                   "OverlayAction",
                                   "ExchangeAction",
                                   "-",
                                   "SwingAction",
                                   "SweepAction",
                                   "RotationAction",
                                   "-",
                                   "ResampleAlignedAction",
                                   "TwinAction"};
    for (const char* name : buttons) {
        if (std::string_view(name) == "-") {
            toolBar_->addSeparator();
            continue;
        }
        QAction& action = Command(name);
        toolBar_->addAction(&action);
        if (QWidget* button = toolBar_->widgetForAction(&action)) button->setFocusPolicy(Qt::NoFocus);
    }
}

void TMiniControlFrame::BuildContextMenu() {
    contextMenu_ = new QMenu(this);
    const auto submenu = [](QMenu& parent, const char* title, const char* hint = nullptr) -> QMenu& {
        QMenu* menu = parent.addMenu(title);
        if (hint) menu->menuAction()->setToolTip(hint);
        return *menu;
    };
    const auto add = [this](QMenu& menu, std::initializer_list<const char*> entries) {
        for (const char* entry : entries) {
            const std::string_view name(entry);
            if (name == "-") {
                menu.addSeparator();
            } else if (name == "Copy params") {
                menu.addAction(paramEntries_[0]);
            } else if (name == "Paste params") {
                menu.addAction(paramEntries_[1]);
            } else {
                menu.addAction(&Command(entry));
            }
        }
    };
    QMenu& menu = *contextMenu_;
    add(submenu(menu, "&File"), {"OpenDirectoryAction", "AddDirectoryAction", "AddFileAction", "-",
                                 "AboutAction", "-", "SaveBitmapAutoAction", "SaveBitmapAction",
                                 "SaveBitmapOpenAction", "-", "MinimizeAction", "QuitAction"});
    QMenu& basic = submenu(menu, "&Basic", "Common actions");
    add(basic, {"FullScreenAction"});
    add(submenu(basic, "Detail view"), {"SagitalAction", "CoronarAction", "TransaxialAction"});
    add(basic, {"AutoLevelsAction", "AlphaAction", "CenterAction", "FitAction", "HighAction", "LowAction",
                "SliceAction", "WidthAction", "-", "SaveBitmapAutoAction", "SaveBitmapAction",
                "SaveBitmapOpenAction", "-", "OverlayAction", "MipNaviAction", "ExchangeAction"});
    add(menu, {"PopupAction", "QuitAction", "-", "OverlayAction", "-"});
    QMenu& general = submenu(menu, "&General", "General viewer functions");
    add(general, {"PrevSeriesAction", "NextSeriesAction", "-", "LargeIncAction", "IncAction", "ResetAction",
                  "DecAction", "LargeDecAction", "-", "AutoSetupAction"});
    add(submenu(general, "Extras"), {"AddDirectoryAction", "Copy params", "Paste params", "ReleaseAction",
                                     "ReloadAction", "SaveCuboidAction", "ExtraAction"});
    add(submenu(menu, "&Levels", "Scaling and levels functions"),
        {"CenterAction", "WidthAction", "LowAction", "HighAction", "GammaAction", "ThicknessAction", "-",
         "AutoLevelsAction", "EnhanceAction", "MipNaviAction", "MipDetailAction", "-", "PhaseAction",
         "Light3dAction"});
    QMenu& position = submenu(menu, "&Position", "Image position functions");
    add(submenu(position, "Move"),
        {"ZeroAction", "-", "MoveLeftAction", "MoveRightAction", "MoveUpAction", "MoveDownAction"});
    add(submenu(position, "Scroll"),
        {"ScrollLeftAction", "ScrollRightAction", "ScrollUpAction", "ScrollDownAction"});
    add(submenu(position, "Shift", "Shift coordination system"),
        {"ShiftLeftAction", "ShiftRightAction", "ShiftUpAction", "ShiftDownAction"});
    add(position, {"-", "PrevSliceAction", "NextSliceAction", "-", "AnimateAction", "SliceAction", "-",
                   "AngleAction", "RotationAction", "SwingAction"});
    QMenu& volume = submenu(menu, "Volume");
    add(submenu(volume, "Cuboid", "&Transposing and upscaling source data"),
        {"TransposeLRAction", "TransposeTBAction", "TransposeNFAction", "-", "UpscaleXAction",
         "UpscaleYAction", "UpscaleZAction", "UpscalUAction", "-", "ResampleAlignedAction", "TwinAction",
         "RevertAction"});
    add(submenu(volume, "&View orientation", "View orientation"),
        {"SwapLRAction", "SwapBUAction", "SwapNFAction", "-", "SwapLUAction", "SwapFRAction",
         "SwapUFAction"});
    add(submenu(menu, "La&yout"), {"FullScreenAction", "GridAction", "PermGrid"});
    add(submenu(menu, "&Fusion", "Fusion options and operations"),
        {"AlphaAction", "OverlayAction", "FusionAction", "ExchangeAction"});
    add(submenu(menu, "&Zoom", "Zoom functions"), {"ZoomAction", "FitAction", "-", "ZoomNoneAction",
                                                   "ZoomFit2Action", "ZoomFit1Action", "ZoomRealAction"});
}

QAction& TMiniControlFrame::Command(const std::string& name) {
    const auto index = CommandIndex(name);
    if (!index) throw std::logic_error("No command " + name);
    return *actions_[*index];
}

void TMiniControlFrame::SetRoot(TConfigNode* root) {
    Listen(false);
    root_ = root;
    coloring_->SetRoot(root);
    coloring_->SetMapping(root ? dynamic_cast<TColorMapping*>(root->FindNode("detail/colormapping"))
                               : nullptr);
    if (!root) {
        for (TRealParamFrame* slider : sliders_) slider->Bind(nullptr);
        Select(0);
        return;
    }
    BindByPath(0, "detail/slice");
    BindByPath(1, "detail/colormapping/level/center");
    BindByPath(2, "detail/colormapping/level/width");
    BindByPath(3, "detail/alpha");
    BindByPath(4, "detail/gamma");
    BindByPath(5, "detail/thickness");
    BindByPath(5, "detail/angle");
    Select(0);
    Listen(true);
    ApplyStates();
}

void TMiniControlFrame::Listen(bool on) {
    for (TConfigNode* node : listened_) node->RemoveListener(*this);
    listened_.clear();
    level_ = nullptr;
    scaling_ = nullptr;
    if (!on || !root_) return;
    for (const char* path :
         {"detail/colormapping/level", "detail/colormapping/level/scaling", "detail/fit",
          "detail/chroma-fusion", "detail/swing", "detail/sweep", "detail/mip-navi", "detail/mip-detail"}) {
        TConfigNode* node = root_->FindNode(path);
        if (!node) continue;
        node->AddListener(*this);
        listened_.push_back(node);
    }
    level_ = root_->FindNode("detail/colormapping/level");
    scaling_ = dynamic_cast<TScalingNode*>(root_->FindNode("detail/colormapping/level/scaling"));
}

void TMiniControlFrame::SetSubject(TDicomObject* object) {
    subject_ = object;
    coloring_->SetSeries(object);
}

bool TMiniControlFrame::WheelStep(bool shift, int delta) {
    if (selected_ && delta != 0) Guarded([&] { selected_->StepBy(delta > 0 ? 1 : -1, shift); });
    return true;
}

std::string TMiniControlFrame::SelectedCaption() const {
    return selected_ ? StripAccelerator(selected_->Caption()) : std::string();
}

std::string TMiniControlFrame::TakePendingCaption() {
    std::string caption = StripAccelerator(pendingCaption_);
    pendingCaption_.clear();
    return caption;
}

void TMiniControlFrame::RefreshCommands() {
    const auto now = static_cast<std::int64_t>(Host().TickCount());
    if (!RefreshDue(lastRefresh_, now)) return;
    lastRefresh_ = now;
    ApplyStates();
}

void TMiniControlFrame::ApplyStates() {
    if (!root_) return;
    const auto commands = Commands();
    for (std::size_t i = commands.size(); i-- > 0;) {
        const TCommandState state = CommandState(commands[i], *root_);
        QAction& action = *actions_[i];
        action.setEnabled(state.Enabled);
        if (action.isCheckable()) action.setChecked(state.Ticked);
        if (commands[i].State != TStateRule::None) action.setIcon(CommandImage(state.ImageIndex));
    }
}

void TMiniControlFrame::BeginSliderUpdate() {
    for (TRealParamFrame* slider : sliders_) slider->Suspend();
}

void TMiniControlFrame::EndSliderUpdate() {
    for (TRealParamFrame* slider : sliders_) slider->Resume();
}

void TMiniControlFrame::SetPanelCursor(const QCursor& cursor) {
    setCursor(cursor);
    for (TRealParamFrame* slider : sliders_) slider->SetCursor(cursor);
}

bool TMiniControlFrame::KeyPressed(const QKeyEvent& event) {
    if (altGrHeld_ || event.key() == Qt::Key_AltGr || (event.modifiers() & Qt::GroupSwitchModifier))
        return false;
    if (event.modifiers() & Qt::MetaModifier) return false;
    const auto stroke = StrokeOf(event.key(), event.modifiers());
    if (!stroke) return false;
    if (const auto index = CommandForKey(*stroke)) {
        Run(*index);
        return true;
    }
    if (const auto index = ParamEntryForKey(*stroke)) {
        RunParamEntry(*index);
        return true;
    }
    return false;
}

bool TMiniControlFrame::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_AltGr)
            altGrHeld_ = event->type() == QEvent::KeyPress;
        break;
    case QEvent::ApplicationDeactivate:
        // A key let go in another window is never seen here.
        altGrHeld_ = false;
        break;
    default:
        break;
    }
    return false;
}

template <typename Work>
void TMiniControlFrame::Guarded(Work&& work) {
    try {
        work();
    } catch (const std::exception& error) {
        if (OnError)
            OnError(error.what());
        else
            QMessageBox::critical(window(), QApplication::applicationName(), QString::fromUtf8(error.what()));
    }
}

void TMiniControlFrame::Run(std::size_t index) {
    if (!root_) return;
    const TCommand& command = Commands()[index];
    Guarded([&] {
        if (!CommandState(command, *root_).Enabled) return;
        if (NotesPendingCaption(command)) {
            pendingCaption_ = std::string(command.Caption);
            lastRefresh_ = RefreshSoon(static_cast<std::int64_t>(Host().TickCount()));
        }
        RunEffect(command);
    });
}

void TMiniControlFrame::RunParamEntry(std::size_t index) {
    if (!root_) return;
    Guarded([&] {
        if (auto* event = dynamic_cast<TEventNode*>(root_->FindNode(ParamEntries()[index].Path)))
            event->Fire();
    });
}

void TMiniControlFrame::RunEffect(const TCommand& command) {
    switch (command.Effect) {
    case TCommandEffect::ParamKey:
        ParamKey(command.Key);
        return;
    case TCommandEffect::Step:
        StepSelected(command.Tag);
        return;
    case TCommandEffect::Reset:
        if (selected_) selected_->ResetToMin();
        return;
    case TCommandEffect::Popup:
        Popup();
        return;
    case TCommandEffect::About:
        if (OnAbout) OnAbout();
        return;
    case TCommandEffect::Release:
        if (OnRelease) OnRelease();
        return;
    default:
        ApplyNodeEffect(command, *root_,
                        subject_ ? std::optional<std::int32_t>(subject_->SerialNumber()) : std::nullopt);
        return;
    }
}

void TMiniControlFrame::ParamKey(char key) {
    if (key == 'F') {
        TConfigNode& fit = NodeAt<TConfigNode>(*root_, "detail/fit");
        fit.SetAsInteger(NextFit(fit.GetAsInteger()));
    } else if (key == '*') {
        TConfigNode& animate = NodeAt<TConfigNode>(*root_, "detail/animate");
        const TAnimateStep step = AnimateToggle(lastAnimate_, static_cast<std::int64_t>(Host().TickCount()),
                                                animate.GetAsInteger());
        lastAnimate_ = step.LastAnimate;
        animate.SetAsInteger(step.Value);
    } else {
        ApplyPlan(KeyPlan(key));
    }
}

void TMiniControlFrame::ApplyPlan(const TKeyPlan& plan) {
    for (const TSliderBinding& binding : plan.Bindings) BindByKey(binding.Slider, binding.Key);
    if (plan.Selected >= 0) Select(plan.Selected);
}

void TMiniControlFrame::BindByKey(int slider, char key) {
    const TConfigNode* detail = root_ ? root_->FindNode("detail") : nullptr;
    if (TScalarNode* node = detail ? FindByKey(*detail, key) : nullptr)
        sliders_[static_cast<std::size_t>(slider)]->Bind(node);
}

void TMiniControlFrame::BindByPath(int slider, const char* path) {
    sliders_[static_cast<std::size_t>(slider)]->Bind(root_->FindNode(path));
}

void TMiniControlFrame::Select(int slider) {
    for (std::size_t i = 0; i < sliders_.size(); ++i)
        sliders_[i]->SetHighlighted(static_cast<int>(i) == slider);
    selected_ = sliders_[static_cast<std::size_t>(slider)];
}

void TMiniControlFrame::StepSelected(int tag) {
    if (selected_) selected_->StepBy(tag > 0 ? 1 : -1, std::abs(tag) != 1);
}

void TMiniControlFrame::Popup() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize();
    contextMenu_->popup(QPoint(size.width() / 2, size.height() / 2));
}

void TMiniControlFrame::NodeChanged(TConfigNode& node) {
    if (&node != level_ && &node != scaling_) return;
    Guarded([&] { ReconfigureLevel(); });
}

void TMiniControlFrame::ReconfigureLevel() {
    auto* mapping = dynamic_cast<TColorMapping*>(root_->FindNode("detail/colormapping"));
    if (!scaling_ || !mapping) return;
    TScalingNode& scaling = *scaling_;
    if (scaling.Dirty()) scaling.Refresh();
    const double low = scaling.RawToValue(mapping->WindowLow(), true);
    const double high = scaling.RawToValue(mapping->WindowHigh(), false);
    const auto present = [](TScalarNode& node, double min, double max, std::int32_t steps,
                            const std::string& units) {
        node.BeginUpdate();
        node.SetMin(min);
        node.SetMax(max);
        node.SetSteps(steps);
        node.SetUnits(units);
        node.EndUpdate(false);
    };
    TScalarNode& lowNode = NodeAt<TScalarNode>(*level_, "low");
    TScalarNode& highNode = NodeAt<TScalarNode>(*level_, "high");
    for (TScalarNode* node : {&lowNode, &highNode, &NodeAt<TScalarNode>(*level_, "center")})
        present(*node, scaling.MinValue(), scaling.MaxValue(), scaling.StepCount(), scaling.UnitsText());
    present(NodeAt<TScalarNode>(*level_, "width"), 0, std::abs(scaling.MaxValue() - scaling.MinValue()),
            scaling.RawHigh() + 1, "\xC2\xB1" + scaling.UnitsText());
    lowNode.SetAsFloat(low);
    highNode.SetAsFloat(high);
    ApplyPlan(LevelPlan(scaling.Centered()));
}

} // namespace tarvicon

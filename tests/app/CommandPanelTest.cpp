#include "app/MiniControlFrames.h"
#include "app/ParamFrames.h"
#include "catalogue/DicomObjects.h"
#include "catalogue/ParameterSessions.h"
#include "config/ColorMappings.h"
#include "util/Host.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <cctype>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

// A host whose clock the test sets.
class TClockHost : public THeadlessHost {
public:
    std::uint64_t Tick = 100000;
    std::uint64_t TickCount() override { return Tick; }
};

// Counts the notifications of one node.
struct TCounter : INodeListener {
    int Count = 0;
    void NodeChanged(TConfigNode&) override { ++Count; }
};

// The Qt key of a shortcut text's key name.
int QtKey(const std::string& name) {
    static const std::map<std::string, int> keys = {
        {"+", Qt::Key_Plus},     {"-", Qt::Key_Minus},     {"Space", Qt::Key_Space},
        {"Tab", Qt::Key_Tab},    {"Esc", Qt::Key_Escape},  {"Enter", Qt::Key_Return},
        {"Ins", Qt::Key_Insert}, {"Del", Qt::Key_Delete},  {"Home", Qt::Key_Home},
        {"End", Qt::Key_End},    {"PgUp", Qt::Key_PageUp}, {"PgDn", Qt::Key_PageDown},
        {"Left", Qt::Key_Left},  {"Right", Qt::Key_Right}, {"Up", Qt::Key_Up},
        {"Down", Qt::Key_Down},
    };
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0]))) return name[0];
    return keys.at(name);
}

class CommandPanel : public testing::Test {
protected:
    CommandPanel() {
        panel_.SetRoot(&session_.Root());
        panel_.OnError = [](const std::string& text) { ADD_FAILURE() << "command raised: " << text; };
    }
    ~CommandPanel() override { panel_.ContextMenu().hide(); }

    // The window's key preview hands the panel a key.
    bool Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QKeyEvent event(QEvent::KeyPress, key, modifiers);
        return panel_.KeyPressed(event);
    }
    bool PressShortcut(std::string_view text) {
        const auto stroke = ParseShortcut(text);
        Qt::KeyboardModifiers modifiers;
        if (stroke->Shift) modifiers |= Qt::ShiftModifier;
        if (stroke->Ctrl) modifiers |= Qt::ControlModifier;
        if (stroke->Alt) modifiers |= Qt::AltModifier;
        if (stroke->Keypad) modifiers |= Qt::KeypadModifier;
        return Press(QtKey(stroke->Key), modifiers);
    }
    void Trigger(const char* name) { panel_.Command(name).trigger(); }
    TConfigNode& Node(const std::string& path) { return session_.Existing(path); }
    std::string Text(const std::string& path) { return Node(path).GetText(); }
    void Set(const std::string& path, const std::string& text) { Node(path).SetText(text); }
    std::string SliderPath(int slider) const {
        const TConfigNode* node = panel_.Sliders()[static_cast<std::size_t>(slider)]->Node();
        return node ? node->Path() : std::string("none");
    }
    int SelectedIndex() const {
        for (std::size_t i = 0; i < panel_.Sliders().size(); ++i)
            if (panel_.Sliders()[i] == panel_.SelectedSlider()) return static_cast<int>(i);
        return -1;
    }

    TClockHost host_;
    TScopedHost scopedHost_{host_};
    TParameterSession session_;
    TMiniControlFrame panel_;
};

TEST_F(CommandPanel, StartsWithTheSixSlidersAndParam1Selected) {
    const char* paths[] = {"detail/slice",
                           "detail/colormapping/level/center",
                           "detail/colormapping/level/width",
                           "detail/alpha",
                           "detail/gamma",
                           "detail/angle"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(SliderPath(i), paths[i]) << i;
    EXPECT_EQ(SelectedIndex(), 0);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(panel_.Sliders()[i]->Highlighted(), i == 0);
    EXPECT_EQ(panel_.SelectedCaption(), "Slice");
}

TEST_F(CommandPanel, CenterThenHighRebindsTheLevelSliders) {
    EXPECT_TRUE(Press(Qt::Key_C));
    EXPECT_EQ(SliderPath(1), "detail/colormapping/level/center");
    EXPECT_EQ(SliderPath(2), "detail/colormapping/level/width");
    EXPECT_EQ(SelectedIndex(), 1);
    EXPECT_TRUE(Press(Qt::Key_H));
    EXPECT_EQ(SliderPath(1), "detail/colormapping/level/low");
    EXPECT_EQ(SliderPath(2), "detail/colormapping/level/high");
    EXPECT_EQ(SelectedIndex(), 2);
    EXPECT_TRUE(panel_.Sliders()[2]->Highlighted());
    EXPECT_FALSE(panel_.Sliders()[1]->Highlighted());
    EXPECT_EQ(panel_.SelectedCaption(), "High");
}

TEST_F(CommandPanel, KeysBindTheSliderTheTextNames) {
    struct TCase {
        int key;
        int slider;
        const char* path;
    };
    const TCase cases[] = {
        {Qt::Key_W, 2, "detail/colormapping/level/width"},
        {Qt::Key_L, 1, "detail/colormapping/level/low"},
        {Qt::Key_A, 3, "detail/alpha"},
        {Qt::Key_G, 4, "detail/gamma"},
        {Qt::Key_S, 0, "detail/slice"},
        {Qt::Key_T, 5, "detail/thickness"},
        {Qt::Key_P, 5, "detail/colormapping/level/phase"},
        {Qt::Key_Z, 5, "detail/zoom"},
        {Qt::Key_D, 5, "detail/grid"},
        {Qt::Key_3, 5, "detail/light3d"},
        {Qt::Key_I, 5, "detail/align"},
        {Qt::Key_N, 5, "detail/angle"},
    };
    for (const TCase& c : cases) {
        EXPECT_TRUE(Press(c.key)) << c.path;
        EXPECT_EQ(SliderPath(c.slider), c.path);
        EXPECT_EQ(SelectedIndex(), c.slider) << c.path;
    }
}

TEST_F(CommandPanel, FitCyclesFromZero) {
    std::vector<std::string> seen;
    for (int i = 0; i < 5; ++i) {
        Press(Qt::Key_F);
        seen.push_back(Text("detail/fit"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3", "0", "1"}));
}

TEST_F(CommandPanel, AnimateTogglesByTheClock) {
    struct TCase {
        std::uint64_t tick;
        const char* animate;
        const char* what;
    };
    const TCase presses[] = {
        {100000, "1", "stopped: starts forward"},
        {100200, "0", "within 333 ms: stops"},
        {100400, "1", "400 ms after the first: forward again"},
        {100800, "-1", "running forward: backward"},
    };
    for (const TCase& c : presses) {
        host_.Tick = c.tick;
        Trigger("AnimateAction");
        EXPECT_EQ(Text("detail/animate"), c.animate) << c.what;
    }
}

TEST_F(CommandPanel, SixSwapsRewriteThePath) {
    struct TCase {
        const char* command;
        const char* path;
    };
    const TCase cases[] = {{"SwapLRAction", "LBF"}, {"SwapBUAction", "RTF"}, {"SwapNFAction", "RBN"},
                           {"SwapLUAction", "BRF"}, {"SwapUFAction", "RFB"}, {"SwapFRAction", "FBR"}};
    for (const TCase& c : cases) {
        Set("detail/path", "RBF");
        Trigger(c.command);
        EXPECT_EQ(Text("detail/path"), c.path) << c.command;
    }
}

TEST_F(CommandPanel, OverlayTogglesWithTheSubjectsSerial) {
    EXPECT_TRUE(Press(Qt::Key_O));
    EXPECT_EQ(Text("detail/overlay"), "0"); // no subject: stays 0
    TDicomArrayImage subject;
    panel_.SetSubject(&subject);
    Press(Qt::Key_O);
    EXPECT_EQ(Text("detail/overlay"), std::to_string(subject.SerialNumber()));
    Press(Qt::Key_O);
    EXPECT_EQ(Text("detail/overlay"), "0");
    panel_.SetSubject(nullptr);
}

TEST_F(CommandPanel, ChromaCyclesOnlyWithAnOverlay) {
    EXPECT_TRUE(Press(Qt::Key_R)); // disabled without an overlay: swallowed
    EXPECT_EQ(Text("detail/chroma-fusion"), "0");
    Set("detail/overlay", "4");
    std::vector<std::string> seen{Text("detail/chroma-fusion")};
    for (int i = 0; i < 3; ++i) {
        Press(Qt::Key_R);
        seen.push_back(Text("detail/chroma-fusion"));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "2", "0"}));
}

TEST_F(CommandPanel, XBelongsToExchangeEvenWhenItIsDisabled) {
    EXPECT_TRUE(Press(Qt::Key_X));
    EXPECT_EQ(Text("detail/exchange"), "0");
    EXPECT_EQ(SliderPath(5), "detail/angle"); // ExtraAction did not get the key
    EXPECT_EQ(panel_.TakePendingCaption(), "");
    Set("detail/overlay", "4");
    Press(Qt::Key_X);
    EXPECT_EQ(Text("detail/exchange"), "1");
    EXPECT_EQ(panel_.TakePendingCaption(), "Exchange");
    Trigger("ExtraAction"); // the menu reaches it
    EXPECT_EQ(SliderPath(5), "detail/extra");
}

TEST_F(CommandPanel, SpaceGoesToEnhance) {
    EXPECT_TRUE(Press(Qt::Key_Space));
    EXPECT_EQ(Text("detail/enhance"), "1");
    EXPECT_EQ(Text("detail/slices/permanent-grid"), "1");
    Trigger("PermGrid");
    EXPECT_EQ(Text("detail/slices/permanent-grid"), "0");
}

TEST_F(CommandPanel, GammaSliderStepsFromOneToOnePointOne) {
    Press(Qt::Key_G);
    TRealParamFrame& gamma = *panel_.Sliders()[4];
    EXPECT_EQ(gamma.Index(), 8);
    EXPECT_EQ(gamma.ValueText(), "1.0");
    EXPECT_TRUE(Press(Qt::Key_Plus, Qt::KeypadModifier));
    EXPECT_EQ(Text("detail/gamma"), "1.1");
    EXPECT_EQ(Node("detail/gamma").GetAsFloat(), 1.1);
    EXPECT_TRUE(panel_.WheelStep(false, -120));
    EXPECT_EQ(gamma.Index(), 8);
    panel_.Command("ResetAction").trigger();
    EXPECT_EQ(Text("detail/gamma"), "0.3"); // the low bound 0.25 written with one decimal
}

TEST_F(CommandPanel, PendingCaptionIsTakenOnce) {
    Press(Qt::Key_C);
    EXPECT_EQ(panel_.TakePendingCaption(), "Center");
    EXPECT_EQ(panel_.TakePendingCaption(), "");
    Trigger("AnimateAction");
    EXPECT_EQ(panel_.TakePendingCaption(), "Animate");
    for (const char* exempt : {"IncAction", "LargeDecAction", "AboutAction", "ReleaseAction"}) {
        Trigger(exempt);
        EXPECT_EQ(panel_.TakePendingCaption(), "") << exempt;
    }
    // The parameter entries are no commands either: their key and their menu entry fire.
    TCounter copies;
    TCounter pastes;
    Node("detail/copy").AddListener(copies);
    Node("detail/paste").AddListener(pastes);
    EXPECT_TRUE(Press(Qt::Key_C, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    EXPECT_TRUE(Press(Qt::Key_P, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    for (QAction* action : panel_.findChildren<QAction*>())
        if (action->text() == "Paste params") action->trigger();
    EXPECT_EQ(copies.Count, 1);
    EXPECT_EQ(pastes.Count, 2);
    EXPECT_EQ(panel_.TakePendingCaption(), "");
}

TEST_F(CommandPanel, StatesRefreshEverySecondAnd100MsAfterACommand) {
    QAction& exchange = panel_.Command("ExchangeAction");
    host_.Tick = 200000;
    panel_.RefreshCommands();
    EXPECT_FALSE(exchange.isEnabled());
    Set("detail/overlay", "4");
    host_.Tick = 201000;
    panel_.RefreshCommands(); // exactly 1000 ms: not yet
    EXPECT_FALSE(exchange.isEnabled());
    host_.Tick = 200500;
    Press(Qt::Key_M); // a command: the next refresh at 200601
    host_.Tick = 200600;
    panel_.RefreshCommands();
    EXPECT_FALSE(exchange.isEnabled());
    host_.Tick = 200601;
    panel_.RefreshCommands();
    EXPECT_TRUE(exchange.isEnabled());
    EXPECT_TRUE(panel_.Command("MipNaviAction").isChecked());
    EXPECT_TRUE(panel_.Command("TwinAction").isChecked());
    host_.Tick = 200700;
    Press(Qt::Key_Plus); // increments do not bring the refresh forward
    Set("detail/overlay", "0");
    host_.Tick = 201601;
    panel_.RefreshCommands();
    EXPECT_TRUE(exchange.isEnabled());
    host_.Tick = 201602;
    panel_.RefreshCommands();
    EXPECT_FALSE(exchange.isEnabled());
}

TEST_F(CommandPanel, AltGrBlocksEveryCommand) {
    EXPECT_FALSE(Press(Qt::Key_C, Qt::GroupSwitchModifier));
    EXPECT_EQ(panel_.TakePendingCaption(), "");
    QKeyEvent altGrDown(QEvent::KeyPress, Qt::Key_AltGr, Qt::NoModifier);
    QCoreApplication::sendEvent(&panel_, &altGrDown);
    EXPECT_FALSE(Press(Qt::Key_M));
    EXPECT_EQ(Text("detail/mip-navi"), "0");
    QKeyEvent altGrUp(QEvent::KeyRelease, Qt::Key_AltGr, Qt::NoModifier);
    QCoreApplication::sendEvent(&panel_, &altGrUp);
    EXPECT_TRUE(Press(Qt::Key_M));
    EXPECT_EQ(Text("detail/mip-navi"), "1");
}

TEST_F(CommandPanel, OnlyTheKeyPreviewRunsCommands) {
    // Qt's own shortcut map must stay silent, or a key would reach two commands.
    panel_.show();
    panel_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel_));
    panel_.setFocus();
    QTest::keyClick(&panel_, Qt::Key_M, Qt::ControlModifier);
    QTest::keyClick(&panel_, Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(Text("detail/mip-detail"), "0");
    EXPECT_EQ(Text("detail/swing"), "0");
    EXPECT_EQ(panel_.Command("MipDetailAction").shortcut(), QKeySequence("Ctrl+M"));
}

TEST_F(CommandPanel, EscOpensTheContextMenuAtTheScreensCentre) {
    EXPECT_TRUE(Press(Qt::Key_Escape));
    QMenu& menu = panel_.ContextMenu();
    ASSERT_TRUE(menu.isVisible());
    const QSize screen = QGuiApplication::primaryScreen()->size();
    EXPECT_EQ(menu.pos().x(), screen.width() / 2);
    EXPECT_EQ(panel_.TakePendingCaption(), "Popup");
}

// The menu as lines: entries by command name (the parameter entries by caption), "-" for a
// separator, a submenu as "[title]" followed by its entries indented.
void MenuLines(const QMenu& menu, const std::string& indent, std::vector<std::string>& lines) {
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            lines.push_back(indent + "-");
        } else if (action->menu()) {
            lines.push_back(indent + "[" + action->text().toStdString() + "]");
            MenuLines(*action->menu(), indent + "  ", lines);
        } else {
            lines.push_back(
                indent +
                (action->objectName().isEmpty() ? action->text() : action->objectName()).toStdString());
        }
    }
}

TEST_F(CommandPanel, ContextMenuAsListed) {
    const std::vector<std::string> expected = {
        "[&File]",
        "  OpenDirectoryAction",
        "  AddDirectoryAction",
        "  AddFileAction",
        "  -",
        "  AboutAction",
        "  -",
        "  SaveBitmapAutoAction",
        "  SaveBitmapAction",
        "  SaveBitmapOpenAction",
        "  -",
        "  MinimizeAction",
        "  QuitAction",
        "[&Basic]",
        "  FullScreenAction",
        "  [Detail view]",
        "    SagitalAction",
        "    CoronarAction",
        "    TransaxialAction",
        "  AutoLevelsAction",
        "  AlphaAction",
        "  CenterAction",
        "  FitAction",
        "  HighAction",
        "  LowAction",
        "  SliceAction",
        "  WidthAction",
        "  -",
        "  SaveBitmapAutoAction",
        "  SaveBitmapAction",
        "  SaveBitmapOpenAction",
        "  -",
        "  OverlayAction",
        "  MipNaviAction",
        "  ExchangeAction",
        "PopupAction",
        "QuitAction",
        "-",
        "OverlayAction",
        "-",
        "[&General]",
        "  PrevSeriesAction",
        "  NextSeriesAction",
        "  -",
        "  LargeIncAction",
        "  IncAction",
        "  ResetAction",
        "  DecAction",
        "  LargeDecAction",
        "  -",
        "  AutoSetupAction",
        "  [Extras]",
        "    AddDirectoryAction",
        "    Copy params",
        "    Paste params",
        "    ReleaseAction",
        "    ReloadAction",
        "    SaveCuboidAction",
        "    ExtraAction",
        "[&Levels]",
        "  CenterAction",
        "  WidthAction",
        "  LowAction",
        "  HighAction",
        "  GammaAction",
        "  ThicknessAction",
        "  -",
        "  AutoLevelsAction",
        "  EnhanceAction",
        "  MipNaviAction",
        "  MipDetailAction",
        "  -",
        "  PhaseAction",
        "  Light3dAction",
        "[&Position]",
        "  [Move]",
        "    ZeroAction",
        "    -",
        "    MoveLeftAction",
        "    MoveRightAction",
        "    MoveUpAction",
        "    MoveDownAction",
        "  [Scroll]",
        "    ScrollLeftAction",
        "    ScrollRightAction",
        "    ScrollUpAction",
        "    ScrollDownAction",
        "  [Shift]",
        "    ShiftLeftAction",
        "    ShiftRightAction",
        "    ShiftUpAction",
        "    ShiftDownAction",
        "  -",
        "  PrevSliceAction",
        "  NextSliceAction",
        "  -",
        "  AnimateAction",
        "  SliceAction",
        "  -",
        "  AngleAction",
        "  RotationAction",
        "  SwingAction",
        "[Volume]",
        "  [Cuboid]",
        "    TransposeLRAction",
        "    TransposeTBAction",
        "    TransposeNFAction",
        "    -",
        "    UpscaleXAction",
        "    UpscaleYAction",
        "    UpscaleZAction",
        "    UpscalUAction",
        "    -",
        "    ResampleAlignedAction",
        "    TwinAction",
        "    RevertAction",
        "  [&View orientation]",
        "    SwapLRAction",
        "    SwapBUAction",
        "    SwapNFAction",
        "    -",
        "    SwapLUAction",
        "    SwapFRAction",
        "    SwapUFAction",
        "[La&yout]",
        "  FullScreenAction",
        "  GridAction",
        "  PermGrid",
        "[&Fusion]",
        "  AlphaAction",
        "  OverlayAction",
        "  FusionAction",
        "  ExchangeAction",
        "[&Zoom]",
        "  ZoomAction",
        "  FitAction",
        "  -",
        "  ZoomNoneAction",
        "  ZoomFit2Action",
        "  ZoomFit1Action",
        "  ZoomRealAction",
    };
    std::vector<std::string> lines;
    MenuLines(panel_.ContextMenu(), "", lines);
    EXPECT_EQ(lines, expected);

    // Hidden commands stay out of sight; entries show caption, hint and shortcut.
    EXPECT_FALSE(panel_.Command("AddDirectoryAction").isVisible());
    EXPECT_FALSE(panel_.Command("AddFileAction").isVisible());
    EXPECT_TRUE(panel_.Command("SaveCuboidAction").isVisible());
    struct TEntry {
        const char* command;
        const char* caption;
        const char* hint;
        QKeySequence shortcut;
    };
    const TEntry entries[] = {
        {"ExchangeAction", "E&xchange", "Show the overlay object in navigation views", QKeySequence("X")},
        {"SwapFRAction", "Swap Far / Right", "Swap dimensions Far and Righ", QKeySequence()},
        {"ReloadAction", "Reload", "Reload configuration", QKeySequence("Shift+Ctrl+Alt+R")},
        {"IncAction", "Increment", "Increment selected parameter",
         QKeySequence(Qt::KeypadModifier | Qt::Key_Plus)},
        {"ResampleAlignedAction", "Process", "Process alignment and/or rotation adjusted permanently",
         QKeySequence(Qt::Key_Enter)},
    };
    for (const TEntry& e : entries) {
        const QAction& action = panel_.Command(e.command);
        EXPECT_EQ(action.text().toStdString(), e.caption);
        EXPECT_EQ(action.toolTip().toStdString(), e.hint);
        EXPECT_EQ(action.shortcut(), e.shortcut) << e.command;
    }
    EXPECT_EQ(panel_.Command("IncAction").shortcuts().size(), 3);
}

TEST_F(CommandPanel, ToolbarButtonsInOrder) {
    const auto* toolBar = panel_.findChild<QToolBar*>();
    ASSERT_TRUE(toolBar);
    std::vector<std::string> buttons;
    for (const QAction* action : toolBar->actions())
        buttons.push_back(action->isSeparator() ? "-" : action->iconText().toStdString());
    EXPECT_EQ(buttons, (std::vector<std::string>{"MIP detail", "&MIPnavi", "-", "Overlay", "Exchange", "-",
                                                 "Swing", "Sweep", "Rotate", "-", "Process", "Twin"}));
    // A click runs the command; the button shows it pressed from the next refresh on.
    auto* mipDetail =
        qobject_cast<QToolButton*>(toolBar->widgetForAction(&panel_.Command("MipDetailAction")));
    ASSERT_TRUE(mipDetail);
    EXPECT_EQ(mipDetail->focusPolicy(), Qt::NoFocus);
    panel_.show();
    QTest::mouseClick(mipDetail, Qt::LeftButton);
    EXPECT_EQ(Text("detail/mip-detail"), "1");
    EXPECT_FALSE(mipDetail->isChecked());
    host_.Tick += 101;
    panel_.RefreshCommands();
    EXPECT_TRUE(mipDetail->isChecked());
    // Toggle pictures follow the state: the overlay's picture turns on with an overlay.
    const QImage off = panel_.Command("OverlayAction").icon().pixmap(16, 16).toImage();
    Set("detail/overlay", "4");
    host_.Tick += 2000;
    panel_.RefreshCommands();
    EXPECT_NE(panel_.Command("OverlayAction").icon().pixmap(16, 16).toImage(), off);
    EXPECT_FALSE(off.isNull());
}

// A scaling change keeps the raw window and re-presents the level in the scaling's units.
TEST_F(CommandPanel, ScalingChangeReconfiguresTheLevel) {
    Set("detail/colormapping/level/low", "20");
    Set("detail/colormapping/level/high", "80");
    auto& mapping = NodeAt<TColorMapping>(session_.Root(), "detail/colormapping");
    mapping.LoadParams();
    ASSERT_EQ(mapping.WindowLow(), 408);
    ASSERT_EQ(mapping.WindowHigh(), 1602);
    Press(Qt::Key_H);
    for (const auto& [child, text] : std::vector<std::pair<std::string, std::string>>{{"min", "-1000"},
                                                                                      {"max", "3000"},
                                                                                      {"low", "0"},
                                                                                      {"high", "4000"},
                                                                                      {"steps", "4001"},
                                                                                      {"units", "HU"},
                                                                                      {"centered", "1"}})
        Set("detail/colormapping/level/scaling/" + child, text);
    EXPECT_EQ(Text("detail/colormapping/level/low"), "-592");
    EXPECT_EQ(Text("detail/colormapping/level/high"), "602");
    EXPECT_EQ(Text("detail/colormapping/level/center"), "5");
    const auto& center = NodeAt<TScalarNode>(session_.Root(), "detail/colormapping/level/center");
    EXPECT_EQ(center.Min(), -1000);
    EXPECT_EQ(center.Max(), 3000);
    EXPECT_EQ(center.Steps(), 4001);
    EXPECT_EQ(center.Units(), "HU");
    const auto& width = NodeAt<TScalarNode>(session_.Root(), "detail/colormapping/level/width");
    EXPECT_EQ(width.Min(), 0);
    EXPECT_EQ(width.Max(), 4000);
    EXPECT_EQ(width.Steps(), 4001);
    EXPECT_EQ(width.Units(), "\xC2\xB1HU");
    EXPECT_EQ(SliderPath(1), "detail/colormapping/level/center"); // centred: C and W
    EXPECT_EQ(SliderPath(2), "detail/colormapping/level/width");
    EXPECT_EQ(SelectedIndex(), 2); // the selection stays
    EXPECT_EQ(panel_.Sliders()[1]->Max(), 3000);
    Set("detail/colormapping/level/scaling/centered", "0");
    EXPECT_EQ(SliderPath(1), "detail/colormapping/level/low");
    EXPECT_EQ(SliderPath(2), "detail/colormapping/level/high");
}

// Every command, by its shortcut when it is the first to own it, else by its action: the node
// the text names changes or fires, or the window's callback runs.
TEST_F(CommandPanel, EveryCommandReachesItsNode) {
    struct TCase {
        const char* command;
        const char* node;            // listened to; the slider's node for the keyed commands
        int slider = -1;             // keyed commands: the slider bound to node afterwards
        const char* setup = nullptr; // "path=text" before the command
    };
    const TCase cases[] = {
        {"CenterAction", "detail/colormapping/level/center", 1},
        {"HighAction", "detail/colormapping/level/high", 2},
        {"LowAction", "detail/colormapping/level/low", 1},
        {"PhaseAction", "detail/colormapping/level/phase", 5},
        {"WidthAction", "detail/colormapping/level/width", 2},
        {"ZoomAction", "detail/zoom", 5},
        {"IncAction", "detail/gamma"},
        {"DecAction", "detail/gamma"},
        {"LargeIncAction", "detail/gamma"},
        {"LargeDecAction", "detail/gamma"},
        {"SliceAction", "detail/slice", 0},
        {"FitAction", "detail/fit"},
        {"AlphaAction", "detail/alpha", 3},
        {"EnhanceAction", "detail/enhance"},
        {"AnimateAction", "detail/animate"},
        {"PrevSeriesAction", "detail/series/prev"},
        {"NextSeriesAction", "detail/series/next"},
        {"PrevSliceAction", "detail/slices/prev"},
        {"NextSliceAction", "detail/slices/next"},
        {"SwapLRAction", "detail/path", -1, "detail/path=RBF"},
        {"SwapBUAction", "detail/path", -1, "detail/path=RBF"},
        {"SwapNFAction", "detail/path", -1, "detail/path=RBF"},
        {"SwapLUAction", "detail/path", -1, "detail/path=RBF"},
        {"SwapUFAction", "detail/path", -1, "detail/path=RBF"},
        {"SwapFRAction", "detail/path", -1, "detail/path=RBF"},
        {"ZoomNoneAction", "detail/fit", -1, "detail/fit=2"},
        {"ZoomFit2Action", "detail/fit"},
        {"ZoomFit1Action", "detail/fit"},
        {"ZoomRealAction", "detail/fit"},
        {"PopupAction", nullptr},
        {"AutoLevelsAction", "detail/slices/autolevels"},
        {"MoveLeftAction", "detail/slices/left"},
        {"MoveRightAction", "detail/slices/right"},
        {"MoveUpAction", "detail/slices/up"},
        {"MoveDownAction", "detail/slices/down"},
        {"ScrollLeftAction", "detail/slices/scroll-left"},
        {"ScrollRightAction", "detail/slices/scroll-right"},
        {"ScrollUpAction", "detail/slices/scroll-up"},
        {"ScrollDownAction", "detail/slices/scroll-down"},
        {"TransposeNFAction", "detail/series/xpose-near-far"},
        {"TransposeTBAction", "detail/series/xpose-top-bottom"},
        {"FullScreenAction", "detail/screensplit"},
        {"TransposeLRAction", "detail/series/xpose-left-right"},
        {"ThicknessAction", "detail/thickness", 5},
        {"MipNaviAction", "detail/mip-navi"},
        {"AutoSetupAction", "detail/autosetup"},
        {"MipDetailAction", "detail/mip-detail"},
        {"ZeroAction", "detail/zero"},
        {"GammaAction", "detail/gamma", 4},
        {"ExchangeAction", "detail/exchange", -1, "detail/overlay=4"},
        {"OverlayAction", "detail/overlay", -1, "detail/overlay=4"},
        {"FusionAction", "detail/chroma-fusion", -1, "detail/overlay=4"},
        {"GridAction", "detail/grid", 5},
        {"OpenDirectoryAction", "detail/series/open"},
        {"AddDirectoryAction", "detail/series/add"},
        {"QuitAction", "detail/series/quit"},
        {"MinimizeAction", "detail/series/minimize"},
        {"ReloadAction", "detail/reload"},
        {"Light3dAction", "detail/light3d", 5},
        {"SaveBitmapAction", "detail/savebitmap"},
        {"AngleAction", "detail/angle", 5},
        {"SwingAction", "detail/swing"},
        {"RotationAction", "detail/rotate"},
        {"ResetAction", "detail/gamma"},
        {"AddFileAction", "detail/series/addfile"},
        {"PermGrid", "detail/slices/permanent-grid"},
        {"UpscaleZAction", "detail/series/upscale-z"},
        {"UpscaleXAction", "detail/series/upscale-x"},
        {"UpscaleYAction", "detail/series/upscale-y"},
        {"UpscalUAction", "detail/series/upscale-u"},
        {"SaveCuboidAction", "detail/savecuboid"},
        {"SweepAction", "detail/sweep"},
        {"AboutAction", nullptr},
        {"SaveBitmapAutoAction", "detail/savebitmapauto"},
        {"SaveBitmapOpenAction", "detail/savebitmapopen"},
        {"AlignAction", "detail/align", 5},
        {"ResampleAlignedAction", "detail/series/resample-aligned"},
        {"ShiftLeftAction", "detail/slices/shift-left"},
        {"ShiftRightAction", "detail/slices/shift-right"},
        {"ShiftUpAction", "detail/slices/shift-up"},
        {"ShiftDownAction", "detail/slices/shift-down"},
        {"CoronarAction", "detail/slices/detail-coronar"},
        {"SagitalAction", "detail/slices/detail-sagital"},
        {"TransaxialAction", "detail/slices/detail-transaxial"},
        {"TwinAction", "detail/twin", -1, "detail/overlay=4"},
        {"ExtraAction", "detail/extra", 5},
        {"SaveBitmapFrameAction", "detail/crop-frame"},
        {"RevertAction", "detail/series/revert"},
        {"ReleaseAction", nullptr},
    };
    ASSERT_EQ(std::size(cases), Commands().size());
    const std::set<std::string> quiet = {"IncAction",      "DecAction",   "LargeIncAction",
                                         "LargeDecAction", "AboutAction", "ReleaseAction"};
    int abouts = 0;
    int releases = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const TCase& c = cases[i];
        const TCommand& command = Commands()[i];
        ASSERT_EQ(command.Name, c.command) << "list order";
        TParameterSession session;
        TMiniControlFrame panel;
        panel.SetRoot(&session.Root());
        panel.OnError = [&](const std::string& text) { ADD_FAILURE() << c.command << " raised " << text; };
        panel.OnAbout = [&] { ++abouts; };
        panel.OnRelease = [&] { ++releases; };
        if (c.setup) {
            const std::string setup = c.setup;
            session.Existing(setup.substr(0, setup.find('='))).SetText(setup.substr(setup.find('=') + 1));
        }
        if (command.Effect == TCommandEffect::Step || command.Effect == TCommandEffect::Reset) {
            const QKeyEvent g(QEvent::KeyPress, Qt::Key_G, Qt::NoModifier);
            panel.KeyPressed(g); // select the gamma slider
            if (c.command == std::string("DecAction") || c.command == std::string("LargeDecAction") ||
                c.command == std::string("ResetAction"))
                session.Existing("detail/gamma").SetText("2");
            panel.TakePendingCaption();
        }
        TCounter counter;
        if (c.node && c.slider < 0) session.Existing(c.node).AddListener(counter);

        // By key when the command owns its first shortcut, else through its action.
        const auto stroke = ParseShortcut(command.Shortcuts[0]);
        const bool byKey = stroke && CommandForKey(*stroke) == i;
        if (byKey) {
            Qt::KeyboardModifiers modifiers;
            if (stroke->Shift) modifiers |= Qt::ShiftModifier;
            if (stroke->Ctrl) modifiers |= Qt::ControlModifier;
            if (stroke->Alt) modifiers |= Qt::AltModifier;
            if (stroke->Keypad) modifiers |= Qt::KeypadModifier;
            const QKeyEvent event(QEvent::KeyPress, QtKey(stroke->Key), modifiers);
            EXPECT_TRUE(panel.KeyPressed(event)) << c.command;
        } else {
            panel.Command(c.command).trigger();
        }

        if (c.slider >= 0) {
            const TConfigNode* bound = panel.Sliders()[static_cast<std::size_t>(c.slider)]->Node();
            EXPECT_EQ(bound ? bound->Path() : "none", c.node) << c.command;
            EXPECT_EQ(panel.SelectedSlider(), panel.Sliders()[static_cast<std::size_t>(c.slider)])
                << c.command;
        } else if (c.node) {
            EXPECT_GE(counter.Count, 1) << c.command << (byKey ? " by key" : " by action");
        }
        if (c.command == std::string("PopupAction")) {
            EXPECT_TRUE(panel.ContextMenu().isVisible());
            panel.ContextMenu().hide();
        }
        const std::string caption = panel.TakePendingCaption();
        EXPECT_EQ(caption, quiet.contains(c.command) ? "" : StripAccelerator(command.Caption)) << c.command;
    }
    EXPECT_EQ(abouts, 1);
    EXPECT_EQ(releases, 1);
}

} // namespace
} // namespace tarvicon

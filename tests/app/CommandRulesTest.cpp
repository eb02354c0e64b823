#include "app/CommandRules.h"

#include "config/Schema.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace tarvicon {
namespace {

const TCommand& CommandNamed(std::string_view name) {
    const auto index = CommandIndex(name);
    if (!index) throw std::logic_error("no command " + std::string(name));
    return Commands()[*index];
}

std::string CommandNameFor(const TKeyStroke& pressed) {
    const auto index = CommandForKey(pressed);
    return index ? std::string(Commands()[*index].Name) : std::string("-");
}

// Counts the notifications of one node.
struct TCounter : INodeListener {
    int Count = 0;
    void NodeChanged(TConfigNode&) override { ++Count; }
};

// --- The table ---

TEST(CommandTable, NamesOrderAndPathsHoldTogether) {
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 89u);
    EXPECT_EQ(commands.front().Name, "CenterAction");
    EXPECT_EQ(commands.back().Name, "ReleaseAction");
    std::set<std::string_view> names;
    const auto root = CreateParameterTree();
    for (const TCommand& command : commands) {
        EXPECT_TRUE(names.insert(command.Name).second) << command.Name;
        for (std::string_view text : command.Shortcuts) {
            if (text.empty()) continue;
            EXPECT_TRUE(ParseShortcut(text)) << command.Name << " " << text;
        }
        for (std::string_view path : {command.Path, command.Other}) {
            if (path.empty()) continue;
            EXPECT_TRUE(root->FindNode(path)) << command.Name << " " << path;
        }
        if (command.Effect == TCommandEffect::Fire) {
            EXPECT_TRUE(dynamic_cast<TEventNode*>(root->FindNode(command.Path))) << command.Name;
        }
        EXPECT_EQ(command.Hidden, command.Name == "AddDirectoryAction" || command.Name == "AddFileAction")
            << command.Name;
    }
    for (const TParamEntry& entry : ParamEntries())
        EXPECT_TRUE(dynamic_cast<TEventNode*>(root->FindNode(entry.Path))) << entry.Caption;
}

TEST(CommandTable, TagsAndPicturesAsListed) {
    struct TCase {
        const char* name;
        int tag;
        int image;
    };
    const TCase cases[] = {
        {"IncAction", 1, -1},
        {"DecAction", -1, -1},
        {"LargeIncAction", 2, -1},
        {"LargeDecAction", -2, -1},
        {"ZoomNoneAction", 0, -1},
        {"ZoomFit2Action", 1, -1},
        {"ZoomFit1Action", 2, -1},
        {"ZoomRealAction", 3, -1},
        {"SwapBUAction", 0, 0},
        {"SwapLRAction", 0, 1},
        {"SwapNFAction", 0, 2},
        {"SwapLUAction", 0, 3},
        {"SwapUFAction", 0, 4},
        {"SwapFRAction", 0, 5},
        {"TransposeTBAction", 0, 0},
        {"TransposeLRAction", 0, 1},
        {"TransposeNFAction", 0, 2},
        {"MipNaviAction", 0, 6},
        {"ResampleAlignedAction", 0, 6},
        {"CenterAction", 0, -1},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(CommandNamed(c.name).Tag, c.tag) << c.name;
        EXPECT_EQ(CommandNamed(c.name).ImageIndex, c.image) << c.name;
    }
}

// --- Keys ---

TEST(CommandKeys, ShortcutTexts) {
    struct TCase {
        const char* text;
        std::optional<TKeyStroke> stroke;
    };
    const TCase cases[] = {
        {"C", TKeyStroke{"C"}},
        {"Shift+Ctrl+Alt+R", TKeyStroke{"R", true, true, true}},
        {"Num +", TKeyStroke{"+", false, false, false, true}},
        {"Shift+Num -", TKeyStroke{"-", true, false, false, true}},
        {"Shift++", TKeyStroke{"+", true}},
        {"Ctrl+Space", TKeyStroke{"Space", false, true}},
        {"", std::nullopt},
        {"Ctrl+", std::nullopt},
        {"c", std::nullopt},
        {"F13", std::nullopt},
    };
    for (const TCase& c : cases) EXPECT_EQ(ParseShortcut(c.text), c.stroke) << c.text;
}

TEST(CommandKeys, TheFirstCommandInListOrderTakesTheKey) {
    struct TCase {
        TKeyStroke pressed;
        const char* command;
    };
    const TCase cases[] = {
        {{"C"}, "CenterAction"},
        {{"C", true}, "-"},           // modifiers must match exactly
        {{"X"}, "ExchangeAction"},    // ExtraAction never gets X
        {{"Space"}, "EnhanceAction"}, // PermGrid never gets Space
        {{"E"}, "EnhanceAction"},
        {{"+", false, false, false, true}, "IncAction"},
        {{"+"}, "IncAction"},
        {{"Ins"}, "IncAction"},
        {{"-", false, false, false, true}, "DecAction"},
        {{"Del"}, "DecAction"},
        {{"+", true, false, false, true}, "LargeIncAction"},
        {{"+", true}, "LargeIncAction"},
        {{"Del", true}, "LargeDecAction"},
        {{"Ins", false, true}, "ResetAction"},
        {{"0", false, true}, "ResetAction"},
        {{"Left"}, "MoveLeftAction"},
        {{"Left", false, false, false, true}, "MoveLeftAction"}, // the keypad arrow too
        {{"Left", false, true}, "ScrollLeftAction"},
        {{"Left", true, true}, "ShiftLeftAction"},
        {{"R"}, "FusionAction"},
        {{"R", false, true}, "RotationAction"},
        {{"R", false, false, true}, "RevertAction"},
        {{"R", true, true, true}, "ReloadAction"},
        {{"S"}, "SliceAction"},
        {{"S", true}, "SaveBitmapOpenAction"},
        {{"S", false, true}, "SaveBitmapAutoAction"},
        {{"S", true, true}, "SaveBitmapAction"},
        {{"S", false, false, true}, "SaveBitmapFrameAction"},
        {{"X", false, true}, "TransaxialAction"},
        {{"X", true, true}, "TransposeLRAction"},
        {{"X", true, true, true}, "UpscaleXAction"},
        {{"Space", false, true}, "MinimizeAction"},
        {{"Enter"}, "ResampleAlignedAction"},
        {{"Esc"}, "PopupAction"},
        {{"Tab"}, "FullScreenAction"},
        {{"3"}, "Light3dAction"},
        {{"D", false, true}, "AddDirectoryAction"}, // hidden, still reachable
        {{"C", true, true, true}, "-"},
    };
    for (const TCase& c : cases) EXPECT_EQ(CommandNameFor(c.pressed), c.command) << c.pressed.Key;
    EXPECT_EQ(ParamEntryForKey({"C", true, true, true}), 0u);
    EXPECT_EQ(ParamEntryForKey({"P", true, true, true}), 1u);
    EXPECT_EQ(ParamEntryForKey({"P", true, true}), std::nullopt);
}

// --- Handlers ---

TEST(CommandHandlers, FitCycles) {
    int fit = 0;
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) seen.push_back(fit = NextFit(fit));
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 0, 1}));
    EXPECT_EQ(NextFit(4), 0);
    EXPECT_EQ(NextFit(9), 0);
}

TEST(CommandHandlers, AnimateTogglesAtMostEvery333Ms) {
    struct TCase {
        std::int64_t now;
        int value;
        const char* what;
    };
    const TCase presses[] = {
        {10000, 1, "from stopped: forward"},
        {10100, 0, "again within 333 ms: stopped"},
        {10400, 1, "400 ms after the first: forward again"},
        {10732, 0, "332 ms after the last toggle: stopped"},
        {10733, 1, "333 ms after it: a toggle, forward"},
        {11100, -1, "while forward: backward"},
        {11500, 1, "while backward: forward"},
    };
    TAnimateStep step{0, kAnimateLongAgo};
    for (const TCase& c : presses) {
        step = AnimateToggle(step.LastAnimate, c.now, step.Value);
        EXPECT_EQ(step.Value, c.value) << c.what;
    }
    EXPECT_EQ(AnimateToggle(0, 1000, 5).Value, 5); // another value is left, the time taken
    EXPECT_EQ(AnimateToggle(0, 1000, 5).LastAnimate, 1000);
    EXPECT_EQ(AnimateToggle(kAnimateLongAgo, 0, 0).Value, 1); // a press right at start
}

TEST(CommandHandlers, OrientationSwaps) {
    struct TCase {
        const char* command;
        const char* path;
        std::string swapped;
    };
    const TCase cases[] = {
        {"SwapLRAction", "RBF", "LBF"},
        {"SwapBUAction", "RBF", "RTF"},
        {"SwapNFAction", "RBF", "RBN"},
        {"SwapLUAction", "RBF", "BRF"},
        {"SwapUFAction", "RBF", "RFB"},
        {"SwapFRAction", "RBF", "FBR"},
        {"SwapNFAction", "RBN", "RBF"},
        {"SwapLUAction", "", "   "},
        {"SwapLRAction", "T", "B  "},
        {"SwapFRAction", "LT", " TL"},
        {"SwapLRAction", "XBF", std::string("\0BF", 3)}, // no opposite: character code 0
        {"SwapUFAction", "RBFX", "RFB"},
    };
    for (const TCase& c : cases) {
        const TCommand& command = CommandNamed(c.command);
        EXPECT_EQ(SwapPath(c.path, command.I, command.J), c.swapped) << c.command << " " << c.path;
    }
}

TEST(CommandHandlers, OverlayChromaAndToggles) {
    EXPECT_EQ(ToggledOverlay(0, 7), 7);
    EXPECT_EQ(ToggledOverlay(7, 7), 0);
    EXPECT_EQ(ToggledOverlay(3, 7), 0);
    EXPECT_EQ(ToggledOverlay(0, std::nullopt), 0);
    std::vector<int> chroma{0};
    for (int i = 0; i < 3; ++i) chroma.push_back(NextChroma(chroma.back()));
    EXPECT_EQ(chroma, (std::vector<int>{0, 1, 2, 0}));
    EXPECT_EQ(ToggledValue(0), 1);
    EXPECT_EQ(ToggledValue(-1), 0);
    EXPECT_EQ(ToggledValue(0.5), 0);
}

TEST(CommandHandlers, SliderPlanPerKey) {
    struct TCase {
        char key;
        std::vector<std::pair<int, char>> bindings;
        int selected;
    };
    const TCase cases[] = {
        {'C', {{1, 'C'}, {2, 'W'}}, 1},
        {'W', {{1, 'C'}, {2, 'W'}}, 2},
        {'H', {{1, 'L'}, {2, 'H'}}, 2},
        {'L', {{1, 'L'}, {2, 'H'}}, 1},
        {'A', {{3, 'A'}}, 3},
        {'G', {{4, 'G'}}, 4},
        {'S', {{0, 'S'}}, 0},
        {'T', {{5, 'T'}}, 5},
        {'X', {{5, 'X'}}, 5},
        {'3', {{5, '3'}}, 5},
        {'F', {}, -1},
        {'*', {}, -1},
    };
    for (const TCase& c : cases) {
        const TKeyPlan plan = KeyPlan(c.key);
        std::vector<std::pair<int, char>> bindings;
        for (const TSliderBinding& binding : plan.Bindings)
            bindings.emplace_back(binding.Slider, binding.Key);
        EXPECT_EQ(bindings, c.bindings) << c.key;
        EXPECT_EQ(plan.Selected, c.selected) << c.key;
    }
    EXPECT_EQ(LevelPlan(true).Bindings[0].Key, 'C');
    EXPECT_EQ(LevelPlan(false).Bindings[1].Key, 'H');
    EXPECT_EQ(LevelPlan(false).Selected, -1);
}

TEST(CommandExecution, PendingCaptionAndRefresh) {
    for (const TCommand& command : Commands()) {
        const bool exempt = command.Name == "IncAction" || command.Name == "DecAction" ||
                            command.Name == "LargeIncAction" || command.Name == "LargeDecAction" ||
                            command.Name == "AboutAction" || command.Name == "ReleaseAction";
        EXPECT_EQ(NotesPendingCaption(command), !exempt) << command.Name;
    }
    EXPECT_EQ(StripAccelerator("A&nimate"), "Animate");
    EXPECT_EQ(StripAccelerator("&Center"), "Center");
    EXPECT_EQ(StripAccelerator("Fish && Chips"), "Fish & Chips");
    EXPECT_EQ(StripAccelerator("End&"), "End");
    // A command at 5000 brings the refresh to 100 ms later; otherwise it comes every 1000 ms.
    const std::int64_t last = RefreshSoon(5000);
    EXPECT_FALSE(RefreshDue(last, 5100));
    EXPECT_TRUE(RefreshDue(last, 5101));
    EXPECT_FALSE(RefreshDue(5000, 6000));
    EXPECT_TRUE(RefreshDue(5000, 6001));
}

TEST(CommandExecution, NodeEffectsOnTheTree) {
    struct TCase {
        const char* command;
        const char* path;
        const char* before; // nullptr: leave the default
        const char* after;
    };
    const TCase cases[] = {
        {"MipNaviAction", "detail/mip-navi", "0", "1"},
        {"MipNaviAction", "detail/mip-navi", "1", "0"},
        {"EnhanceAction", "detail/enhance", "1", "1"},
        {"EnhanceAction", "detail/enhance", "0", "1"},
        {"FusionAction", "detail/chroma-fusion", "2", "0"},
        {"FullScreenAction", "detail/screensplit", "640", "-640"},
        {"FullScreenAction", "detail/screensplit", "-640", "640"},
        {"PermGrid", "detail/slices/permanent-grid", nullptr, "0"},
        {"ZoomRealAction", "detail/fit", "1", "3"},
        {"TwinAction", "detail/twin", nullptr, "0"},
        {"SaveBitmapFrameAction", "detail/crop-frame", nullptr, "1"},
        {"SwapLUAction", "detail/path", "RBF", "BRF"},
        {"OverlayAction", "detail/overlay", "0", "7"},
        {"OverlayAction", "detail/overlay", "7", "0"},
    };
    for (const TCase& c : cases) {
        const auto root = CreateParameterTree();
        TConfigNode& node = *root->FindNode(c.path);
        if (c.before) node.SetText(c.before);
        EXPECT_TRUE(ApplyNodeEffect(CommandNamed(c.command), *root, 7));
        EXPECT_EQ(node.GetText(), c.after) << c.command << " from " << (c.before ? c.before : "default");
    }
}

TEST(CommandExecution, SwingAndRotationExcludeEachOther) {
    const auto root = CreateParameterTree();
    TConfigNode& swing = *root->FindNode("detail/swing");
    TConfigNode& rotate = *root->FindNode("detail/rotate");
    ApplyNodeEffect(CommandNamed("RotationAction"), *root, std::nullopt);
    EXPECT_EQ(rotate.GetText(), "1");
    ApplyNodeEffect(CommandNamed("SwingAction"), *root, std::nullopt);
    EXPECT_EQ(swing.GetText(), "1");
    EXPECT_EQ(rotate.GetText(), "0");
    ApplyNodeEffect(CommandNamed("SwingAction"), *root, std::nullopt);
    EXPECT_EQ(swing.GetText(), "0");
}

TEST(CommandExecution, EventsFireAndAutoLevelsNotifiesAtZero) {
    const auto root = CreateParameterTree();
    for (const char* name : {"QuitAction", "AutoLevelsAction", "ResampleAlignedAction"}) {
        const TCommand& command = CommandNamed(name);
        TCounter counter;
        root->FindNode(command.Path)->AddListener(counter);
        EXPECT_TRUE(ApplyNodeEffect(command, *root, std::nullopt));
        EXPECT_TRUE(ApplyNodeEffect(command, *root, std::nullopt));
        EXPECT_EQ(counter.Count, 2) << name;
    }
    for (const char* panelOnly : {"CenterAction", "FitAction", "AnimateAction", "IncAction", "ResetAction",
                                  "PopupAction", "AboutAction", "ReleaseAction"})
        EXPECT_FALSE(ApplyNodeEffect(CommandNamed(panelOnly), *root, std::nullopt)) << panelOnly;
}

// --- States ---

TEST(CommandStates, RulesReadTheTree) {
    struct TCase {
        const char* command;
        std::vector<std::pair<const char*, const char*>> set;
        TCommandState state;
    };
    const TCase cases[] = {
        {"ExchangeAction", {{"detail/exchange", "1"}}, {false, true, 7}},
        {"ExchangeAction", {{"detail/overlay", "4"}}, {true, false, 6}},
        {"FusionAction", {{"detail/chroma-fusion", "2"}}, {false, true, 7}},
        {"FusionAction", {{"detail/overlay", "4"}, {"detail/chroma-fusion", "2"}}, {true, true, 7}},
        {"TwinAction", {{"detail/overlay", "4"}}, {true, true, 7}},
        {"OverlayAction", {{"detail/overlay", "4"}}, {true, true, 7}},
        {"OverlayAction", {}, {true, false, 6}},
        {"ZoomFit1Action", {{"detail/fit", "2"}}, {true, true, -1}},
        {"ZoomFit2Action", {{"detail/fit", "2"}}, {true, false, -1}},
        {"ZoomNoneAction", {}, {true, true, -1}},
        {"EnhanceAction", {{"detail/enhance", "1"}}, {true, true, 7}},
        {"RotationAction", {{"detail/rotate", "1"}}, {true, true, 7}},
        {"SweepAction", {{"detail/sweep", "1"}}, {true, true, 7}},
        {"ResampleAlignedAction", {}, {true, false, 6}},
        {"ResampleAlignedAction", {{"detail/angle", "10"}}, {true, false, 7}},
        {"ResampleAlignedAction", {{"detail/align", "-2.5"}}, {true, false, 7}},
        {"SwapNFAction", {}, {true, false, 2}},
        {"SaveBitmapFrameAction", {{"detail/crop-frame", "1"}}, {true, false, -1}},
    };
    for (const TCase& c : cases) {
        const auto root = CreateParameterTree();
        for (const auto& [path, text] : c.set) root->FindNode(path)->SetText(text);
        const TCommandState state = CommandState(CommandNamed(c.command), *root);
        EXPECT_EQ(state.Enabled, c.state.Enabled) << c.command;
        EXPECT_EQ(state.Ticked, c.state.Ticked) << c.command;
        EXPECT_EQ(state.ImageIndex, c.state.ImageIndex) << c.command;
    }
    const auto root = CreateParameterTree();
    static_cast<TScalarNode*>(root->FindNode("detail/sweep"))->SetEnabled(false);
    EXPECT_FALSE(CommandState(CommandNamed("SweepAction"), *root).Enabled);
}

} // namespace
} // namespace tarvicon

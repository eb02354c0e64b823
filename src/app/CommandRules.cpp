#include "app/CommandRules.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tarvicon {

namespace {

using E = TCommandEffect;
using S = TStateRule;

// Parameter commands dispatch on their shortcut's character.
constexpr TCommand ParamKey(std::string_view name, std::string_view category, std::string_view caption,
                            std::string_view hint, std::string_view shortcut, char key,
                            std::string_view path = {}) {
    return {.Name = name,
            .Category = category,
            .Caption = caption,
            .Hint = hint,
            .Shortcuts = {shortcut},
            .Effect = E::ParamKey,
            .Path = path,
            .Key = key};
}

constexpr TCommand Fire(std::string_view name, std::string_view category, std::string_view caption,
                        std::string_view hint, std::string_view shortcut, std::string_view path,
                        int image = -1, bool hidden = false) {
    return {.Name = name,
            .Category = category,
            .Caption = caption,
            .Hint = hint,
            .Shortcuts = {shortcut},
            .ImageIndex = image,
            .Hidden = hidden,
            .Effect = E::Fire,
            .Path = path};
}

// A command that toggles a value and shows its state as the toggle picture.
constexpr TCommand Toggle(std::string_view name, std::string_view category, std::string_view caption,
                          std::string_view hint, std::string_view shortcut, std::string_view path,
                          TStateRule state = S::Toggle) {
    return {.Name = name,
            .Category = category,
            .Caption = caption,
            .Hint = hint,
            .Shortcuts = {shortcut},
            .ImageIndex = kImageToggleOff,
            .Effect = E::Toggle,
            .Path = path,
            .State = state};
}

constexpr TCommand FitMode(std::string_view name, std::string_view caption, std::string_view hint, int tag) {
    return {.Name = name,
            .Category = "Zoom",
            .Caption = caption,
            .Hint = hint,
            .Tag = tag,
            .Effect = E::Assign,
            .Path = "detail/fit",
            .Value = tag,
            .State = S::FitTag};
}

constexpr TCommand Step(std::string_view name, std::string_view caption, std::string_view hint,
                        std::array<std::string_view, 3> shortcuts, int tag) {
    return {.Name = name,
            .Category = "General",
            .Caption = caption,
            .Hint = hint,
            .Shortcuts = shortcuts,
            .Tag = tag,
            .Effect = E::Step};
}

constexpr TCommand Swap(std::string_view name, std::string_view caption, std::string_view hint, int image,
                        int i, int j) {
    return {.Name = name,
            .Category = "Swap",
            .Caption = caption,
            .Hint = hint,
            .ImageIndex = image,
            .Effect = E::Swap,
            .Path = "detail/path",
            .I = i,
            .J = j};
}

const TCommand kCommands[] = {
    ParamKey("CenterAction", "Levels", "&Center", "Center scale level", "C", 'C'),
    ParamKey("HighAction", "Levels", "&High", "High scale level", "H", 'H'),
    ParamKey("LowAction", "Levels", "&Low", "Low scale level", "L", 'L'),
    ParamKey("PhaseAction", "Levels", "&Phase", "Coloring phase level", "P", 'P'),
    ParamKey("WidthAction", "Levels", "&Width", "Width scale level", "W", 'W'),
    ParamKey("ZoomAction", "Zoom", "&Zoom", "Zoom", "Z", 'Z'),
    Step("IncAction", "Increment", "Increment selected parameter", {"Num +", "Ins", "+"}, 1),
    Step("DecAction", "Decrement", "Decrement selected parameter", {"Num -", "Del", "-"}, -1),
    Step("LargeIncAction", "Large Increment", "Large increment selected parameter",
         {"Shift+Num +", "Shift+Ins", "Shift++"}, 2),
    Step("LargeDecAction", "Large Decrement", "Large decrement selected parameter",
         {"Shift+Num -", "Shift+Del", "Shift+-"}, -2),
    ParamKey("SliceAction", "Position", "Slice", "Select selected slice", "S", 'S'),
    ParamKey("FitAction", "Zoom", "&Fit screen", "Fit screen size", "F", 'F', "detail/fit"),
    ParamKey("AlphaAction", "Levels", "Alpha", "Overlay alpha blending", "A", 'A'),
    {.Name = "EnhanceAction",
     .Category = "Levels",
     .Caption = "Enhance",
     .Hint = "Enhance image detail",
     .Shortcuts = {"E", "Space"},
     .ImageIndex = kImageToggleOff,
     .Effect = E::Assign,
     .Path = "detail/enhance",
     .Value = 1,
     .State = S::Toggle},
    ParamKey("AnimateAction", "Position", "A&nimate", "Animate slices", "", '*', "detail/animate"),
    Fire("PrevSeriesAction", "General", "Previous series", "Select previous series", "Home",
         "detail/series/prev"),
    Fire("NextSeriesAction", "General", "Next series", "Select next series", "End", "detail/series/next"),
    Fire("PrevSliceAction", "Position", "Previous slice", "Select previous slice", "PgUp",
         "detail/slices/prev"),
    Fire("NextSliceAction", "Position", "Next slice", "Select next slice", "PgDn", "detail/slices/next"),
    Swap("SwapLRAction", "Swap Left / Right", "Swap dimensions Left nd Right", 1, -1, -1),
    Swap("SwapBUAction", "Swap Bottom / Up", "Swap dimensions Bottom and Up", 0, -2, -2),
    Swap("SwapNFAction", "Swap Near / Far", "Swap dimensions Near and Far", 2, -3, -3),
    Swap("SwapLUAction", "Swap Left / Up", "Swap dimensions Left and Up", 3, 1, 2),
    Swap("SwapUFAction", "Swap Up / Far", "Swap dimensions Up and Far", 4, 2, 3),
    Swap("SwapFRAction", "Swap Far / Right", "Swap dimensions Far and Righ", 5, 1, 3),
    FitMode("ZoomNoneAction", "Zoom 1:1", "Pixel to Pixel zoom", 0),
    FitMode("ZoomFit2Action", "Fit both", "Fit both sides zoom", 1),
    FitMode("ZoomFit1Action", "Fit one", "Fit one side zoom", 2),
    FitMode("ZoomRealAction", "&Real size", "Zoom to real size", 3),
    {.Name = "PopupAction",
     .Category = "General",
     .Caption = "Popup",
     .Hint = "Popup popup menu",
     .Shortcuts = {"Esc"},
     .Effect = E::Popup},
    // The node notifies even when it stays 0 (forced notification), so this always recomputes.
    {.Name = "AutoLevelsAction",
     .Category = "Levels",
     .Caption = "Auto levels",
     .Hint = "Compute levels",
     .Effect = E::Assign,
     .Path = "detail/slices/autolevels",
     .Value = 0},
    Fire("MoveLeftAction", "Position", "Move &Left", "Move one pixel left", "Left", "detail/slices/left"),
    Fire("MoveRightAction", "Position", "Move &Right", "Move one pixel right", "Right",
         "detail/slices/right"),
    Fire("MoveUpAction", "Position", "Move &Up", "Move one pixel up", "Up", "detail/slices/up"),
    Fire("MoveDownAction", "Position", "Move &Down", "Move one pixel down", "Down", "detail/slices/down"),
    Fire("ScrollLeftAction", "Position", "Scroll left", "Scroll one pixel left", "Ctrl+Left",
         "detail/slices/scroll-left"),
    Fire("ScrollRightAction", "Position", "Scroll Right", "Scroll one pixel right", "Ctrl+Right",
         "detail/slices/scroll-right"),
    Fire("ScrollUpAction", "Position", "Scroll Up", "Scroll one pixel up", "Ctrl+Up",
         "detail/slices/scroll-up"),
    Fire("ScrollDownAction", "Position", "Scroll Down", "Scroll one pixel down", "Ctrl+Down",
         "detail/slices/scroll-down"),
    Fire("TransposeNFAction", "Transpose", "Transpose Near/Far", "Transpose near and far slices",
         "Shift+Ctrl+Z", "detail/series/xpose-near-far", 2),
    Fire("TransposeTBAction", "Transpose", "Transpose Top / Bottom", "Transpose top and bottom pixels",
         "Shift+Ctrl+Y", "detail/series/xpose-top-bottom", 0),
    {.Name = "FullScreenAction",
     .Category = "General",
     .Caption = "Control panel",
     .Hint = "Show/hide control panel",
     .Shortcuts = {"Tab"},
     .Effect = E::Negate,
     .Path = "detail/screensplit"},
    Fire("TransposeLRAction", "Transpose", "Transpose Left / Right", "Transpose left and right pixels",
         "Shift+Ctrl+X", "detail/series/xpose-left-right", 1),
    ParamKey("ThicknessAction", "Levels", "&Thickness", "Relative slice thickness", "T", 'T'),
    Toggle("MipNaviAction", "Levels", "MIPnavi", "Maximum Internsity Projection on/off on navigation views",
           "M", "detail/mip-navi"),
    Fire("AutoSetupAction", "General", "Autosetup", "Select preset  according series name", "Ctrl+A",
         "detail/autosetup"),
    Toggle("MipDetailAction", "Levels", "&MIPdetail", "Maximum Intensity Projection on detail view", "Ctrl+M",
           "detail/mip-detail"),
    Fire("ZeroAction", "Position", "Zero position", "Move to zere reference point", "Alt+Z", "detail/zero"),
    ParamKey("GammaAction", "Levels", "&Gamma", "Set gamma image correction", "G", 'G'),
    Toggle("ExchangeAction", "General", "E&xchange", "Show the overlay object in navigation views", "X",
           "detail/exchange", S::OverlayToggle),
    {.Name = "OverlayAction",
     .Category = "General",
     .Caption = "&Overlay",
     .Hint = "Use selected object as the overlay ",
     .Shortcuts = {"O"},
     .ImageIndex = kImageToggleOff,
     .Effect = E::Overlay,
     .Path = "detail/overlay",
     .State = S::Toggle},
    {.Name = "FusionAction",
     .Category = "Levels",
     .Caption = "Ch&roma",
     .Hint = "Enable image chroma fusion",
     .Shortcuts = {"R"},
     .ImageIndex = kImageToggleOff,
     .Effect = E::Cycle3,
     .Path = "detail/chroma-fusion",
     .State = S::OverlayToggle},
    ParamKey("GridAction", "Levels", "Gri&d opacity", "Navigation grid opacity", "D", 'D'),
    Fire("OpenDirectoryAction", "File", "Open directory", "Open DICOM directory", "Ctrl+O",
         "detail/series/open"),
    Fire("AddDirectoryAction", "File", "Add directory", "Add DICOM directory", "Ctrl+D", "detail/series/add",
         -1, true),
    Fire("QuitAction", "File", "Quit", "Close viewer", "Q", "detail/series/quit"),
    Fire("MinimizeAction", "File", "Minimize", "Iconize the application", "Ctrl+Space",
         "detail/series/minimize"),
    Fire("ReloadAction", "General", "Reload", "Reload configuration", "Shift+Ctrl+Alt+R", "detail/reload"),
    ParamKey("Light3dAction", "Levels", "3dLight", "Add 3d light", "3", '3'),
    Fire("SaveBitmapAction", "File", "Save bitmap", "Save detail view bitmap to file", "Shift+Ctrl+S",
         "detail/savebitmap"),
    ParamKey("AngleAction", "Position", "Angle", "Slice rotation angle", "N", 'N'),
    {.Name = "SwingAction",
     .Category = "Position",
     .Caption = "Swing",
     .Hint = "Swing rotation angle",
     .Shortcuts = {"Ctrl+W"},
     .ImageIndex = kImageToggleOff,
     .Effect = E::ToggleAndClear,
     .Path = "detail/swing",
     .Other = "detail/rotate",
     .State = S::Toggle},
    {.Name = "RotationAction",
     .Category = "Position",
     .Caption = "Rotate",
     .Hint = "Progress rotation angle",
     .Shortcuts = {"Ctrl+R"},
     .ImageIndex = kImageToggleOff,
     .Effect = E::ToggleAndClear,
     .Path = "detail/rotate",
     .Other = "detail/swing",
     .State = S::Toggle},
    {.Name = "ResetAction",
     .Category = "General",
     .Caption = "Reset",
     .Hint = "Reset value to low range bound",
     .Shortcuts = {"Ctrl+0", "Ctrl+Ins"},
     .Effect = E::Reset},
    Fire("AddFileAction", "File", "Add file", "Add one or more files", "Shift+Ctrl+D",
         "detail/series/addfile", -1, true),
    {.Name = "PermGrid",
     .Category = "Position",
     .Caption = "Permanent grid",
     .Hint = "Show/hid navigation grid permanently",
     .Shortcuts = {"Space"},
     .Effect = E::Invert,
     .Path = "detail/slices/permanent-grid"},
    Fire("UpscaleZAction", "Transpose", "Upscale Z", "Upscale cuboid in z coord", "Shift+Ctrl+Alt+Z",
         "detail/series/upscale-z"),
    Fire("UpscaleXAction", "Transpose", "Upscale X", "Upscale cuboid in x coord", "Shift+Ctrl+Alt+X",
         "detail/series/upscale-x"),
    Fire("UpscaleYAction", "Transpose", "Upscale Y", "Upscale cuboid in y coord", "Shift+Ctrl+Alt+Y",
         "detail/series/upscale-y"),
    Fire("UpscalUAction", "Transpose", "Upscale ", "Upscale cuboid in all coords", "Ctrl+U",
         "detail/series/upscale-u"),
    Fire("SaveCuboidAction", "File", "Save cuboid", "Save cuboid to a file", "", "detail/savecuboid"),
    Toggle("SweepAction", "Levels", "Sweep", "Sweep alpha ", "Ctrl+E", "detail/sweep", S::NodeEnabled),
    {.Name = "AboutAction",
     .Category = "File",
     .Caption = "About...",
     .Hint = "About application...",
     .Effect = E::About},
    Fire("SaveBitmapAutoAction", "File", "Autosave bitmap", "Autosave detail view bitmap to file", "Ctrl+S",
         "detail/savebitmapauto"),
    Fire("SaveBitmapOpenAction", "File", "Open export directory", "Open export directory", "Shift+S",
         "detail/savebitmapopen"),
    ParamKey("AlignAction", "Position", "Align", "Align cuboid", "I", 'I'),
    {.Name = "ResampleAlignedAction",
     .Category = "Transpose",
     .Caption = "Process",
     .Hint = "Process alignment and/or rotation adjusted permanently",
     .Shortcuts = {"Enter"},
     .ImageIndex = kImageToggleOff,
     .Effect = E::Fire,
     .Path = "detail/series/resample-aligned",
     .State = S::Adjusted},
    Fire("ShiftLeftAction", "Position", "Shift Left", "Shift coordination system left", "Shift+Ctrl+Left",
         "detail/slices/shift-left"),
    Fire("ShiftRightAction", "Position", "Shift Right", "Shift coordination system right", "Shift+Ctrl+Right",
         "detail/slices/shift-right"),
    Fire("ShiftUpAction", "Position", "Shift Up", "Shift coordination system up", "Shift+Ctrl+Up",
         "detail/slices/shift-up"),
    Fire("ShiftDownAction", "Position", "Shift Down", "Shift coordination system down", "Shift+Ctrl+Down",
         "detail/slices/shift-down"),
    Fire("CoronarAction", "Transpose", "Coronar detail", "Switch detail to coronar", "Ctrl+C",
         "detail/slices/detail-coronar"),
    Fire("SagitalAction", "Transpose", "Sagital detail", "Switch detail view to sagital", "Ctrl+G",
         "detail/slices/detail-sagital"),
    Fire("TransaxialAction", "Transpose", "Transaxial detail", "Swicth detail view to transaxial", "Ctrl+X",
         "detail/slices/detail-transaxial"),
    Toggle("TwinAction", "Transpose", "Twin", "Process transformation on overlay", "Ctrl+T", "detail/twin",
           S::OverlayToggle),
    ParamKey("ExtraAction", "General", "Extra", "Extra parameter", "X", 'X'),
    {.Name = "SaveBitmapFrameAction",
     .Category = "File",
     .Caption = "Export selection frame",
     .Hint = "Show cropping frame for bitmap export ",
     .Shortcuts = {"Alt+S"},
     .Effect = E::Toggle,
     .Path = "detail/crop-frame"},
    Fire("RevertAction", "Transpose", "Revert", "Revert volume data to initial state", "Alt+R",
         "detail/series/revert"),
    {.Name = "ReleaseAction",
     .Caption = "Release window",
     .Hint = "Release the main window",
     .Effect = E::Release},
};
static_assert(std::size(kCommands) == 89);

const TParamEntry kParamEntries[] = {
    {"Copy params", "Copy parameters to clipboard", "Shift+Ctrl+Alt+C", "detail/copy"},
    {"Paste params", "Paste params from clipboard", "Shift+Ctrl+Alt+P", "detail/paste"},
};

bool KnownKeyName(std::string_view key) {
    static constexpr std::string_view kNames[] = {"+",    "-",     "Space", "Tab", "Esc",  "Enter",
                                                  "Ins",  "Del",   "Home",  "End", "PgUp", "PgDn",
                                                  "Left", "Right", "Up",    "Down"};
    if (key.size() == 1 && ((key[0] >= 'A' && key[0] <= 'Z') || (key[0] >= '0' && key[0] <= '9')))
        return true;
    return std::find(std::begin(kNames), std::end(kNames), key) != std::end(kNames);
}

// Shortcut texts are parsed once; the table never changes.
const std::vector<std::vector<TKeyStroke>>& ParsedShortcuts() {
    static const std::vector<std::vector<TKeyStroke>> parsed = [] {
        std::vector<std::vector<TKeyStroke>> all;
        for (const TCommand& command : kCommands) {
            std::vector<TKeyStroke> strokes;
            for (std::string_view text : command.Shortcuts)
                if (auto stroke = ParseShortcut(text)) strokes.push_back(*stroke);
            all.push_back(std::move(strokes));
        }
        return all;
    }();
    return parsed;
}

TConfigNode& NodeOf(const TConfigNode& root, std::string_view path) {
    TConfigNode* node = root.FindNode(path);
    if (!node) throw std::logic_error("No node " + std::string(path));
    return *node;
}

} // namespace

std::span<const TCommand> Commands() {
    return kCommands;
}

std::optional<std::size_t> CommandIndex(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kCommands); ++i)
        if (kCommands[i].Name == name) return i;
    return std::nullopt;
}

std::span<const TParamEntry> ParamEntries() {
    return kParamEntries;
}

std::optional<TKeyStroke> ParseShortcut(std::string_view text) {
    TKeyStroke stroke;
    for (bool more = true; more;) {
        more = false;
        for (auto [prefix, flag] : {std::pair<std::string_view, bool*>{"Shift+", &stroke.Shift},
                                    {"Ctrl+", &stroke.Ctrl},
                                    {"Alt+", &stroke.Alt},
                                    {"Num ", &stroke.Keypad}}) {
            // "Shift++" is Shift with the "+" key: a prefix never takes the last character.
            if (text.size() > prefix.size() && text.starts_with(prefix)) {
                *flag = true;
                text.remove_prefix(prefix.size());
                more = true;
            }
        }
    }
    if (!KnownKeyName(text)) return std::nullopt;
    stroke.Key = std::string(text);
    return stroke;
}

bool ShortcutMatches(const TKeyStroke& shortcut, const TKeyStroke& pressed) {
    return shortcut.Key == pressed.Key && shortcut.Shift == pressed.Shift && shortcut.Ctrl == pressed.Ctrl &&
           shortcut.Alt == pressed.Alt && (!shortcut.Keypad || pressed.Keypad);
}

std::optional<std::size_t> CommandForKey(const TKeyStroke& pressed) {
    const auto& parsed = ParsedShortcuts();
    for (std::size_t i = 0; i < parsed.size(); ++i)
        for (const TKeyStroke& shortcut : parsed[i])
            if (ShortcutMatches(shortcut, pressed)) return i;
    return std::nullopt;
}

std::optional<std::size_t> ParamEntryForKey(const TKeyStroke& pressed) {
    for (std::size_t i = 0; i < std::size(kParamEntries); ++i) {
        const auto shortcut = ParseShortcut(kParamEntries[i].Shortcut);
        if (shortcut && ShortcutMatches(*shortcut, pressed)) return i;
    }
    return std::nullopt;
}

bool NotesPendingCaption(const TCommand& command) {
    return command.Effect != E::Step && command.Effect != E::About && command.Effect != E::Release;
}

std::string StripAccelerator(std::string_view caption) {
    std::string text;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') text += caption[++i];
            continue;
        }
        text += caption[i];
    }
    return text;
}

bool RefreshDue(std::int64_t lastRefresh, std::int64_t now) {
    return now - lastRefresh > kRefreshIntervalMs;
}

std::int64_t RefreshSoon(std::int64_t now) {
    return now - (kRefreshIntervalMs - kRefreshSoonMs);
}

int NextFit(int fit) {
    return (std::min(fit, 3) + 1) % 4;
}

TAnimateStep AnimateToggle(std::int64_t lastAnimate, std::int64_t now, int value) {
    if (now - lastAnimate < kAnimateToggleMs) return {0, lastAnimate};
    if (value == -1 || value == 0) return {1, now};
    if (value == 1) return {-1, now};
    return {value, now};
}

char OppositeLetter(char letter) {
    switch (letter) {
    case 'B':
        return 'T';
    case 'T':
        return 'B';
    case 'F':
        return 'N';
    case 'N':
        return 'F';
    case 'L':
        return 'R';
    case 'R':
        return 'L';
    default:
        return 0;
    }
}

std::string SwapPath(std::string_view path, int i, int j) {
    std::string text(path.substr(0, 3));
    text.resize(3, ' ');
    const auto letter = [&](int position) {
        const char c = text[static_cast<std::size_t>(std::abs(position) - 1)];
        return position < 0 ? OppositeLetter(c) : c;
    };
    const char a = letter(i);
    const char b = letter(j);
    text[static_cast<std::size_t>(std::abs(j) - 1)] = a;
    if (std::abs(i) != std::abs(j)) text[static_cast<std::size_t>(std::abs(i) - 1)] = b;
    return text;
}

int ToggledValue(double value) {
    return value != 0 ? 0 : 1;
}

int NextChroma(int value) {
    return (value + 1) % 3;
}

std::int32_t ToggledOverlay(std::int32_t overlay, std::optional<std::int32_t> subjectSerial) {
    return overlay != 0 ? 0 : subjectSerial.value_or(0);
}

bool ApplyNodeEffect(const TCommand& command, TConfigNode& root, std::optional<std::int32_t> subjectSerial) {
    switch (command.Effect) {
    case E::Fire: {
        auto* event = dynamic_cast<TEventNode*>(&NodeOf(root, command.Path));
        if (!event) throw std::logic_error("No event node " + std::string(command.Path));
        event->Fire();
        return true;
    }
    case E::Toggle: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetAsInteger(ToggledValue(node.GetAsFloat()));
        return true;
    }
    case E::Assign:
        NodeOf(root, command.Path).SetAsInteger(command.Value);
        return true;
    case E::ToggleAndClear: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetAsInteger(ToggledValue(node.GetAsFloat()));
        NodeOf(root, command.Other).SetAsInteger(0);
        return true;
    }
    case E::Cycle3: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetAsInteger(NextChroma(node.GetAsInteger()));
        return true;
    }
    case E::Invert: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetAsInteger(1 - node.GetAsInteger());
        return true;
    }
    case E::Negate: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetAsInteger(-node.GetAsInteger());
        return true;
    }
    case E::Overlay: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetAsInteger(ToggledOverlay(node.GetAsInteger(), subjectSerial));
        return true;
    }
    case E::Swap: {
        TConfigNode& node = NodeOf(root, command.Path);
        node.SetText(SwapPath(node.GetText(), command.I, command.J));
        return true;
    }
    default:
        return false;
    }
}

TKeyPlan KeyPlan(char key) {
    switch (key) {
    case 'C':
    case 'W':
        return {{{1, 'C'}, {2, 'W'}}, key == 'C' ? 1 : 2};
    case 'H':
    case 'L':
        return {{{1, 'L'}, {2, 'H'}}, key == 'L' ? 1 : 2};
    case 'A':
        return {{{3, 'A'}}, 3};
    case 'G':
        return {{{4, 'G'}}, 4};
    case 'S':
        return {{{0, 'S'}}, 0};
    case 'F':
    case '*':
        return {};
    default:
        return {{{5, key}}, 5};
    }
}

TKeyPlan LevelPlan(bool centered) {
    if (centered) return {{{1, 'C'}, {2, 'W'}}, -1};
    return {{{1, 'L'}, {2, 'H'}}, -1};
}

TCommandState CommandState(const TCommand& command, const TConfigNode& root) {
    const auto value = [&](std::string_view path) { return NodeOf(root, path).GetAsFloat(); };
    const auto toggle = [&](bool enabled) {
        const bool ticked = value(command.Path) != 0;
        return TCommandState{enabled, ticked, ticked ? kImageToggleOn : kImageToggleOff};
    };
    switch (command.State) {
    case S::FitTag:
        return {true, value("detail/fit") == command.Tag, command.ImageIndex};
    case S::Toggle:
        return toggle(true);
    case S::OverlayToggle:
        return toggle(value("detail/overlay") != 0);
    case S::NodeEnabled: {
        const auto* scalar = dynamic_cast<const TScalarNode*>(&NodeOf(root, command.Path));
        return toggle(scalar && scalar->Enabled());
    }
    case S::Adjusted: {
        const bool adjusted = value("detail/angle") != 0 || value("detail/align") != 0;
        return {true, false, adjusted ? kImageToggleOn : kImageToggleOff};
    }
    default:
        return {true, false, command.ImageIndex};
    }
}

} // namespace tarvicon

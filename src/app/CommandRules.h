#pragma once
// The command set without a toolkit: the 89 commands as data, the keys that reach them, the
// state rules, and the arithmetic of their handlers (fit cycle, animate toggling, orientation
// swaps, overlay and chroma). The command panel only feeds them keys, clicks and the tick count.

#include "config/ConfigNodes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// What a command does when it runs.
enum class TCommandEffect {
    ParamKey,       // the parameter handler with Key: binds sliders, cycles the fit, toggles animate
    Fire,           // fires the event node Path
    Toggle,         // Path := 0 when non-zero, else 1
    Assign,         // Path := Value
    ToggleAndClear, // toggles Path, then Other := 0
    Cycle3,         // Path := (value + 1) mod 3
    Invert,         // Path := 1 − value
    Negate,         // Path := − value
    Overlay,        // Path := 0 when non-zero, else the subject's serial number
    Swap,           // Path := the orientation swap (I, J) of its text
    Step,           // the selected slider by the sign of Tag, a large step when |Tag| ≠ 1
    Reset,          // the selected slider to its low range bound
    Popup,          // the context menu at the centre of the screen
    About,          // the window's about box
    Release,        // the window's border between none and sizeable
};

// Which rule gives a command its enabled, ticked and image states.
enum class TStateRule {
    None,          // always enabled, never ticked, its own image
    FitTag,        // ticked when "detail/fit" equals Tag
    Toggle,        // ticked when Path ≠ 0; image 6 + ticked
    OverlayToggle, // as Toggle, enabled only while "detail/overlay" ≠ 0
    NodeEnabled,   // as Toggle, enabled as Path's Enabled flag
    Adjusted,      // never ticked; image 7 when "detail/angle" or "detail/align" ≠ 0, else 6
};

// One command of the panel.
struct TCommand {
    std::string_view Name{};
    std::string_view Category{}; // empty for none
    std::string_view Caption{};  // "&" marks the accelerator letter
    std::string_view Hint{};
    std::array<std::string_view, 3> Shortcuts{}; // primary first; empty texts for none
    int Tag = 0;
    int ImageIndex = -1; // −1: no picture
    bool Hidden = false; // not in menus; the shortcuts still work
    TCommandEffect Effect = TCommandEffect::Fire;
    std::string_view Path{};  // relative to the root
    std::string_view Other{}; // ToggleAndClear: the node cleared afterwards
    int Value = 0;            // Assign: the value written
    char Key = 0;             // ParamKey: the key the parameter handler dispatches on
    int I = 0, J = 0;         // Swap: the two signed positions
    TStateRule State = TStateRule::None;
};

// The commands in list order (the order decides which command gets a shared key).
std::span<const TCommand> Commands();
// The index of a command by name; nothing for an unknown name.
std::optional<std::size_t> CommandIndex(std::string_view name);

// A context-menu entry that is not a command ("Copy params", "Paste params"): fires Path.
struct TParamEntry {
    std::string_view Caption;
    std::string_view Hint;
    std::string_view Shortcut;
    std::string_view Path;
};
std::span<const TParamEntry> ParamEntries();

// Image indices: the inactive and the active toggle; 0 to 5 are the orientation pictures.
inline constexpr int kImageToggleOff = 6, kImageToggleOn = 7;

// --- Keys ---

// A key with its modifiers. Key names: "A".."Z", "0".."9", "+", "-", "Space", "Tab", "Esc",
// "Enter", "Ins", "Del", "Home", "End", "PgUp", "PgDn", "Left", "Right", "Up", "Down".
struct TKeyStroke {
    std::string Key;
    bool Shift = false;
    bool Ctrl = false;
    bool Alt = false;
    bool Keypad = false;
    bool operator==(const TKeyStroke&) const = default;
};
// A shortcut text: modifiers "Shift+", "Ctrl+", "Alt+", "Num " before a key name ("Shift+Ctrl+Left",
// "Num +", "Shift++"); nothing for an empty or unknown text.
std::optional<TKeyStroke> ParseShortcut(std::string_view text);
// Same key and modifiers; a keypad key is required only when the shortcut names one.
bool ShortcutMatches(const TKeyStroke& shortcut, const TKeyStroke& pressed);
// The first command in list order whose primary or secondary shortcut matches; nothing when none.
std::optional<std::size_t> CommandForKey(const TKeyStroke& pressed);
// The first parameter entry whose shortcut matches; nothing when none.
std::optional<std::size_t> ParamEntryForKey(const TKeyStroke& pressed);

// --- Execution ---

// Whether running the command notes its caption as the pending one and brings the refresh
// forward (not the four increment and decrement commands, About and Release).
bool NotesPendingCaption(const TCommand& command);
// The caption without its accelerator marks ("&&" stays one "&").
std::string StripAccelerator(std::string_view caption);

// The refresh of the command states comes every 1000 ms; a command brings it to 100 ms later.
inline constexpr std::int64_t kRefreshIntervalMs = 1000;
inline constexpr std::int64_t kRefreshSoonMs = 100;
// More than the interval has passed since the last refresh.
bool RefreshDue(std::int64_t lastRefresh, std::int64_t now);
// The LastRefresh a command leaves: now − 900, so that the next refresh comes 100 ms later.
std::int64_t RefreshSoon(std::int64_t now);

// The fit modes cycle 0, 1, 2, 3, 0; anything above 3 goes to 0.
int NextFit(int fit);

// Toggles closer than this stop the animation instead.
inline constexpr std::int64_t kAnimateToggleMs = 333;
// The animate command's result: the new "detail/animate" value and the new LastAnimate.
struct TAnimateStep {
    int Value = 0;
    std::int64_t LastAnimate = 0;
};
// At least 333 ms since the last toggle: −1 or 0 becomes 1, 1 becomes −1, anything else stays,
// and the toggle time is now. Sooner: the animation stops (0), the toggle time stays.
TAnimateStep AnimateToggle(std::int64_t lastAnimate, std::int64_t now, int value);
// A LastAnimate long before any tick count, so the first press always toggles.
inline constexpr std::int64_t kAnimateLongAgo = -1'000'000;

// The opposite side of a path letter (B/T, F/N, L/R, each way); character code 0 for any other.
char OppositeLetter(char letter);
// The orientation swap of a view path: the text padded with blanks to three characters, a =
// letter at |i| (its opposite when i < 0), b = letter at |j| (its opposite when j < 0); a goes to
// |j| and, when |i| ≠ |j|, b to |i|. Positions count from 1.
std::string SwapPath(std::string_view path, int i, int j);

// 0 for a non-zero value, else 1.
int ToggledValue(double value);
// (value + 1) mod 3.
int NextChroma(int value);
// A non-zero overlay becomes 0; 0 becomes the subject's serial number (0 without a subject).
std::int32_t ToggledOverlay(std::int32_t overlay, std::optional<std::int32_t> subjectSerial);

// Carries out a command's effect on the tree when it acts on nodes only (Fire, Toggle, Assign,
// ToggleAndClear, Cycle3, Invert, Negate, Overlay, Swap); returns false for the others, which
// need the panel. A missing node raises.
bool ApplyNodeEffect(const TCommand& command, TConfigNode& root, std::optional<std::int32_t> subjectSerial);

// --- Slider binding by key ---

// Sliders are numbered 0..5 (Param1..Param6).
struct TSliderBinding {
    int Slider = 0;
    char Key = 0;
};
// What the parameter handler does with the sliders for a key: which slider binds to which key
// letter, and which slider is selected afterwards (−1: the selection stays). F and "*" touch no
// slider.
struct TKeyPlan {
    std::vector<TSliderBinding> Bindings;
    int Selected = -1;
};
TKeyPlan KeyPlan(char key);
// The level sliders' keys after a scaling change: C and W when the scaling is centred, else L and H.
TKeyPlan LevelPlan(bool centered);

// --- States ---

struct TCommandState {
    bool Enabled = true;
    bool Ticked = false;
    int ImageIndex = -1;
};
// The command's states from the tree now.
TCommandState CommandState(const TCommand& command, const TConfigNode& root);

} // namespace tarvicon

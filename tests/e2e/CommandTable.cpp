// command_table: the command panel's commands and its two parameter entries as JSON, for the
// end-to-end walk that reaches every command in the running viewer.
//
//   command_table > commands.json
//
// {"commands": [{"name", "category", "caption", "hint", "shortcuts", "tag", "hidden", "effect",
//                "path", "other", "value", "key", "i", "j", "state"}, …],
//  "params": [{"caption", "hint", "shortcut", "path"}, …]}

#include "app/CommandRules.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

using tarvicon::TCommandEffect;
using tarvicon::TStateRule;

std::string_view EffectName(TCommandEffect effect) {
    switch (effect) {
    case TCommandEffect::ParamKey:
        return "ParamKey";
    case TCommandEffect::Fire:
        return "Fire";
    case TCommandEffect::Toggle:
        return "Toggle";
    case TCommandEffect::Assign:
        return "Assign";
    case TCommandEffect::ToggleAndClear:
        return "ToggleAndClear";
    case TCommandEffect::Cycle3:
        return "Cycle3";
    case TCommandEffect::Invert:
        return "Invert";
    case TCommandEffect::Negate:
        return "Negate";
    case TCommandEffect::Overlay:
        return "Overlay";
    case TCommandEffect::Swap:
        return "Swap";
    case TCommandEffect::Step:
        return "Step";
    case TCommandEffect::Reset:
        return "Reset";
    case TCommandEffect::Popup:
        return "Popup";
    case TCommandEffect::About:
        return "About";
    case TCommandEffect::Release:
        return "Release";
    }
    return "?";
}

std::string_view StateName(TStateRule rule) {
    switch (rule) {
    case TStateRule::None:
        return "None";
    case TStateRule::FitTag:
        return "FitTag";
    case TStateRule::Toggle:
        return "Toggle";
    case TStateRule::OverlayToggle:
        return "OverlayToggle";
    case TStateRule::NodeEnabled:
        return "NodeEnabled";
    case TStateRule::Adjusted:
        return "Adjusted";
    }
    return "?";
}

// A JSON string; the table holds printable ASCII only, but quotes and backslashes are escaped.
std::string Quoted(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Field(std::string_view name, std::string_view value) {
    return Quoted(name) + ": " + Quoted(value);
}

std::string Field(std::string_view name, int value) {
    return Quoted(name) + ": " + std::to_string(value);
}

std::string Field(std::string_view name, bool value) {
    return Quoted(name) + ": " + (value ? "true" : "false");
}

} // namespace

int main() {
    std::string out = "{\"commands\": [\n";
    bool first = true;
    for (const tarvicon::TCommand& command : tarvicon::Commands()) {
        std::string shortcuts;
        for (std::string_view shortcut : command.Shortcuts)
            if (!shortcut.empty()) shortcuts += (shortcuts.empty() ? "" : ", ") + Quoted(shortcut);
        out += first ? "  {" : ",\n  {";
        first = false;
        out += Field("name", command.Name) + ", " + Field("category", command.Category) + ", " +
               Field("caption", command.Caption) + ", " + Field("hint", command.Hint) + ", \"shortcuts\": [" +
               shortcuts + "], " + Field("tag", command.Tag) + ", " + Field("hidden", command.Hidden) + ", " +
               Field("effect", EffectName(command.Effect)) + ", " + Field("path", command.Path) + ", " +
               Field("other", command.Other) + ", " + Field("value", command.Value) + ", " +
               Field("key", command.Key ? std::string_view(&command.Key, 1) : std::string_view()) + ", " +
               Field("i", command.I) + ", " + Field("j", command.J) + ", " +
               Field("state", StateName(command.State)) + "}";
    }
    out += "\n], \"params\": [\n";
    first = true;
    for (const tarvicon::TParamEntry& entry : tarvicon::ParamEntries()) {
        out += first ? "  {" : ",\n  {";
        first = false;
        out += Field("caption", entry.Caption) + ", " + Field("hint", entry.Hint) + ", " +
               Field("shortcut", entry.Shortcut) + ", " + Field("path", entry.Path) + "}";
    }
    out += "\n]}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

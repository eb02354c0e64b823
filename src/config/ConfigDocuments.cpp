#include "config/ConfigDocuments.h"

#include "util/Errors.h"

namespace tarvicon {

namespace {

struct TSection {
    std::string_view Kind;
    const char* Pattern;  // from the document's root element
    const char* NodePath; // below the root of the tree
};

constexpr TSection kSections[] = {
    {"coloring", "colorings/coloring", "detail/colormapping/coloring"},
    {"scaling", "scalings/scaling", "detail/colormapping/level/scaling"},
    {"level", "levels/level", "detail/colormapping/level"},
    {"preset", "presets/preset", ""},
};

const TSection* SectionOf(std::string_view kind) {
    for (const TSection& section : kSections)
        if (section.Kind == kind) return &section;
    return nullptr;
}

// Closes the root's update bracket whatever happens inside.
class TSilenced {
public:
    explicit TSilenced(TConfigNode& root) : root_(root) { root_.BeginUpdate(); }
    ~TSilenced() { root_.EndUpdate(false); }
    TSilenced(const TSilenced&) = delete;
    TSilenced& operator=(const TSilenced&) = delete;

private:
    TConfigNode& root_;
};

} // namespace

void TConfigDocument::Load(const std::string& source) {
    if (!document_.Load(source)) RaiseError(document_.ParseError().Message());
}

void TConfigDocument::LoadXml(std::string_view text) {
    if (!document_.LoadXml(text)) RaiseError(document_.ParseError().Message());
}

void TConfigDocument::ApplyStartPreset(TConfigNode& root) const {
    const TSilenced silenced(root);
    // A root named "initialize" holds the start preset; other documents keep it in their
    // "initialize" section beside the selection rules.
    pugi::xml_node start = SelectSingle(document_.Node(), "initialize/preset").node();
    if (!start) start = SelectSingle(document_.Root(), "initialize/preset").node();
    root.LoadFromXml(true, document_.Root(), start, {});
}

bool TConfigDocument::ApplyPreset(TConfigNode& root, std::string_view kind, int index) const {
    const TSection* section = SectionOf(kind);
    if (!section || index < 0) return false;
    const pugi::xml_node entry =
        SelectSingle(document_.Root(), std::string(section->Pattern) + "[" + std::to_string(index) + "]")
            .node();
    TConfigNode* node = root.FindNode(section->NodePath);
    if (!entry || !node) return false;
    node->LoadFromXml(false, document_.Root(), entry, {});
    return true;
}

std::vector<TMenuEntry> TConfigDocument::MenuEntries(std::string_view kind) const {
    std::vector<TMenuEntry> entries;
    const TSection* section = SectionOf(kind);
    if (!section) return entries;
    int index = 0;
    for (const pugi::xpath_node& element : SelectList(document_.Root(), section->Pattern)) {
        std::string hint = element.node().attribute("hint").value();
        if (hint.empty()) hint = "Preset option";
        entries.push_back({index++, element.node().attribute("caption").value(),
                           hint + "          [" + std::string(kind) + "]"});
    }
    return entries;
}

std::vector<TPresetShortcut> TConfigDocument::PresetShortcuts(const TSeriesMatcher& matches) const {
    std::vector<TPresetShortcut> shortcuts;
    int index = -1;
    for (const pugi::xpath_node& found : SelectList(document_.Root(), "presets/preset")) {
        ++index;
        const pugi::xml_node preset = found.node();
        const std::string match = preset.attribute("match").value();
        if (!match.empty() && (!matches || !matches(match))) continue;
        const std::string key = preset.attribute("shortcut").value();
        if (key.empty()) continue;
        std::string hint = preset.attribute("hint").value();
        if (hint.empty())
            hint = "P\xC5\x99"
                   "edvolba " +
                   key;
        std::string caption = preset.attribute("caption").value();
        if (caption.empty()) caption.append("#").append(std::to_string(index));
        shortcuts.push_back({key, caption, index, hint});
    }
    return shortcuts;
}

void LoadConfiguration(TConfigDocument& document, const std::string& source, TConfigNode& root) {
    const TSilenced silenced(root);
    document.Load(source);
    document.ApplyStartPreset(root);
}

} // namespace tarvicon

namespace tarvicon {

pugi::xml_node FindTradeOff(const TConfigDocument& document, const TSeriesMatcher& matches) {
    for (const pugi::xpath_node& found : SelectList(document.Root(), "trade-offs/trade-off")) {
        const pugi::xml_node tradeOff = found.node();
        const pugi::xml_attribute match = tradeOff.attribute("match");
        if (!match) RaiseError("Trade-off without \"match\" attribute");
        if (matches && matches(match.value())) return tradeOff;
    }
    return {};
}

} // namespace tarvicon

#pragma once
// The configuration document: the start preset, named presets, levels, scalings, colorings,
// colour tables and automatic rules, read once and never written. This is the part that needs
// no window; the viewer shows its menus and shortcut bar.

#include "config/ConfigNodes.h"
#include "config/XmlDocs.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// Whether the current series fulfils a "match" expression.
using TSeriesMatcher = std::function<bool(const std::string& match)>;

struct TMenuEntry {
    int Index = 0;
    std::string Caption;
    std::string Hint; // as the menu shows it: hint or "Preset option", then "          [" kind "]"
};

struct TPresetShortcut {
    std::string Key; // "F2", "Alt+F3"
    std::string Caption;
    int Index = 0; // position among all "presets/preset" elements
    std::string Hint;
};

class TConfigDocument {
public:
    // Reads the document; raises reason CR LF source(line/position) when it does not parse.
    void Load(const std::string& source);
    void LoadXml(std::string_view text);
    bool Loaded() const { return static_cast<bool>(document_.Root()); }
    pugi::xml_node Root() const { return document_.Root(); }
    const TXmlDocument& Document() const { return document_; }

    // The start preset into root, inside BeginUpdate and EndUpdate (false): notifies nobody.
    void ApplyStartPreset(TConfigNode& root) const;

    // Loads entry index of the section of kind ("coloring", "scaling", "level", "preset") into
    // its node, not silenced; false when there is no such entry or kind.
    bool ApplyPreset(TConfigNode& root, std::string_view kind, int index) const;

    // The entries of a section for its menu.
    std::vector<TMenuEntry> MenuEntries(std::string_view kind) const;

    // The presets assigned to keys; matches is empty when there is no current series.
    std::vector<TPresetShortcut> PresetShortcuts(const TSeriesMatcher& matches) const;

private:
    TXmlDocument document_;
};

// Reads a document as start-up does: load, then the start preset, all silenced on the root.
void LoadConfiguration(TConfigDocument& document, const std::string& source, TConfigNode& root);

} // namespace tarvicon

namespace tarvicon {

// The first "trade-offs/trade-off" element of the document whose "match" the object fulfils;
// an empty node when none does. A trade-off without "match" raises an error.
pugi::xml_node FindTradeOff(const TConfigDocument& document, const TSeriesMatcher& matches);

} // namespace tarvicon

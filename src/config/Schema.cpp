#include "config/Schema.h"

#include "config/ColorMappings.h"
#include "config/XmlDocs.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/Strings.h"

#include <cmath>

namespace tarvicon {

namespace {

const std::string kDegree = "\xC2\xB0";

template <typename T>
T& Add(TConfigNode& parent, const std::string& name) {
    return TConfigNode::Create<T>(&parent, name);
}

template <typename T, typename V>
T& AddValue(TConfigNode& parent, const std::string& name, V value) {
    T& node = Add<T>(parent, name);
    node.SetValue(value);
    return node;
}

void AddEvents(TConfigNode& parent, std::initializer_list<const char*> names) {
    for (const char* name : names) Add<TEventNode>(parent, name);
}

} // namespace

void TPresetNode::Build() {
    Add<TViewNode>(*this, "detail");
}

void TViewNode::Build() {
    auto& animate = Add<TIntegerNode>(*this, "animate");
    animate.Present('_', "Animate", "Slice series animation", -1, 1, 3, "", "fps");
    animate.SetCyclic(true);
    Add<TWordNode>(*this, "slice").Present('S', "&Slice", "Slice image index", 0, 0, 100, "", "");
    Add<TDoubleNode>(*this, "zoom").Present('Z', "&Zoom", "Image zoom factor", 20, -20, 100, "0", "");
    Add<TStringNode>(*this, "path");
    for (const char* name :
         {"exchange", "color-fusion", "mip-navi", "swing", "sweep", "rotate", "mip-detail"})
        Add<TBooleanNode>(*this, name);
    Add<TIntegerNode>(*this, "chroma-fusion");
    AddValue<TBooleanNode>(*this, "twin", true);
    AddEvents(*this, {"autosetup", "paste", "reload", "savebitmap", "savebitmapauto"});
    Add<TBooleanNode>(*this, "crop-frame");
    AddEvents(*this, {"savebitmapopen", "savecuboid", "copy"});
    Add<TBooleanNode>(*this, "enhance");
    AddEvents(*this, {"zero"});
    Add<TIntegerNode>(*this, "overlay").SetNotSaved(true);
    const int screenWidth = Host().ScreenWidth();
    auto& split = AddValue<TIntegerNode>(*this, "screensplit", screenWidth / 3);
    split.SetMin(0);
    split.SetMax(screenWidth);
    split.SetNotSaved(true);
    Add<TDoubleNode>(*this, "alpha")
        .Present('A', "&Alpha", "Overlay image alpha value", 0, 100, 101, "0", "%");
    AddValue<TDoubleNode>(*this, "grid", 3.0)
        .Present('D', "Gri&d", "Navigation grid opacity", 0, 100, 101, "0", "%");
    AddValue<TDoubleNode>(*this, "gamma", 1.0)
        .Present('G', "&Gamma", "View gamma correction", 0.25, 4, 40, "0.0", "y");
    Add<TDoubleNode>(*this, "align").Present('I', "Al&ign", "Align cuboid", -45, 45, 901, "0.0", kDegree);
    Add<TDoubleNode>(*this, "extra").Present('X', "E&xtra", "Extra parameter", -100, 100, 201, "0", "%");
    AddValue<TIntegerNode>(*this, "thickness", 1)
        .Present('T', "&Thickn", "Slice thickness", 1, 255, 255, "0", "px");
    auto& angle = Add<TDoubleNode>(*this, "angle");
    angle.Present('N', "A&ngle", "Slice angle", -180, 180, 721, "0.0", kDegree);
    angle.SetCyclic(true);
    Add<TIntegerNode>(*this, "light3d").Present('3', "&3dLight", "Add 3d light", -100, 100, 201, "0", "");
    Add<TDoubleNode>(*this, "fit").Present('F', "&Fit", "Fit image mode", 0, 4, 5, "0", "");

    auto& series = Add<TEventNode>(*this, "series");
    AddEvents(series, {"open", "add", "addfile", "quit", "minimize", "prev", "next", "xpose-near-far",
                       "xpose-top-bottom", "xpose-left-right", "upscale-x", "upscale-y", "upscale-z",
                       "upscale-u", "resample-aligned", "revert"});
    Add<TIntegerNode>(series, "filter").SetForceNotify(true);
    auto& position = Add<TConfigNode>(series, "position");
    for (const char* axis : {"x", "y", "z"}) Add<TDoubleNode>(position, axis);

    auto& slices = Add<TEventNode>(*this, "slices");
    AddEvents(slices, {"prev", "next"});
    Add<TIntegerNode>(slices, "autolevels").SetForceNotify(true);
    AddValue<TBooleanNode>(slices, "permanent-grid", true);
    AddEvents(slices, {"left", "right", "up", "down", "scroll-left", "scroll-right", "scroll-up",
                       "scroll-down", "shift-left", "shift-right", "shift-up", "shift-down", "detail-coronar",
                       "detail-sagital", "detail-transaxial"});

    Add<TColorMapping>(*this, "colormapping");
}

void TColorMappingNode::Build() {
    Add<TLevelNode>(*this, "level");
    Add<TColoringNode>(*this, "coloring");
}

void TLevelNode::Build() {
    Add<TScalingNode>(*this, "scaling");
    Add<TDoubleNode>(*this, "low").Present('L', "&Low", "Low scaling value", 0, 100, 101, "0", "%");
    Add<TDoubleNode>(*this, "high").Present('H', "&High", "High scaling value", 0, 100, 101, "0", "%");
    Add<TDoubleNode>(*this, "center").Present('C', "&Center", "Center scaling value", 0, 100, 101, "0", "%");
    Add<TDoubleNode>(*this, "width").Present('W', "&Width", "Width scaling value", 0, 100, 101, "0", "%");
    Add<TDoubleNode>(*this, "phase").Present('P', "&Phase", "Phase scaling value", 0, 100, 51, "0", "%");
}

// --- scaling ---

void TScalingNode::Build() {
    Add<TBooleanNode>(*this, "centered");
    AddValue<TStringNode>(*this, "format", std::string("0"));
    Add<TDoubleNode>(*this, "min");
    AddValue<TDoubleNode>(*this, "max", 100.0);
    AddValue<TWordNode>(*this, "low", std::uint16_t{10});
    AddValue<TWordNode>(*this, "high", std::uint16_t{2000});
    AddValue<TIntegerNode>(*this, "steps", 101);
    Add<TStringNode>(*this, "units");
    dirty_ = true;
}

void TScalingNode::Change(TConfigNode&, const std::string&) {
    dirty_ = true;
    TConfigNode::Change(*this, {});
}

std::string TScalingNode::ResolveText(const std::string& childName, const std::string& text) const {
    if (childName.empty()) return text;
    const std::string trimmed(Trim(text));
    const std::string upperName = UpperCase(childName);
    const std::size_t q = UpperCase(trimmed).find('Q');
    if ((upperName != "LOW" && upperName != "HIGH") || q == std::string::npos) return trimmed;
    double factor = ParseReal(trimmed.substr(0, q)).value_or(100.0);
    double percent = ParseReal(trimmed.substr(q + 1)).value_or(100.0);
    factor = std::clamp(factor, 0.0, 65535.0);
    percent = std::clamp(percent, 0.0, 200.0);
    if (onQuantilValue_) factor = onQuantilValue_(const_cast<TScalingNode&>(*this), factor, percent);
    return std::to_string(static_cast<long long>(std::trunc(factor)));
}

void TScalingNode::Refresh() {
    rawLow_ = static_cast<std::uint16_t>(FindChild("low")->GetAsInteger());
    rawHigh_ = static_cast<std::uint16_t>(FindChild("high")->GetAsInteger());
    steps_ = FindChild("steps")->GetAsInteger();
    min_ = FindChild("min")->GetAsFloat();
    max_ = FindChild("max")->GetAsFloat();
    units_ = FindChild("units")->GetText();
    centered_ = FindChild("centered")->GetAsInteger() != 0;
    dirty_ = false;
}

std::uint16_t TScalingNode::ValueToRaw(bool lowFlag, double value) {
    if (dirty_) Refresh();
    if (min_ == max_) return lowFlag ? rawLow_ : rawHigh_;
    const double raw =
        std::nearbyint((value - min_) / (max_ - min_) * (double(rawHigh_) - double(rawLow_)) + rawLow_);
    return static_cast<std::uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

double TScalingNode::RawToValue(double raw, bool lowFlag) {
    if (dirty_) Refresh();
    if (rawLow_ == rawHigh_) return lowFlag ? min_ : max_;
    return min_ + (raw - rawLow_) / (double(rawHigh_) - double(rawLow_)) * (max_ - min_);
}

// --- colour, phase, coloring ---

void TColorNode::Build() {
    for (const char* channel : {"R", "G", "B", "A"}) Add<TByteNode>(*this, channel).SetIsAttribute(true);
}

TColor TColorNode::GetColor() const {
    const auto channel = [&](const char* name) {
        return TColor(static_cast<TByteNode*>(FindChild(name))->Value());
    };
    return channel("A") << 24 | channel("R") << 16 | channel("G") << 8 | channel("B");
}

void TColorNode::SetColor(TColor color) {
    const auto set = [&](const char* name, int shift) {
        static_cast<TByteNode*>(FindChild(name))->SetValue(static_cast<std::uint8_t>(color >> shift));
    };
    set("R", 16);
    set("G", 8);
    set("B", 0);
    set("A", 24);
}

std::string TPhaseNode::GetText() const {
    switch (Value()) {
    case 1:
        return "tint";
    case 2:
        return "intensity";
    default:
        return "both";
    }
}

void TPhaseNode::SetText(const std::string& text) {
    const char first =
        text.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    SetValue(first == 'I' ? 2 : first == 'T' ? 1 : 0);
}

void TColoringNode::Build() {
    const auto color = [&](const char* name, TColor value) { Add<TColorNode>(*this, name).SetColor(value); };
    color("background", 0xFF000005);
    color("zero", 0xFF000010);
    color("low", 0xFF000000);
    color("phaselow", 0xFF804040);
    color("phasehigh", 0xFF808040);
    Add<TPhaseNode>(*this, "phasemode");
    color("high", 0xFFFFFFFF);
    color("range", 0xFFFAFAFF);
}

pugi::xml_node TColoringNode::SaveToXml(pugi::xml_node parentElement) const {
    pugi::xml_node element = TConfigNode::SaveToXml(parentElement);
    if (!tableId_.empty()) element.append_child("colortable").append_attribute("id") = tableId_.c_str();
    return element;
}

void TColoringNode::LoadFromXml(bool followRefs, pugi::xml_node refRoot, pugi::xml_node element,
                                pugi::xml_node parentElement) {
    const std::optional<TColorTable256> previous = std::move(table_);
    table_.reset();
    tableId_.clear();
    TConfigNode::LoadFromXml(followRefs, refRoot, element, parentElement);
    if (!element) return;
    const std::string id = element.child("colortable").attribute("id").value();
    if (id.empty()) return;
    tableId_ = id;

    // The table lives in the element's own document, or, for a parameter snapshot (which holds
    // only the table's id), in the document its references resolve against.
    const auto findTable = [&id](pugi::xml_node document) {
        for (const pugi::xpath_node& candidate : SelectList(document, "/*/colortables/colortable"))
            if (id == candidate.node().attribute("id").value()) return candidate.node();
        return pugi::xml_node();
    };
    pugi::xml_node found = findTable(element.root());
    if (!found && refRoot && refRoot.root() != element.root()) found = findTable(refRoot.root());
    if (!found) RaiseError("Cannot find colortable " + id);
    std::vector<pugi::xml_node> values;
    for (pugi::xml_node value : found.children("value")) values.push_back(value);
    if (values.size() != 256) RaiseError("Invalid color table size (" + std::to_string(values.size()) + ")");

    TColorTable256 table{};
    for (std::size_t i = 0; i < 256; ++i) {
        const auto channel = [&](const char* name, long long fallback) -> TColor {
            const std::string pattern = std::string("@") + name + "|" + name;
            const long long value =
                ParseInteger(NodeText(SelectSingle(values[i], pattern))).value_or(fallback);
            if (value < 0 || value > 255) RaiseRangeError();
            return static_cast<TColor>(value);
        };
        table[i] = channel("A", static_cast<long long>(i)) << 24 | channel("R", 0) << 16 |
                   channel("G", 0) << 8 | channel("B", 0);
    }
    table_ = table;
    static_cast<TColorNode*>(FindChild("low"))->SetColor(table[0]);
    static_cast<TColorNode*>(FindChild("zero"))->SetColor(table[0]);
    static_cast<TColorNode*>(FindChild("high"))->SetColor(table[255]);
    static_cast<TColorNode*>(FindChild("range"))->SetColor(table[255]);
    if ((!previous || *previous != table) && !IsLocked()) Change(*this, {});
}

std::unique_ptr<TPresetNode> CreateParameterTree() {
    return TConfigNode::CreateRoot<TPresetNode>();
}

} // namespace tarvicon

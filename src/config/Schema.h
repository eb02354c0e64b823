#pragma once
// The view parameter schema: the whole tree the root builds, and the schema classes that hold
// the colour mapping's parameters (level, scaling, coloring, colour, phase).

#include "config/ConfigNodes.h"
#include "util/Colors.h"

#include <array>
#include <optional>

namespace tarvicon {

// The root: creates "detail".
class TPresetNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TPresetNode"; }

protected:
    void Build() override;
};

// "detail" and everything below it.
class TViewNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TViewNode"; }

protected:
    void Build() override;
};

// Creates "level" and "coloring".
class TColorMappingNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TColorMappingNode"; }

protected:
    void Build() override;
};

// "scaling", "low", "high", "center", "width", "phase".
class TLevelNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TLevelNode"; }

protected:
    void Build() override;
};

// Maps display values to raw sample values; every change below it is reported as its own.
class TScalingNode : public TConfigNode {
public:
    // (sender, factor, percent) -> raw value: the provider of the "Q" quantile notation.
    using TQuantilHandler = std::function<std::int32_t(TScalingNode& sender, double factor, double percent)>;

    std::string ClassName() const override { return "TScalingNode"; }
    void Change(TConfigNode& node, const std::string& path) override;
    std::string ResolveText(const std::string& childName, const std::string& text) const override;

    // Reads the children into the cache and clears Dirty.
    void Refresh();
    bool Dirty() const { return dirty_; }
    std::uint16_t ValueToRaw(bool lowFlag, double value);
    double RawToValue(double raw, bool lowFlag);
    std::uint16_t RawLow() const { return rawLow_; }
    std::uint16_t RawHigh() const { return rawHigh_; }
    double MinValue() const { return min_; }
    double MaxValue() const { return max_; }
    const std::string& UnitsText() const { return units_; }
    std::int32_t StepCount() const { return steps_; }
    bool Centered() const { return centered_; }
    void SetOnQuantilValue(TQuantilHandler handler) { onQuantilValue_ = std::move(handler); }

protected:
    void Build() override;

private:
    bool dirty_ = true;
    std::uint16_t rawLow_ = 0;
    std::uint16_t rawHigh_ = 0;
    double min_ = 0;
    double max_ = 0;
    std::string units_;
    std::int32_t steps_ = 0;
    bool centered_ = false;
    TQuantilHandler onQuantilValue_;
};

// A colour as the four attribute channels "R", "G", "B", "A".
class TColorNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TColorNode"; }
    TColor GetColor() const;
    // Sets R, G, B and A in that order; each may report a change.
    void SetColor(TColor color);

protected:
    void Build() override;
};

// Phase mode: 0 "both", 1 "tint", 2 "intensity".
class TPhaseNode : public TByteNode {
public:
    std::string ClassName() const override { return "TPhaseNode"; }
    std::string GetText() const override;
    void SetText(const std::string& text) override;
};

using TColorTable256 = std::array<TColor, 256>;

// The coloring: its colours, phase mode and an optional 256-entry colour table by id.
class TColoringNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TColoringNode"; }
    pugi::xml_node SaveToXml(pugi::xml_node parentElement) const override;
    void LoadFromXml(bool followRefs, pugi::xml_node refRoot, pugi::xml_node element,
                     pugi::xml_node parentElement) override;

    const std::optional<TColorTable256>& Table() const { return table_; }
    const std::string& TableId() const { return tableId_; }

protected:
    void Build() override;

private:
    std::optional<TColorTable256> table_;
    std::string tableId_;
};

// The root of the parameter tree, built whole.
std::unique_ptr<TPresetNode> CreateParameterTree();

// The typed node at path below start; raises when it is missing or of another class.
template <typename T>
T& NodeAt(const TConfigNode& start, std::string_view path) {
    auto* node = dynamic_cast<T*>(start.FindNode(path));
    if (!node) throw std::logic_error("No node " + std::string(path) + " of the expected class");
    return *node;
}

} // namespace tarvicon

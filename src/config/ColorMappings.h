#pragma once
// TColorMapping: turns 16-bit sample values into 32-bit colours through a 65536-entry table,
// from the level's window in the scaling's units, the coloring's colours, an optional colour
// table, an optional phase split and a gamma correction applied last.

#include "config/Schema.h"
#include "util/Colors.h"

#include <array>
#include <optional>

namespace tarvicon {

struct TPaletteEntry {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    std::uint8_t Flags = 0;
};
using TPalette = std::array<TPaletteEntry, 256>;

// The ramp from c1 at `from` to c2 at `to`, channels divided by 256.
TColor Blend(std::uint16_t v, std::uint16_t from, std::uint16_t to, TColor c1, TColor c2);

class TColorMapping : public TColorMappingNode {
public:
    std::string ClassName() const override { return "TColorMapping"; }
    // The base notification, then the table is out of date.
    void Change(TConfigNode& node, const std::string& path) override;

    // The colour of one raw value before gamma, from the parameters of the last LoadParams.
    virtual TColor ColorOf(std::uint16_t v) const;
    // Fills a caller-owned table (nothing when null) and clears Dirty.
    virtual void FillTable(TColorTable* table);

    // Reads the window, the colours and the colour table from the tree.
    void LoadParams();
    void SetGamma(double gamma);
    TColor ApplyGamma(TColor color) const;
    // 256 entries for 8-bit pictures from the coloring's current low and high colours and colour
    // table; none without a colour table unless forced. The window, phase split and colours of
    // the last FillTable stay as they are.
    std::optional<TPalette> CreatePalette(bool force) const;

    bool Dirty() const { return dirty_; }
    // How many times FillTable changed a table: a picture coloured at another count may be stale.
    std::uint64_t Fills() const { return fills_; }
    std::uint16_t ScaleLow() const { return scaleLow_; }
    std::uint16_t WindowLow() const { return windowLow_; }
    std::uint16_t WindowHigh() const { return windowHigh_; }
    std::uint16_t PhaseSplit() const { return phaseSplit_; }
    std::uint16_t ScaleHigh() const { return scaleHigh_; }
    std::uint8_t PhaseMode() const { return phaseMode_; }
    double Gamma() const { return gamma_; }
    const std::array<std::uint8_t, 256>& GammaTable() const { return gammaTable_; }

protected:
    void Build() override;

private:
    bool dirty_ = true;
    std::uint64_t fills_ = 0;
    std::uint16_t scaleLow_ = 0;
    std::uint16_t windowLow_ = 0;
    std::uint16_t windowHigh_ = 0;
    std::uint16_t phaseSplit_ = 0;
    std::uint16_t scaleHigh_ = 0;
    TColor background_ = 0, zero_ = 0, low_ = 0, high_ = 0, phaseLow_ = 0, phaseHigh_ = 0, range_ = 0;
    std::uint8_t phaseMode_ = 0;
    double gamma_ = 1;
    std::array<std::uint8_t, 256> gammaTable_{};
    const TColorTable256* coloringTable_ = nullptr;
};

} // namespace tarvicon

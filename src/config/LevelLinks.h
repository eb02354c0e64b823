#pragma once
// Keeps the level's center and width the mirror of its low and high, as the detail view does:
// a change of center or width moves low and high, a change of low or high moves center and
// width. Like the view, the link ignores the notifications its own writes cause, so the four
// values settle in one step even when a range clamps one of them.

#include "config/ConfigNodes.h"

namespace tarvicon {

// The colour window's ends.
struct TLevelRange {
    double Low = 0;
    double High = 0;
};

// The colour window's centre and width.
struct TLevelWindow {
    double Center = 0;
    double Width = 0;
};

// low = center − width / 2, high = center + width / 2.
TLevelRange LevelRangeOf(double center, double width);

// center = (low + high) / 2, width = high − low.
TLevelWindow LevelWindowOf(double low, double high);

class TLevelLink : public INodeListener {
public:
    // level: the "level" node with "low", "high", "center" and "width".
    explicit TLevelLink(TConfigNode& level);
    void NodeChanged(TConfigNode& node) override;

private:
    TConfigNode& low_;
    TConfigNode& high_;
    TConfigNode& center_;
    TConfigNode& width_;
    bool busy_ = false;
};

} // namespace tarvicon

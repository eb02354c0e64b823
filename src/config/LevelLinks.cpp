#include "config/LevelLinks.h"

#include "config/Schema.h"

namespace tarvicon {

TLevelLink::TLevelLink(TConfigNode& level)
    : low_(NodeAt<TConfigNode>(level, "low")), high_(NodeAt<TConfigNode>(level, "high")),
      center_(NodeAt<TConfigNode>(level, "center")), width_(NodeAt<TConfigNode>(level, "width")) {
    for (TConfigNode* node : {&low_, &high_, &center_, &width_}) node->AddListener(*this);
}

void TLevelLink::NodeChanged(TConfigNode& node) {
    if (busy_) return;
    busy_ = true;
    struct TRelease {
        bool& flag;
        ~TRelease() { flag = false; }
    } release{busy_};
    if (&node == &center_ || &node == &width_) {
        const TLevelRange range = LevelRangeOf(center_.GetAsFloat(), width_.GetAsFloat());
        low_.SetAsFloat(range.Low);
        high_.SetAsFloat(range.High);
    } else if (&node == &low_ || &node == &high_) {
        const TLevelWindow window = LevelWindowOf(low_.GetAsFloat(), high_.GetAsFloat());
        center_.SetAsFloat(window.Center);
        width_.SetAsFloat(window.Width);
    }
}

TLevelRange LevelRangeOf(double center, double width) {
    return {center - width / 2, center + width / 2};
}

TLevelWindow LevelWindowOf(double low, double high) {
    return {(low + high) / 2, high - low};
}

} // namespace tarvicon

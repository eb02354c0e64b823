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
        const double center = center_.GetAsFloat();
        const double width = width_.GetAsFloat();
        low_.SetAsFloat(center - width / 2);
        high_.SetAsFloat(center + width / 2);
    } else if (&node == &low_ || &node == &high_) {
        const double low = low_.GetAsFloat();
        const double high = high_.GetAsFloat();
        center_.SetAsFloat((low + high) / 2);
        width_.SetAsFloat(high - low);
    }
}

} // namespace tarvicon

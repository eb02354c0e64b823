#include "volume/PictureRules.h"

namespace tarvicon {

TPictureRequest ChoosePictureRequest(const TPictureInputs& in) {
    TPictureRequest request;
    const std::int64_t samples = std::int64_t(in.PictureWidth) * in.PictureHeight;
    const std::int32_t budget = samples > 0 ? std::int32_t(8388608 / samples) : 8388608;
    if (in.HasMapping) request.Threshold = in.PhaseSplit > in.WindowLow ? in.PhaseSplit : 0;
    request.Thickness = in.Thickness;
    if (in.MipAllowed) {
        if (in.MipDetail) {
            request.Mode = TRenderMode::Maximum;
            if (in.Depth <= budget) {
                if (request.Thickness == 1) request.Thickness = 0; // a full projection
            } else if (request.Thickness >= budget || request.Thickness == 1) {
                request.Thickness = budget;
            }
        }
    } else if (in.MipNavi) {
        request.Mode = TRenderMode::Maximum;
        request.Thickness = in.Depth <= budget ? 0 : budget;
    }
    return request;
}

} // namespace tarvicon

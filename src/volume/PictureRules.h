#pragma once
// How the detail view (and tarvicon-cli render) turns its settings into one slice request: the
// threshold from the phase split, maximum or average mode from the object's projection flags,
// and the slab thickness within the budget of 8388608 samples per picture.

#include "volume/Slices.h"

#include <cstdint>

namespace tarvicon {

struct TPictureInputs {
    std::int32_t PictureWidth = 0;  // extent along letter 1
    std::int32_t PictureHeight = 0; // extent along letter 2
    std::int32_t Depth = 0;         // extent along letter 3
    std::int32_t Thickness = 1;     // the view's slab thickness
    bool MipAllowed = false;        // the detail view allows projections; navigation views do not
    bool MipDetail = false;         // the object's flag for the detail view
    bool MipNavi = false;           // the object's flag for the navigation views
    bool HasMapping = false;        // a colour mapping is set (its table filled)
    std::uint16_t WindowLow = 0;    // the mapping's raw window low
    std::uint16_t PhaseSplit = 0;   // the mapping's raw phase split
};

// The parts of a slice request the rules decide.
struct TPictureRequest {
    TRenderMode Mode = TRenderMode::Average;
    std::int32_t Thickness = 1;
    std::uint16_t Threshold = 65535;
};

// The request for one picture of a view with these settings.
TPictureRequest ChoosePictureRequest(const TPictureInputs& in);

} // namespace tarvicon

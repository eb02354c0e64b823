#pragma once
// The picture pipeline of a DICOM view, from its settings to pixels: the colour table refill,
// the picture rules (threshold, maximum or average, the sample budget) and the cut through the
// object's cube; the overlay picture at the same world position. The views and tarvicon-cli
// render call it, so both show the same pixels.

#include "catalogue/DicomObjects.h"
#include "config/ColorMappings.h"
#include "volume/Bitmap32.h"
#include "volume/Slices.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvicon {

class TConfigNode;

// What a view's picture depends on besides its object and its mapping.
struct TViewSettings {
    std::string Path = "RBF";   // the view path
    std::int32_t Thickness = 1; // slab thickness in slices
    std::int32_t Angle = 0;     // oblique angle, animation offsets included
    std::int32_t Light3d = 0;   // depth weight of the maximum mode
    bool MipAllowed = false;    // the detail view: follows the object's MipDetail flag, not MipNavi
    // Pictures narrower or lower than this are not drawn in a view; the command line, which
    // checks small test cuboids, draws any size.
    std::int32_t SmallestExtent = 16;
};

// The detail view's settings from the parameter tree: "detail/path" ("RBF" while empty),
// "detail/thickness", "detail/angle", "detail/light3d".
TViewSettings DetailViewSettings(const TConfigNode& root);

// A navigation view by name ("coronar", "sagital", "transaxial"): its fixed path, thickness 1,
// no angle; "RBF" for any other name.
TViewSettings NavigationViewSettings(std::string_view viewName);

// What a build did to the picture.
enum class TPictureBuild {
    Cleared, // no object, or a picture below the smallest extent: the picture has size 0
    Built,   // cut at the old size
    Resized, // cut at a new size: the view refits
};

// The picture of the object as a view with these settings shows it: the mapping (when given)
// refills the object's colour table while it is dirty and gives the threshold; the cut is made
// at the object's position with the view's slice cache.
TPictureBuild BuildViewPicture(TDicomObject* object, TColorMapping* mapping, const TViewSettings& settings,
                               TBitmap32& picture, TSliceCache& cache);

// The overlay picture: the overlay object moved to the world position of the shown object and
// cut there along the view's path (maximum mode, one slice, no threshold, no depth weight).
// False, and nothing done, without an overlay or when it is the shown object.
bool BuildOverlayPicture(TDicomObject* overlay, const TDicomObject* shown, const TViewSettings& settings,
                         TBitmap32& picture, TSliceCache& cache);

} // namespace tarvicon

#include "catalogue/ViewPictures.h"

#include "config/ConfigNodes.h"
#include "volume/PictureRules.h"

namespace tarvicon {

namespace {

std::int32_t IntegerAt(const TConfigNode& root, const char* path) {
    const TConfigNode* node = root.FindNode(path);
    return node ? node->GetAsInteger() : 0;
}

} // namespace

TViewSettings DetailViewSettings(const TConfigNode& root) {
    TViewSettings settings;
    if (const TConfigNode* path = root.FindNode("detail/path"); path && !path->GetText().empty())
        settings.Path = path->GetText();
    settings.Thickness = IntegerAt(root, "detail/thickness");
    settings.Angle = IntegerAt(root, "detail/angle");
    settings.Light3d = IntegerAt(root, "detail/light3d");
    settings.MipAllowed = true;
    return settings;
}

TViewSettings NavigationViewSettings(std::string_view viewName) {
    TViewSettings settings;
    settings.Path = viewName == "coronar" ? "RFT" : viewName == "sagital" ? "BFR" : "RBF";
    return settings;
}

TPictureBuild BuildViewPicture(TDicomObject* object, TColorMapping* mapping, const TViewSettings& settings,
                               TBitmap32& picture, TSliceCache& cache) {
    if (!object) {
        picture.SetSize(0, 0);
        return TPictureBuild::Cleared;
    }
    TPixelCube& cube = object->Cube();
    TPictureInputs in;
    in.PictureWidth = cube.ExtentAlong(settings.Path, 0);
    in.PictureHeight = cube.ExtentAlong(settings.Path, 1);
    in.Depth = cube.ExtentAlong(settings.Path, 2);
    if (in.PictureWidth < settings.SmallestExtent || in.PictureHeight < settings.SmallestExtent) {
        picture.SetSize(0, 0);
        return TPictureBuild::Cleared;
    }
    if (mapping) {
        if (mapping->Dirty()) mapping->FillTable(&object->ColorTable());
        in.HasMapping = true;
        in.WindowLow = mapping->WindowLow();
        in.PhaseSplit = mapping->PhaseSplit();
    }
    in.Thickness = settings.Thickness;
    in.MipAllowed = settings.MipAllowed;
    in.MipDetail = object->MipDetail();
    in.MipNavi = object->MipNavi();
    const TPictureRequest rules = ChoosePictureRequest(in);
    const bool resized =
        cube.RenderSlice({object->Position(), settings.Path, rules.Mode, object->ColorTable(),
                          rules.Thickness, settings.Angle, settings.Light3d, rules.Threshold},
                         picture, cache);
    return resized ? TPictureBuild::Resized : TPictureBuild::Built;
}

bool BuildOverlayPicture(TDicomObject* overlay, const TDicomObject* shown, const TViewSettings& settings,
                         TBitmap32& picture, TSliceCache& cache) {
    if (!overlay || overlay == shown) return false;
    if (shown) overlay->SetWorldPosition(shown->GetWorldPosition());
    overlay->Cube().RenderSlice({overlay->Position(), settings.Path, TRenderMode::Maximum,
                                 overlay->ColorTable(), 1, settings.Angle, 0, 65535},
                                picture, cache);
    return true;
}

} // namespace tarvicon

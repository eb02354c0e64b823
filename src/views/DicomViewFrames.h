#pragma once
// The DICOM view: one DICOM object shown as a picture cut from its cube along a view path, with
// an optional second object fused over it. A view bound to a branch of the parameter tree
// ("detail") turns every change of its nodes into view state and a rebuild and writes its own
// fit, zoom, path and slice range back; the navigation views stay unbound. The 20 ms timer
// drives the slice loop, swing, rotation and sweep while one of them runs.

#include "catalogue/DicomObjects.h"
#include "catalogue/ViewPictures.h"
#include "config/ColorMappings.h"
#include "config/ConfigNodes.h"
#include "views/OverlayViewFrames.h"
#include "volume/Slices.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarvicon {

// The cursors the views start with: the view's own and those of a hold and a pan.
inline constexpr int kNormalCursor = 8;
inline constexpr int kHandCursor = 9;

class TDicomViewFrame : public TOverlayViewFrame, public INodeListener {
public:
    explicit TDicomViewFrame(QWidget* parent = nullptr);
    ~TDicomViewFrame() override;

    // The user moved the cube position in this view (a click, a drag, the arrow commands).
    std::function<void(TDicomViewFrame&)> OnPositionChanged;

    // "detail", "coronar", "sagital", "transaxial": the name of the branch too. The hint
    // (tool tip) becomes "Detail view" and so on.
    const std::string& ViewName() const { return viewName_; }
    void SetName(const std::string& name);
    // Listens to the branch's nodes (none: unbound) and takes its "colormapping". The branch
    // must outlive the binding; bind none before it goes.
    void BindBranch(TConfigNode* branch);
    TConfigNode* Branch() const { return branch_; }
    // The colour mapping (not owned) that fills the object's colour table; none for a view that
    // shows the table as another view filled it.
    TColorMapping* Mapping() const { return mapping_; }
    void SetColorMapping(TColorMapping* mapping);

    // The shown object (not owned); none clears the picture.
    TDicomObject* DicomObject() const { return dicomObject_; }
    void SetObject(TDicomObject* object);
    // The object fused over the picture at the same world position (not owned), or none.
    TDicomObject* OverlayObject() const { return overlayObject_; }
    void SetOverlayObject(TDicomObject* object);
    // The object is about to be destroyed: the view lets go of it where it holds it.
    void ObjectDestroying(const TDicomObject& object);

    // The view path, three letters (default "LBN"); another path raises "bad view path".
    const std::string& ViewPath() const { return viewPath_; }
    void SetPath(const std::string& path);
    // Slab thickness in slices, oblique angle in degrees, depth weight of the maximum mode.
    int Thickness() const { return thickness_; }
    int Angle() const { return angle_; }
    int Light3d() const { return light3d_; }
    // Degrees of the extra rotation are Extra × 45 / 100.
    double Extra() const { return extra_; }
    // The detail view follows the object's MipDetail flag, the others its MipNavi flag.
    bool MipAllowed() const { return mipAllowed_; }
    void SetMipAllowed(bool allowed);
    // What the picture pipeline is asked for: path, thickness, angle with the animations'
    // offsets, depth weight, MIP rule.
    TViewSettings Settings() const;

    // The object's position along the path's third letter; 0 without object.
    int CurrentSlice() const;
    // The extent along the third letter; 1 without object.
    int SliceCount() const;
    // Moves to a slice (clamped by the object).
    void SetSlice(int slice);
    // Moves to a voxel (clamped by the object) and puts the navigation point on it.
    void SetCubePosition(const TCubePoint& voxel);
    // The same for a world point in micrometres.
    void SetWorldPosition(const TCubePoint& world);
    // The object's position in micrometres; (0, 0, 0) without object.
    TCubePoint GetWorldPosition() const;
    // Moves the navigation point; a new point moves the object's position and stops the slice loop.
    void SetPosition(QPoint position) override;

    // Automatic levels into the branch's level: the header's window of the current slice when
    // count > 0 and it has one, else the histogram of the box of radius −count (count ≤ 0) or of
    // the whole cube. Nothing when unbound or without object.
    void Autolevels(int count);
    // The zoom as the "zoom" node counts it: ln(zoom) / ln(1.12), at most 10.
    double ZoomExponent() const;
    // Zooms to 1.12 to the power of exponent.
    void ZoomByExponent(double exponent);
    // Forgets the cached raw pictures of both objects (after a cube operation); the next
    // SetObject builds the picture again even for the same object.
    void ClearCaches();
    // The picture no longer shows what it would be built as now: the caches were cleared, or the
    // colour mapping has filled its table since the picture was coloured.
    bool PictureOutdated() const;
    // Starts the rotation clock at tick (ms), or stops it with 0.
    void SetRotateClock(std::uint64_t tick);
    // While held, the timer leaves the animations where they are (an export drives the frames).
    void HoldAnimations(bool hold) { animationsHeld_ = hold; }

    // The animations: the slice loop's step (only its sign counts; 0 off) and the offsets and
    // phase of swing, rotation and sweep in degrees.
    int AnimateStep() const { return animateStep_; }
    int SwingOffset() const { return swingOffset_; }
    int RotateOffset() const { return rotateOffset_; }
    int SweepPhase() const { return sweepPhase_; }

    // A node of the bound branch changed.
    void NodeChanged(TConfigNode& node) override;

    // Reports "name: text".
    void Status(const std::string& text) override;
    // The base's quality passes; the branch's "enhance" goes back to 0.
    void SetQuality(bool quality) override;
    // Tilts the cross; the branch's "align" follows (negated).
    void SetCrossAngle(double angle) override;
    // The screen's density, then fit, zoom, path and the slice range into the branch.
    void UpdateGeometry() override;
    // The outermost EndUpdate applies the branch's alpha, align, grid and gamma again.
    void EndUpdate() override;
    // Cuts the picture through the core's picture pipeline, then the overlay level's build.
    void Build() override;
    // The base tick, then swing, rotation, sweep and the slice loop.
    void Timer1Timer() override;

protected:
    bool TimerWanted() const override;
    // The overlay object cut at the shown object's world position.
    bool CreateOverlayBitmap(TOverlayPicture& overlay) override;
    // The overlay cube's picture corners seen in the shown cube.
    void UpdateOverlayTransform() override;

private:
    // The action of a node path relative to the branch.
    void HandleNode(const std::string& action, TConfigNode& node);
    // Every running clock starts again now, with offsets and phase 0.
    void RestartClocks();
    std::uint64_t Now() const;
    // The branch's node at path, or none.
    TConfigNode* BranchNode(const char* path) const;
    // Starts a clock now (on) or stops it, and restarts the running ones.
    void SwitchClock(std::uint64_t& start, bool on);

    TColorMapping* mapping_ = nullptr;
    TDicomObject* dicomObject_ = nullptr;
    TDicomObject* overlayObject_ = nullptr;
    std::string viewName_;
    TConfigNode* branch_ = nullptr;
    int animateStep_ = 0;
    std::string viewPath_ = "LBN";
    int thickness_ = 1;
    int angle_ = 0;
    double extra_ = 0;
    int light3d_ = 0;
    TSliceCache overlayCache_;
    TSliceCache mainCache_;
    bool mipAllowed_ = false;
    int sweepPhase_ = 0;
    int rotateOffset_ = 0;
    bool animationsHeld_ = false;
    int swingOffset_ = 0;
    std::uint64_t sweepStart_ = 0;
    std::uint64_t rotateStart_ = 0;
    std::uint64_t swingStart_ = 0;
    // The slice the picture was last cut at; −1 before the first build.
    int builtSlice_ = -1;
    // The mapping's fill count when the picture was coloured, and caches cleared since.
    std::uint64_t builtFills_ = 0;
    bool cachesCleared_ = false;
    // Set while one notification is handled: the ones its writes cause are ignored.
    bool handling_ = false;
};

} // namespace tarvicon

#pragma once
// The parameter tree as start-up builds it, and what the viewer and tarvicon-cli share around
// it: the detail view's level rule, the configuration document with the rules it drives
// (automatic set-up, initial selection, trade-offs), the quantile provider of the level
// scaling, the study tree's series commands and the parameter snapshot with its position.

#include "catalogue/DicomTrees.h"
#include "config/ColorMappings.h"
#include "config/ConfigDocuments.h"
#include "config/LevelLinks.h"
#include "config/Schema.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvicon {

// What AutoSetup did: the viewer beeps without a document and resizes its navigation panel
// after a setup.
enum class TAutoSetupResult { Skipped, NoDocument, Autolevels, Preset };

// Who keeps the level's center and width the mirror of its low and high.
enum class TLevelRule {
    Session,   // the session itself: no detail view is bound (the command-line tool)
    BoundView, // the detail view bound to the tree keeps it; a second keeper would fight it
};

class TParameterSession {
public:
    explicit TParameterSession(TLevelRule levelRule = TLevelRule::Session);
    ~TParameterSession();
    TParameterSession(const TParameterSession&) = delete;
    TParameterSession& operator=(const TParameterSession&) = delete;

    TPresetNode& Root() { return *root_; }
    const TConfigDocument& Document() const { return document_; }
    // The node at path, or "Cannot find parameter PATH".
    TConfigNode& Existing(const std::string& path);

    // The detail view's colour mapping with the gamma of "detail/gamma", as the view keeps it.
    TColorMapping& DetailMapping();

    // Reads the configuration document as start-up does: the start preset applied, the root
    // silenced throughout. A document that does not parse raises its reason and place.
    void LoadConfiguration(const std::string& source);
    // Loads entry index of a section ("preset", "level", "scaling", "coloring") into its node,
    // not silenced; a missing entry or kind loads nothing.
    void ApplyPreset(const std::string& kind, int index);

    // Makes the tree a listener of the series commands and hands every object it makes the
    // document's trade-offs. The tree must outlive the session's use of it.
    void BindTree(TDicomTree& tree);
    // The object the detail view shows: the quantile notation of the level scaling reads its
    // cube. Null for none (the quantile is then 65535).
    void SetDetailObject(TDicomObject* object) { detailObject_ = object; }
    TDicomObject* DetailObject() const { return detailObject_; }

    // The first "autosetup/preset" whose "match" the series fulfils, loaded into the root with
    // its "id" followed; with inits, its "transpose-z" init mirrors near and far through the
    // series command. Without a match the series moves to world (0, 0, 0) and takes the
    // automatic levels of the box of radius 24 there. Nothing without a series or while Shift
    // is held.
    TAutoSetupResult AutoSetup(TDicomObject* series, bool withInits);
    // The "initialize/select-overlay" and "initialize/select" rules on the tree's objects.
    // rebuildDetail builds the detail view's picture of the series just selected, so that an
    // overlay series gets its colours before it is laid over another.
    void ApplyInitialSelection(TDicomTree& tree, const std::function<void()>& rebuildDetail = {});
    // The configuration's trade-off element for an object, or an empty node.
    pugi::xml_node FindTradeOff(const TDicomObject& object) const;

    // The snapshot text of the whole tree, with the world position (µm) written into the
    // position nodes first.
    std::string CopyParameters(const TCubePoint& worldPosition);
    // Loads a snapshot (references resolved in the document) and returns the world position
    // the position nodes then hold. Loading stops at the first error, which is raised.
    TCubePoint PasteParameters(const std::string& text);

private:
    std::unique_ptr<TPresetNode> root_;
    std::optional<TLevelLink> link_;
    TConfigDocument document_;
    TDicomObject* detailObject_ = nullptr;
};

// The series commands the study tree carries out, as the main window binds them.
inline constexpr const char* kSeriesCommandPaths[] = {"detail/series/prev",
                                                      "detail/series/next",
                                                      "detail/series/filter",
                                                      "detail/series/xpose-near-far",
                                                      "detail/series/xpose-top-bottom",
                                                      "detail/series/xpose-left-right",
                                                      "detail/series/upscale-x",
                                                      "detail/series/upscale-y",
                                                      "detail/series/upscale-z",
                                                      "detail/series/upscale-u",
                                                      "detail/series/resample-aligned",
                                                      "detail/series/revert",
                                                      "detail/slice",
                                                      "detail/overlay"};

} // namespace tarvicon

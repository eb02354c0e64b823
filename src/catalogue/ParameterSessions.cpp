#include "catalogue/ParameterSessions.h"

#include "catalogue/AutoLevels.h"
#include "catalogue/Quantiles.h"
#include "util/Errors.h"
#include "util/Host.h"

namespace tarvicon {

namespace {

// The "match" attribute a rule must carry; its absence stops the operation.
std::string RequiredMatch(const pugi::xml_node& rule) {
    const pugi::xml_attribute match = rule.attribute("match");
    if (!match) {
        std::string name = rule.name();
        if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = char(name[0] - 'a' + 'A');
        RaiseError(name + " without \"match\" attribute");
    }
    return match.value();
}

} // namespace

TParameterSession::TParameterSession(TLevelRule levelRule) : root_(CreateParameterTree()) {
    if (levelRule == TLevelRule::Session)
        link_.emplace(NodeAt<TConfigNode>(*root_, "detail/colormapping/level"));
    NodeAt<TScalingNode>(*root_, "detail/colormapping/level/scaling")
        .SetOnQuantilValue([this](TScalingNode&, double factor, double percent) {
            return DoOnQuantilValue(detailObject_ ? &detailObject_->Cube() : nullptr, percent, factor);
        });
}

TParameterSession::~TParameterSession() = default;

TConfigNode& TParameterSession::Existing(const std::string& path) {
    TConfigNode* node = root_->FindNode(path);
    if (!node) RaiseError("Cannot find parameter " + path);
    return *node;
}

TColorMapping& TParameterSession::DetailMapping() {
    auto& mapping = NodeAt<TColorMapping>(*root_, "detail/colormapping");
    mapping.SetGamma(Existing("detail/gamma").GetAsFloat());
    return mapping;
}

void TParameterSession::LoadConfiguration(const std::string& source) {
    tarvicon::LoadConfiguration(document_, source, *root_);
}

void TParameterSession::ApplyPreset(const std::string& kind, int index) {
    document_.ApplyPreset(*root_, kind, index);
}

void TParameterSession::BindTree(TDicomTree& tree) {
    for (const char* path : kSeriesCommandPaths) tree.Listen(Existing(path));
    tree.SetOnGetTradeOff([this](const TDicomObject& object) { return FindTradeOff(object); });
}

pugi::xml_node TParameterSession::FindTradeOff(const TDicomObject& object) const {
    return tarvicon::FindTradeOff(document_,
                                  [&object](const std::string& filter) { return object.Matches(filter); });
}

TAutoSetupResult TParameterSession::AutoSetup(TDicomObject* series, bool withInits) {
    if (!series || Host().ShiftHeld()) return TAutoSetupResult::Skipped;
    if (!document_.Loaded()) return TAutoSetupResult::NoDocument;
    pugi::xml_node chosen;
    for (const pugi::xpath_node& found : SelectList(document_.Root(), "autosetup/preset"))
        if (series->Matches(RequiredMatch(found.node()))) {
            chosen = found.node();
            break;
        }
    if (!chosen) {
        series->SetWorldPosition({0, 0, 0});
        Autolevels(*series, Existing("detail/colormapping/level"), -24);
        return TAutoSetupResult::Autolevels;
    }
    root_->LoadFromXml(true, document_.Root(), chosen, {});
    for (const pugi::xml_node& init : chosen.child("inits").children())
        if (withInits && std::string_view(init.name()) == "transpose-z")
            Existing("detail/series/xpose-near-far").NotifyListeners();
    return TAutoSetupResult::Preset;
}

void TParameterSession::ApplyInitialSelection(TDicomTree& tree, const std::function<void()>& rebuildDetail) {
    const pugi::xml_node root = document_.Root();
    // A series without pixels (a listing's empty series) would open the window on a blank view:
    // the first matching series with a picture comes first.
    const auto firstMatching = [&tree](const std::string& match) -> TDicomObject* {
        TDicomObject* empty = nullptr;
        for (int i = 0; i < tree.ObjectCount(); ++i) {
            TDicomObject* object = tree.ObjectAt(i);
            if (!object->Matches(match)) continue;
            if (object->Cube().ByteSize() > 0) return object;
            if (!empty) empty = object;
        }
        return empty;
    };
    for (const pugi::xpath_node& rule : SelectList(root, "initialize/select-overlay")) {
        const std::string match = RequiredMatch(rule.node());
        if (match.empty()) continue;
        if (TDicomObject* object = firstMatching(match)) {
            tree.SelectObject(object);
            if (rebuildDetail) rebuildDetail();
            tree.SelectOverlay(object);
            break;
        }
    }
    for (const pugi::xpath_node& rule : SelectList(root, "initialize/select")) {
        const std::string match = RequiredMatch(rule.node());
        if (match.empty()) continue;
        if (TDicomObject* object = firstMatching(match)) {
            tree.SelectObject(object);
            return;
        }
    }
}

std::string TParameterSession::CopyParameters(const TCubePoint& worldPosition) {
    Existing("detail/series/position/x").SetAsInteger(worldPosition.X);
    Existing("detail/series/position/y").SetAsInteger(worldPosition.Y);
    Existing("detail/series/position/z").SetAsInteger(worldPosition.Z);
    return root_->SaveToString();
}

TCubePoint TParameterSession::PasteParameters(const std::string& text) {
    root_->LoadFromString(text, document_.Root());
    return {Existing("detail/series/position/x").GetAsInteger(),
            Existing("detail/series/position/y").GetAsInteger(),
            Existing("detail/series/position/z").GetAsInteger()};
}

} // namespace tarvicon

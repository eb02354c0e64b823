#include "config/ConfigNodes.h"

#include "config/XmlDocs.h"
#include "util/Errors.h"
#include "util/Strings.h"

#include <algorithm>
#include <cmath>

namespace tarvicon {

namespace {

// Rounded to the nearest integer, ties to even; a range error outside 32 bits.
std::int32_t RoundToInt32(double value) {
    const double rounded = std::nearbyint(value);
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX)) RaiseRangeError();
    return static_cast<std::int32_t>(rounded);
}

pugi::xml_node FirstChildElement(pugi::xml_node element, const std::string& name) {
    for (pugi::xml_node child : element.children())
        if (child.type() == pugi::node_element && name == child.name()) return child;
    return {};
}

bool HasChildElements(pugi::xml_node element) {
    for (pugi::xml_node child : element.children())
        if (child.type() == pugi::node_element) return true;
    return false;
}

} // namespace

INodeListener::~INodeListener() {
    for (TConfigNode* node : std::vector<TConfigNode*>(attachedTo_)) {
        auto& list = node->listeners_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

TConfigNode::~TConfigNode() {
    // Children first, while this node still knows them; nobody is told.
    while (!children_.empty()) children_.erase(children_.begin());
    for (INodeListener* listener : listeners_) {
        auto& nodes = listener->attachedTo_;
        nodes.erase(std::remove(nodes.begin(), nodes.end(), this), nodes.end());
    }
}

std::string TConfigNode::DefaultNameOf(std::string_view className) {
    std::string name(className);
    if (!name.empty() && (name.front() == 'T' || name.front() == 't')) name.erase(0, 1);
    if (name.size() >= 4 && UpperCase(name.substr(name.size() - 4)) == "NODE") name.resize(name.size() - 4);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return name;
}

std::string TConfigNode::DefaultName() const {
    return DefaultNameOf(ClassName());
}

void TConfigNode::Change(TConfigNode& node, const std::string& path) {
    if (IsLocked()) {
        changePending_ = true;
        return;
    }
    if (path.empty()) NotifyListeners();
    if (onChange_) onChange_(*this, node, path);
    if (parent_) parent_->Change(node, path.empty() ? name_ : name_ + "/" + path);
}

double TConfigNode::GetAsFloat() const {
    return ParseReal(GetText()).value_or(0.0);
}

void TConfigNode::SetAsFloat(double value) {
    SetText(FormatReal(value));
}

std::int32_t TConfigNode::GetAsInteger() const {
    return RoundToInt32(GetAsFloat());
}

void TConfigNode::SetAsInteger(std::int32_t value) {
    SetText(std::to_string(value));
}

std::string TConfigNode::ResolveText(const std::string&, const std::string& text) const {
    return text;
}

pugi::xml_node TConfigNode::SaveToXml(pugi::xml_node parentElement) const {
    pugi::xml_node element = parentElement.append_child(name_.c_str());
    if (!caption_.empty()) element.append_attribute("caption") = caption_.c_str();
    if (!hint_.empty()) element.append_attribute("hint") = hint_.c_str();
    const std::string text = GetText();
    if (!text.empty()) element.append_child(pugi::node_pcdata).set_value(text.c_str());
    return element;
}

void TConfigNode::LoadFromXml(bool followRefs, pugi::xml_node refRoot, pugi::xml_node element,
                              pugi::xml_node) {
    if (!element) return;
    const std::string id = element.attribute("id").value();
    const std::string section = SectionName();
    if (followRefs && !id.empty() && !section.empty() && refRoot) {
        pugi::xml_node found;
        for (pugi::xml_node group : refRoot.children(section.c_str())) {
            for (pugi::xml_node candidate : group.children(name_.c_str()))
                if (id == candidate.attribute("id").value()) {
                    found = candidate;
                    break;
                }
            if (found) break;
        }
        if (!found) RaiseError("Cannot find configuration node " + name_ + "." + id);
        LoadFromXml(false, refRoot, found, {});
    }
    if (!HasChildElements(element)) {
        const std::string text = NodeText(element);
        if (text != GetText() || forceNotify_) SetText(text);
    }
    for (const auto& child : children_)
        child->LoadFromXml(true, refRoot, FirstChildElement(element, child->name_), element);
}

void TConfigNode::EndUpdate(bool force) {
    --updateCount_;
    if (force) changePending_ = true;
    if (updateCount_ == 0 && changePending_) {
        changePending_ = false;
        Change(*this, {});
    }
}

void TConfigNode::CancelUpdate() {
    if (--updateCount_ == 0) changePending_ = false;
}

void TConfigNode::ClearChildren() {
    while (!children_.empty()) children_.erase(children_.begin());
}

void TConfigNode::SetCaption(const std::string& caption) {
    if (caption == caption_) return;
    caption_ = caption;
    Change(*this, {});
}

TConfigNode* TConfigNode::FindChild(std::string_view name) const {
    for (const auto& child : children_)
        if (child->name_ == name) return child.get();
    return nullptr;
}

TConfigNode* TConfigNode::FindNode(std::string_view path) const {
    const TConfigNode* node = this;
    path = Trim(path);
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        node = node->FindChild(path.substr(0, slash));
        if (!node) return nullptr;
        path = slash == std::string_view::npos ? std::string_view() : Trim(path.substr(slash + 1));
    }
    return const_cast<TConfigNode*>(node);
}

std::string TConfigNode::Path() const {
    if (!parent_) return {};
    const std::string above = parent_->Path();
    return above.empty() ? name_ : above + "/" + name_;
}

void TConfigNode::AddListener(INodeListener& listener) {
    listeners_.push_back(&listener);
    listener.attachedTo_.push_back(this);
}

void TConfigNode::RemoveListener(INodeListener& listener) {
    const auto at = std::find(listeners_.begin(), listeners_.end(), &listener);
    if (at == listeners_.end()) return;
    listeners_.erase(at);
    Detach(listener);
}

void TConfigNode::Detach(INodeListener& listener) {
    auto& nodes = listener.attachedTo_;
    const auto at = std::find(nodes.begin(), nodes.end(), this);
    if (at != nodes.end()) nodes.erase(at);
}

void TConfigNode::NotifyListeners() {
    const std::vector<INodeListener*> present = listeners_;
    for (INodeListener* listener : present) {
        // A listener that left (or was destroyed) during this round is not called.
        if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) continue;
        listener->NodeChanged(*this);
    }
}

bool TConfigNode::IsLocked() const {
    for (const TConfigNode* node = this; node; node = node->parent_)
        if (node->updateCount_ > 0) return true;
    return false;
}

void TConfigNode::SaveTree(pugi::xml_node parentElement) const {
    const pugi::xml_node element = SaveToXml(parentElement);
    if (!element) return;
    for (const auto& child : children_)
        if (!child->notSaved_) child->SaveTree(element);
}

std::string TConfigNode::SaveToString() const {
    TXmlDocument document;
    SaveTree(document.Dom().append_child("configuration"));
    return document.Xml();
}

void TConfigNode::LoadFromDocument(const TXmlDocument& document, pugi::xml_node refRoot) {
    if (!refRoot) refRoot = document.Root();
    LoadFromXml(false, refRoot, SelectSingle(document.Node(), "/configuration/preset").node(), {});
}

void TConfigNode::LoadFromString(std::string_view text, pugi::xml_node refRoot) {
    TXmlDocument document;
    if (!document.LoadXml(text)) RaiseError(document.ParseError().Message());
    LoadFromDocument(document, refRoot);
}

// --- TScalarNode ---

void TScalarNode::SetKeyChar(char key) {
    if (key == keyChar_) return;
    keyChar_ = key;
    Change(*this, {});
}

void TScalarNode::SetMin(double min) {
    if (min == min_) return;
    min_ = min;
    Change(*this, {});
}

void TScalarNode::SetMax(double max) {
    if (max == max_) return;
    max_ = max;
    Change(*this, {});
}

void TScalarNode::SetSteps(std::int32_t steps) {
    if (steps == steps_) return;
    steps_ = steps;
    Change(*this, {});
}

void TScalarNode::SetFormat(const std::string& format) {
    if (format == format_) return;
    format_ = format;
    Change(*this, {});
}

void TScalarNode::SetUnits(const std::string& units) {
    if (units == units_) return;
    units_ = units;
    Change(*this, {});
}

void TScalarNode::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Change(*this, {});
}

TScalarNode& TScalarNode::Present(char key, const std::string& caption, const std::string& hint, double min,
                                  double max, std::int32_t steps, const std::string& format,
                                  const std::string& units) {
    SetKeyChar(key);
    SetCaption(caption);
    SetHint(hint);
    SetMin(min);
    SetMax(max);
    SetSteps(steps);
    SetFormat(format);
    SetUnits(units);
    return *this;
}

void TScalarNode::SetAsInteger(std::int32_t value) {
    double v = value;
    if (min_ < max_) {
        if (cyclic_) {
            const double span = std::nearbyint(max_ - min_);
            if (v < min_)
                v += span;
            else if (v > max_)
                v -= span;
        }
        if (v < min_)
            v = std::nearbyint(min_);
        else if (v > max_)
            v = std::nearbyint(max_);
    } else {
        if (v > min_)
            v = std::nearbyint(min_);
        else if (v < max_)
            v = std::nearbyint(max_);
    }
    SetText(std::to_string(RoundToInt32(v)));
}

std::string TScalarNode::ResolveText(const std::string& childName, const std::string& text) const {
    const std::string_view trimmed = Trim(text);
    if (trimmed.size() >= 2 && trimmed.back() == '%') {
        const double percent = ParseReal(trimmed.substr(0, trimmed.size() - 1)).value_or(0.0);
        return FormatReal(min_ + percent * (max_ - min_) / 100);
    }
    if (!Parent() || !childName.empty()) return std::string(trimmed);
    return Parent()->ResolveText(Name(), text);
}

pugi::xml_node TScalarNode::SaveToXml(pugi::xml_node parentElement) const {
    if (!isAttribute_) return TConfigNode::SaveToXml(parentElement);
    pugi::xml_attribute attribute = parentElement.attribute(Name().c_str());
    if (!attribute) attribute = parentElement.append_attribute(Name().c_str());
    attribute = GetText().c_str();
    return {};
}

void TScalarNode::LoadFromXml(bool followRefs, pugi::xml_node refRoot, pugi::xml_node element,
                              pugi::xml_node parentElement) {
    if (isAttribute_) {
        const pugi::xml_attribute attribute = parentElement.attribute(Name().c_str());
        if (attribute && attribute.value() != GetText()) SetText(attribute.value());
        return;
    }
    TConfigNode::LoadFromXml(followRefs, refRoot, element, parentElement);
    if (!element) return;
    const pugi::xml_attribute caption = element.attribute("caption");
    if (caption && caption.value() != Caption()) {
        // Stored without a notification of its own: ancestors hear "@caption", listeners nothing.
        SetCaptionQuietly(caption.value());
        Change(*this, "@caption");
    }
}

double TScalarNode::GetPercent() const {
    return (GetAsFloat() - min_) / (max_ - min_) * 100;
}

void TScalarNode::SetPercent(double percent) {
    SetAsFloat(min_ + (max_ - min_) * percent / 100);
}

// --- TEventNode ---

void TEventNode::SetText(const std::string&) {
    Fire();
}

pugi::xml_node TEventNode::SaveToXml(pugi::xml_node) const {
    return {};
}

// --- typed nodes ---

namespace {

// A decimal integer text, 0 when not a number, checked against low..high; digits beyond 32
// (or 64) bits are a number too, out of every range here.
long long CheckedInteger(const std::string& text, long long low, long long high) {
    const long long value = ParseWholeNumber(text).value_or(0);
    if (value < low || value > high) RaiseRangeError();
    return value;
}

} // namespace

std::string TByteNode::GetText() const {
    return std::to_string(Value());
}

void TByteNode::SetText(const std::string& text) {
    SetValue(static_cast<std::uint8_t>(CheckedInteger(ResolveText({}, text), 0, 255)));
}

std::string TWordNode::GetText() const {
    return std::to_string(Value());
}

void TWordNode::SetText(const std::string& text) {
    SetValue(static_cast<std::uint16_t>(CheckedInteger(ResolveText({}, text), 0, 65535)));
}

std::string TIntegerNode::GetText() const {
    return std::to_string(Value());
}

void TIntegerNode::SetText(const std::string& text) {
    SetValue(RoundToInt32(ParseReal(ResolveText({}, text)).value_or(0.0)));
}

std::string TDoubleNode::GetText() const {
    return FormatReal(Value());
}

void TDoubleNode::SetText(const std::string& text) {
    SetValue(ParseReal(ResolveText({}, text)).value_or(0.0));
}

void TBooleanNode::SetText(const std::string& text) {
    SetValue(ParseInteger(ResolveText({}, text)).value_or(0) != 0);
}

void TStringNode::SetText(const std::string& text) {
    SetValue(ResolveText({}, text));
}

TScalarNode* FindScalar(const TConfigNode& start, std::string_view path) {
    return dynamic_cast<TScalarNode*>(start.FindNode(path));
}

TScalarNode* FindByKey(const TConfigNode& start, char key) {
    for (int i = 0; i < start.ChildCount(); ++i) {
        TConfigNode& child = start.Child(i);
        if (auto* scalar = dynamic_cast<TScalarNode*>(&child)) {
            if (scalar->KeyChar() == key) return scalar;
        } else if (TScalarNode* found = FindByKey(child, key)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace tarvicon

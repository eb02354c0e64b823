#pragma once
// The parameter tree: typed nodes addressed by slash paths, with change notification up the
// tree, listeners, event nodes and XML persistence. Single-threaded (the user-interface thread).

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <pugixml.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

class TConfigNode;
class TXmlDocument;

// A component that listens to nodes. It leaves every node's list when it is destroyed.
class INodeListener {
public:
    INodeListener() = default;
    INodeListener(const INodeListener&) = delete;
    INodeListener& operator=(const INodeListener&) = delete;
    virtual ~INodeListener();
    // The node changed or fired.
    virtual void NodeChanged(TConfigNode& node) = 0;

private:
    friend class TConfigNode;
    std::vector<TConfigNode*> attachedTo_;
};

class TConfigNode {
public:
    // (this node, the node where the change happened, its path relative to this node)
    using TChangeHandler =
        std::function<void(TConfigNode& self, TConfigNode& changed, const std::string& path)>;

    virtual ~TConfigNode();
    TConfigNode(const TConfigNode&) = delete;
    TConfigNode& operator=(const TConfigNode&) = delete;

    // Creates a node of class T (an empty name means T's default name) as the last child of
    // parent, or a root when parent is null.
    template <typename T, typename... Args>
    static T& Create(TConfigNode* parent, std::string name = {}, Args&&... args);
    template <typename T, typename... Args>
    static std::unique_ptr<T> CreateRoot(std::string name = {}, Args&&... args);

    // Class names: "TLevelNode" gives "level" and "levels".
    virtual std::string ClassName() const { return "TConfigNode"; }
    std::string DefaultName() const;
    std::string SectionName() const { return DefaultName() + "s"; }
    static std::string DefaultNameOf(std::string_view className);

    virtual void Change(TConfigNode& node, const std::string& path);
    virtual std::string GetText() const { return {}; }
    virtual void SetText(const std::string&) {}
    virtual double GetAsFloat() const;
    virtual void SetAsFloat(double value);
    virtual std::int32_t GetAsInteger() const;
    virtual void SetAsInteger(std::int32_t value);
    virtual std::string ResolveText(const std::string& childName, const std::string& text) const;
    // The new element, or a null handle when nothing (or only an attribute) was written.
    virtual pugi::xml_node SaveToXml(pugi::xml_node parentElement) const;
    virtual void LoadFromXml(bool followRefs, pugi::xml_node refRoot, pugi::xml_node element,
                             pugi::xml_node parentElement);
    virtual void BeginUpdate() { ++updateCount_; }
    virtual void EndUpdate(bool force);
    virtual void CancelUpdate();
    virtual void ClearChildren();

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    const std::string& Name() const { return name_; }
    const std::string& Hint() const { return hint_; }
    void SetHint(std::string hint) { hint_ = std::move(hint); }
    TConfigNode* Parent() const { return parent_; }
    int ChildCount() const { return static_cast<int>(children_.size()); }
    TConfigNode& Child(int index) const { return *children_.at(static_cast<std::size_t>(index)); }
    void SetOnChange(TChangeHandler handler) { onChange_ = std::move(handler); }
    bool ChangePending() const { return changePending_; }
    int UpdateCount() const { return updateCount_; }
    bool ForceNotify() const { return forceNotify_; }
    void SetForceNotify(bool force) { forceNotify_ = force; }
    bool NotSaved() const { return notSaved_; }
    void SetNotSaved(bool notSaved) { notSaved_ = notSaved; }

    // The first direct child with exactly this name, or null.
    TConfigNode* FindChild(std::string_view name) const;
    // Node by relative path ("detail/colormapping/level/center"); null when missing.
    TConfigNode* FindNode(std::string_view path) const;
    // Names below the root down to this node joined by "/"; empty for the root.
    std::string Path() const;

    void AddListener(INodeListener& listener);
    void RemoveListener(INodeListener& listener);
    int ListenerCount() const { return static_cast<int>(listeners_.size()); }
    void NotifyListeners();
    // True when this node or an ancestor is inside BeginUpdate.
    bool IsLocked() const;

    void SaveTree(pugi::xml_node parentElement) const;
    // "configuration" holding this node's tree, as XML text without a declaration.
    std::string SaveToString() const;
    // Loads from "/configuration/preset" of the document; refRoot defaults to its root element.
    void LoadFromDocument(const TXmlDocument& document, pugi::xml_node refRoot = {});
    // Parses text and loads it; raises the parser's message on text that is not well-formed.
    void LoadFromString(std::string_view text, pugi::xml_node refRoot = {});

protected:
    TConfigNode() = default;
    // Stores the caption without any notification.
    void SetCaptionQuietly(std::string caption) { caption_ = std::move(caption); }
    // Runs after the node is linked into its parent: schema classes create their children here.
    virtual void Build() {}

private:
    void Detach(INodeListener& listener);

    std::string caption_;
    std::string name_;
    std::string hint_;
    TConfigNode* parent_ = nullptr;
    std::vector<std::unique_ptr<TConfigNode>> children_;
    TChangeHandler onChange_;
    int updateCount_ = 0;
    bool changePending_ = false;
    std::vector<INodeListener*> listeners_;
    bool forceNotify_ = false;
    bool notSaved_ = false;

    template <typename T>
    static void Link(T& node, TConfigNode* parent, std::string name);
    friend class INodeListener;
};

// A node with one value and the attributes editors present it by.
class TScalarNode : public TConfigNode {
public:
    std::string ClassName() const override { return "TScalarNode"; }
    void SetAsInteger(std::int32_t value) override;
    std::string ResolveText(const std::string& childName, const std::string& text) const override;
    pugi::xml_node SaveToXml(pugi::xml_node parentElement) const override;
    void LoadFromXml(bool followRefs, pugi::xml_node refRoot, pugi::xml_node element,
                     pugi::xml_node parentElement) override;

    bool IsAttribute() const { return isAttribute_; }
    void SetIsAttribute(bool isAttribute) { isAttribute_ = isAttribute; }
    char KeyChar() const { return keyChar_; }
    void SetKeyChar(char key);
    double Min() const { return min_; }
    void SetMin(double min);
    double Max() const { return max_; }
    void SetMax(double max);
    std::int32_t Steps() const { return steps_; }
    void SetSteps(std::int32_t steps);
    const std::string& Format() const { return format_; }
    void SetFormat(const std::string& format);
    const std::string& Units() const { return units_; }
    void SetUnits(const std::string& units);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Cyclic() const { return cyclic_; }
    void SetCyclic(bool cyclic) { cyclic_ = cyclic; }

    // Position of the value in the range, in percent; needs a finite range with Min != Max.
    double GetPercent() const;
    void SetPercent(double percent);

    // Sets the presentation attributes of the schema in one call.
    TScalarNode& Present(char key, const std::string& caption, const std::string& hint, double min,
                         double max, std::int32_t steps, const std::string& format, const std::string& units);

private:
    bool isAttribute_ = false;
    char keyChar_ = 0;
    double max_ = std::numeric_limits<double>::infinity();
    std::int32_t steps_ = 0;
    std::string format_;
    std::string units_;
    double min_ = -std::numeric_limits<double>::infinity();
    bool enabled_ = true;
    bool cyclic_ = false;
};

// A command channel: no value, never saved; setting any text fires it.
class TEventNode : public TScalarNode {
public:
    std::string ClassName() const override { return "TEventNode"; }
    void SetText(const std::string& text) override;
    pugi::xml_node SaveToXml(pugi::xml_node parentElement) const override;
    // Tells the listeners, also while the tree is locked.
    void Fire() { NotifyListeners(); }
};

// Shared by the typed nodes: stores a value and reports a real (or forced) change.
template <typename V>
class TValueNode : public TScalarNode {
public:
    V Value() const { return value_; }
    void SetValue(V value) {
        if (value == value_ && !ForceNotify()) return;
        value_ = value;
        Change(*this, {});
    }

private:
    V value_{};
};

class TByteNode : public TValueNode<std::uint8_t> {
public:
    std::string ClassName() const override { return "TByteNode"; }
    std::string GetText() const override;
    void SetText(const std::string& text) override;
};

class TWordNode : public TValueNode<std::uint16_t> {
public:
    std::string ClassName() const override { return "TWordNode"; }
    std::string GetText() const override;
    void SetText(const std::string& text) override;
};

class TIntegerNode : public TValueNode<std::int32_t> {
public:
    std::string ClassName() const override { return "TIntegerNode"; }
    std::string GetText() const override;
    void SetText(const std::string& text) override;
    std::int32_t GetAsInteger() const override { return Value(); }
    void SetAsInteger(std::int32_t value) override { SetValue(value); }
};

class TDoubleNode : public TValueNode<double> {
public:
    std::string ClassName() const override { return "TDoubleNode"; }
    std::string GetText() const override;
    void SetText(const std::string& text) override;
    double GetAsFloat() const override { return Value(); }
    void SetAsFloat(double value) override { SetValue(value); }
};

class TBooleanNode : public TValueNode<bool> {
public:
    std::string ClassName() const override { return "TBooleanNode"; }
    std::string GetText() const override { return Value() ? "1" : "0"; }
    void SetText(const std::string& text) override;
};

class TStringNode : public TValueNode<std::string> {
public:
    std::string ClassName() const override { return "TStringNode"; }
    std::string GetText() const override { return Value(); }
    void SetText(const std::string& text) override;
};

// FindNode that gives null unless the node is a scalar.
TScalarNode* FindScalar(const TConfigNode& start, std::string_view path);

// The first scalar below start whose key letter is key (scalars' children are not searched).
TScalarNode* FindByKey(const TConfigNode& start, char key);

// --- implementation of the creation templates ---

template <typename T>
void TConfigNode::Link(T& node, TConfigNode* parent, std::string name) {
    node.name_ = name.empty() ? node.DefaultName() : std::move(name);
    node.parent_ = parent;
}

template <typename T, typename... Args>
T& TConfigNode::Create(TConfigNode* parent, std::string name, Args&&... args) {
    if (!parent) throw std::logic_error("Create needs a parent; use CreateRoot");
    auto owned = std::unique_ptr<T>(new T(std::forward<Args>(args)...));
    T& node = *owned;
    Link(node, parent, std::move(name));
    parent->children_.push_back(std::move(owned));
    static_cast<TConfigNode&>(node).Build();
    return node;
}

template <typename T, typename... Args>
std::unique_ptr<T> TConfigNode::CreateRoot(std::string name, Args&&... args) {
    auto owned = std::unique_ptr<T>(new T(std::forward<Args>(args)...));
    Link(*owned, nullptr, std::move(name));
    static_cast<TConfigNode&>(*owned).Build();
    return owned;
}

} // namespace tarvicon

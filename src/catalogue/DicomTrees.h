#pragma once
// TDicomTree: the study tree without a widget. It queues the files of folders, file lists and
// index documents in its fetch cache, takes the fetched bytes in short time slices, reads each
// file into a single-image object and files it under patient, study, series and image, and at
// the end of a run squeezes every series into one series object with one cube. It keeps the
// selection and the overlay, carries out the series commands that arrive as parameter changes
// and tells its listeners. The viewer's tree widget mirrors the nodes.

#include "catalogue/DicomObjects.h"
#include "catalogue/FlatCaches.h"
#include "config/ConfigNodes.h"
#include "util/WorkQueue.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tarvicon {

// The node pictures of the tree widget, by index into its picture list.
enum class TNodePicture : std::uint8_t { Patient = 2, Study = 3, Series = 4, Image = 5, Error = 7 };
// The index of the overlay mark in the widget's list of state pictures.
inline constexpr int kOverlayPicture = 4;

// One node of the study tree: read-only outside the tree. The object it holds belongs to the
// tree; views and panels may use it until they are told it is about to be destroyed.
class TTreeNode {
public:
    const std::string& Caption() const { return caption_; }
    TNodePicture Picture() const { return picture_; }
    // The node holds the overlay object.
    bool OverlayMarked() const { return overlayMarked_; }
    bool Expanded() const { return expanded_; }
    // The parent node; null for a root (a patient, or a file that could not be placed).
    const TTreeNode* Parent() const { return parent_ && parent_->parent_ ? parent_ : nullptr; }
    const std::vector<std::unique_ptr<TTreeNode>>& Children() const { return children_; }
    TDicomObject* Object() const { return object_.get(); }
    // 0 for a root (patient), 1 study, 2 series, 3 image.
    int Level() const;

private:
    friend class TDicomTree;

    std::string caption_;
    TNodePicture picture_ = TNodePicture::Patient;
    bool overlayMarked_ = false;
    bool expanded_ = false;
    TTreeNode* parent_ = nullptr;
    std::vector<std::unique_ptr<TTreeNode>> children_;
    std::unique_ptr<TDicomObject> object_;
    // The level key as first computed, trimmed and upper-cased. The objects filed below a node
    // all share its key, so it never changes; keeping it spares a value lookup per sibling
    // and file.
    std::string keyCache_;
    // The first child of each key, by position among children_, so that filing a file among
    // thousands of images costs no look at every sibling. Valid only while keysIndexed_ equals
    // the number of children; any change to children_ other than filing drops it (KeysChanged).
    std::unordered_map<std::string_view, std::size_t> keyIndex_;
    std::size_t keysIndexed_ = 0;
    bool keyIndexValid_ = false;
};

class TDicomTree;

// What the study tree tells the components that mirror or show it. Every call comes on the
// calling thread of the tree; an exception from a handler reaches the caller of the tree
// operation that caused it. Whoever holds a node or an object lets go of it when told.
class ITreeListener {
public:
    // Nodes are about to be added, merged, re-captioned, sorted or deleted; brackets nest and
    // only the outermost pair is reported.
    virtual void StructureChanging(TDicomTree&) {}
    virtual void StructureChanged(TDicomTree&) {}
    // A node's caption, picture or overlay mark changed outside a structure change.
    virtual void TreeNodeChanged(TDicomTree&, const TTreeNode&) {}
    // The object is about to be destroyed: let go of it.
    virtual void ObjectDestroying(TDicomTree&, const TDicomObject&) {}
    // Before the selected node changes, and when the outermost series operation begins.
    virtual void SelectionChanging(TDicomTree&) {}
    // After the selection changed, at the end of the outermost series operation, after the
    // overlay changed, and on the parameters "detail/overlay" and "detail/slice".
    virtual void SelectionChanged(TDicomTree&) {}
    // After each series operation (mirror, filter, upscale, revert).
    virtual void CubeChanged(TDicomTree&) {}
    // Once at the end of a load run, after the squeeze.
    virtual void LoadingFinished(TDicomTree&) {}
    // A load run stopped by errors: "Too many errors:" and the last message.
    virtual void LoadError(TDicomTree&, const std::string&) {}
    // A line for the trace page.
    virtual void TreeTrace(TDicomTree&, const std::string&) {}

protected:
    ~ITreeListener() = default;
};

class TDicomTree : public INodeListener {
public:
    TDicomTree();
    ~TDicomTree() override;
    TDicomTree(const TDicomTree&) = delete;
    TDicomTree& operator=(const TDicomTree&) = delete;

    // Listeners are told in the order added; a listener must be removed before it goes.
    void AddListener(ITreeListener& listener);
    void RemoveListener(ITreeListener& listener);

    // Queues every file below the folder (hidden ones included, subfolders in place), except
    // files whose name begins with "Study_".
    void AddFolder(const std::string& folder);
    // Queues each path in order.
    void AddFiles(const std::vector<std::string>& paths);
    // Queues the instances of the selected series of an index document: "CRYPTED:" + key with
    // the cache's key set when key is not empty, else prefix + key. A document that does not
    // parse raises its parse error; nothing is queued.
    void LoadIndex(const std::string& prefix, const std::string& key, const std::string& path);
    // Queues every instance of the study or series a "dicomweb:" address names, retrieved with the
    // address's login; each page of the listing is queued as it arrives, so retrieval starts while
    // the rest is listed. A server that cannot be asked, or that lists no instance, raises its
    // message; nothing of the address stays queued.
    void AddDicomWeb(const std::string& address);
    // No overlay; all nodes and their objects go.
    void Clear();
    // Files an object made elsewhere (a cuboid file) as a root node of its own; returns it.
    TDicomObject& AddObject(std::unique_ptr<TDicomObject> object, const std::string& caption);
    // Reads a cuboid file into an object of its own at its centre voxel, filed under its path.
    // A file that cannot be read raises the cube's message; nothing is filed.
    TDicomObject& AddCuboidFile(const std::string& path);
    // One time slice of loading (at least one file, then until the clock ticks); false when
    // there is nothing to do or the run stopped. A run builds cubes only for what it filed:
    // series of earlier runs keep their cubes and their operations.
    bool LoadStep();
    bool Loading() const { return loading_; }
    int ErrorCount() const { return errorCount_; }

    // Roots of the tree (patients, and files that could not be placed).
    const std::vector<std::unique_ptr<TTreeNode>>& Roots() const { return root_.children_; }
    const TTreeNode* Selected() const { return selected_; }
    // Selects a node of this tree (null: none), telling SelectionChanging before and
    // SelectionChanged after.
    void SelectNode(const TTreeNode* node);

    TDicomObject* SelectedObject() const;
    void SelectObject(const TDicomObject* object);
    void SelectNext();
    void SelectPrevious();
    std::int32_t SelectedSerial() const;
    void SelectBySerial(std::int32_t serial);
    TDicomObject* OverlayObject() const { return overlay_; }
    std::int32_t OverlaySerial() const;
    void SelectOverlay(TDicomObject* object);
    void SelectOverlayBySerial(std::int32_t serial);
    int ObjectCount() const;
    TDicomObject* ObjectAt(int index) const;
    // The node holding the object, or null.
    const TTreeNode* NodeOf(const TDicomObject* object) const;

    void BeginOperation();
    void EndOperation();
    bool IsBusy() const { return operationDepth_ > 0; }
    bool TakeChanged();

    // Turns the selected series (and, with twin, an overlay that is another object) about the
    // axes by degrees inside the operation bracket: how the detail view's angle is made permanent.
    void RotateSelected(const std::string& axes, double degrees, bool twin);

    // Listens to a parameter node; the tree reacts to the series commands.
    void Listen(TConfigNode& node);
    void NodeChanged(TConfigNode& node) override;

    TFlatCache& Cache() { return *cache_; }

    // Handed to every object the tree creates (the configuration's trade-off for it).
    void SetOnGetTradeOff(TTradeOffHandler handler) { onGetTradeOff_ = std::move(handler); }
    // The caption order of the squeeze (negative, 0, positive); byte-wise unless the widget
    // sets the locale-aware comparison.
    void SetCaptionOrder(std::function<int(const std::string&, const std::string&)> compare) {
        compareCaptions_ = std::move(compare);
    }
    // How long a series operation keeps its progress shown, in milliseconds.
    int OperationPause = 500;

private:
    template <typename Event>
    void Tell(Event&& event);
    void Trace(const std::string& text);
    void BeginStructure();
    void EndStructure();
    // Runs work between begin and end; end runs however the work ends, outside any destructor,
    // so what it tells listeners can raise. The structure and operation brackets use it.
    template <typename Work>
    void Bracketed(void (TDicomTree::*begin)(), void (TDicomTree::*end)(), Work&& work);
    template <typename Work>
    void ChangingStructure(Work&& work) {
        Bracketed(&TDicomTree::BeginStructure, &TDicomTree::EndStructure, std::forward<Work>(work));
    }
    // Files a read object (its read failure, if any, given) and returns the path text; a
    // failed read still files the object and then raises the failure.
    std::string FileObject(std::unique_ptr<TDicomSingleImage> object,
                           const std::optional<std::string>& readFailure);
    TWorkQueue& Readers();
    void DropPending();
    TTreeNode& FindOrAdd(TTreeNode& parent, const std::string& keyNames, const std::string& key,
                         const std::string& caption);
    // The first child of parent whose level key is `wanted` (normalised), or null.
    static TTreeNode* FindChild(TTreeNode& parent, const std::string& keyNames, std::string_view wanted);
    // Whatever was done to parent's children besides filing: the index by key is built again.
    static void KeysChanged(TTreeNode& parent) { parent.keyIndexValid_ = false; }
    // Ends a run: on a cancel what the run filed goes; after too many errors the last one is told.
    void StopRun(bool cancelled, const std::string& lastFailure);
    // Removes the nodes of the objects this run filed and the nodes that are left empty.
    void DropRun();
    // True when node is to go (its own object was filed this run, or it is left empty).
    bool PruneRun(TTreeNode& node);
    void FinishRun();
    void Squeeze();
    bool SqueezeChildren(TTreeNode& parent);
    bool Merge(TTreeNode& parent);
    void SortCaptions(TTreeNode& parent);
    // Tells ObjectDestroying, forgets the object as overlay and as filed in this run, then
    // destroys it.
    void DestroyObject(std::unique_ptr<TDicomObject>& object);
    // Destroys the objects below node (node's own included) and forgets the selection in it.
    void ReleaseNodes(TTreeNode& node);
    bool Fresh(const TTreeNode& node) const;
    std::vector<TTreeNode*> TreeOrder() const;
    void RunSeriesOperation(const std::string& title, const std::function<void(TDicomObject&)>& operation);
    bool TwinOverlay(const TDicomObject& object) const;

    // What a reader hands back: the read's failure, if any, and the notices it has for the user.
    struct TReadResult {
        std::optional<std::string> Failure;
        std::vector<std::string> Notices;
    };
    // A file taken from the cache whose bytes a reader is parsing.
    struct TPendingFile {
        int Index = 0;
        std::string Rate;
        std::unique_ptr<TDicomSingleImage> Object;
        std::future<TReadResult> Read;
    };
    static constexpr std::size_t kReadAhead = 8;

    std::unique_ptr<TFlatCache> cache_;
    std::unique_ptr<TWorkQueue> readers_;
    std::deque<TPendingFile> pending_;
    std::vector<ITreeListener*> listeners_;
    TTreeNode root_; // holds the roots as its children
    TTreeNode* selected_ = nullptr;
    TDicomObject* overlay_ = nullptr;
    TTradeOffHandler onGetTradeOff_;
    std::function<int(const std::string&, const std::string&)> compareCaptions_;
    // The objects filed in the current run: the squeeze builds only these.
    std::unordered_set<const TDicomObject*> filedThisRun_;
    bool loading_ = false;
    int progressTotal_ = 0;
    std::uint64_t loadStart_ = 0;
    std::uint64_t bytesLoaded_ = 0;
    int errorCount_ = 0;
    int loadedCount_ = 0;
    int operationDepth_ = 0;
    int structureDepth_ = 0;
    bool changed_ = false;
};

// Keeps a listener added to a tree for the lifetime of this object.
class TScopedTreeListener {
public:
    TScopedTreeListener(TDicomTree& tree, ITreeListener& listener) : tree_(tree), listener_(listener) {
        tree_.AddListener(listener_);
    }
    ~TScopedTreeListener() { tree_.RemoveListener(listener_); }
    TScopedTreeListener(const TScopedTreeListener&) = delete;
    TScopedTreeListener& operator=(const TScopedTreeListener&) = delete;

private:
    TDicomTree& tree_;
    ITreeListener& listener_;
};

// Runs load steps until the run ends, pausing briefly while the fetch threads have nothing
// ready: a load without a window's timer (the command-line tool, tests). Returns the message of
// a run stopped by errors, empty when it finished.
std::string LoadToEnd(TDicomTree& tree);

// The kernel of the series filter: 16 at the centre, −1 around it, 1 on the outer shell.
std::array<std::int8_t, 125> SeriesFilterKernel();

// The key of a node's level computed from an object: the values of the key names (";"
// separated) joined with "|".
std::string LevelKey(const TDicomObject& object, const std::string& keyNames);

} // namespace tarvicon

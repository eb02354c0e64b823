#pragma once
// TDicomTree: the study tree without a widget. It queues the files of folders, file lists and
// index documents in its fetch cache, takes the fetched bytes in short time slices, reads each
// file into a single-image object and files it under patient, study, series and image, and at
// the end of a run squeezes every series into one series object with one cube. It keeps the
// selection and the overlay, carries out the series commands that arrive as parameter changes
// and tells its owner through events. The viewer's tree widget mirrors the nodes.

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
#include <vector>

namespace tarvicon {

// Node pictures: patient 2, study 3, series 4, image 5; a file that could not be placed 7.
inline constexpr int kErrorPicture = 7;
inline constexpr int kOverlayPicture = 4;

struct TTreeNode {
    std::string Caption;
    int ImageIndex = 0;    // picture for the normal and the selected state
    int OverlayIndex = -1; // overlay picture, -1 for none
    bool Expanded = false;
    TTreeNode* Parent = nullptr; // null for the roots
    std::vector<std::unique_ptr<TTreeNode>> Children;
    std::unique_ptr<TDicomObject> Object;
    // The level key as first computed, trimmed and upper-cased. The objects filed below a node
    // all share its key, so it never changes; keeping it spares a value lookup per sibling
    // and file.
    std::string KeyCache;

    // 0 for a root (patient), 1 study, 2 series, 3 image.
    int Level() const;
};

class TDicomTree : public INodeListener {
public:
    TDicomTree();
    ~TDicomTree() override;
    TDicomTree(const TDicomTree&) = delete;
    TDicomTree& operator=(const TDicomTree&) = delete;

    // Queues every file below the folder (hidden ones included, subfolders in place), except
    // files whose name begins with "Study_".
    void AddFolder(const std::string& folder);
    // Queues each path in order.
    void AddFiles(const std::vector<std::string>& paths);
    // Queues the instances of the selected series of an index document: "CRYPTED:" + key with
    // the cache's key set when key is not empty, else prefix + key. A document that does not
    // parse raises its parse error; nothing is queued.
    void LoadIndex(const std::string& prefix, const std::string& key, const std::string& path);
    // No overlay; all nodes and their objects go.
    void Clear();
    // One time slice of loading (at least one file, then until the clock ticks); false when
    // there is nothing to do or the run stopped.
    bool LoadStep();
    bool Loading() const { return loading_; }
    int ErrorCount() const { return errorCount_; }

    // Roots of the tree (patients, and files that could not be placed).
    const std::vector<std::unique_ptr<TTreeNode>>& Roots() const { return root_.Children; }
    TTreeNode* Selected() const { return selected_; }
    // Selects a node (null: none), firing OnChanging before and OnChange after.
    void SelectNode(TTreeNode* node);

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
    TTreeNode* NodeOf(const TDicomObject* object) const;

    void BeginOperation();
    void EndOperation();
    bool IsBusy() const { return operationDepth_ > 0; }
    bool TakeChanged();

    // Listens to a parameter node; the tree reacts to the series commands.
    void Listen(TConfigNode& node);
    void NodeChanged(TConfigNode& node) override;

    TFlatCache& Cache() { return *cache_; }

    // Events of the owner.
    std::function<void()> OnChange, OnChanging, OnLoaded, OnCubeChanged;
    std::function<void(const std::string&)> OnTrace;
    TTradeOffHandler OnGetTradeOff;
    // The caption order of the squeeze (negative, 0, positive); byte-wise unless the widget
    // sets the locale-aware comparison.
    std::function<int(const std::string&, const std::string&)> CompareCaptions;
    // The error box at the end of a run stopped by errors ("Too many errors:" ...).
    std::function<void(const std::string&)> OnError;
    // How long a series operation keeps its progress shown, in milliseconds.
    int OperationPause = 500;

private:
    void Trace(const std::string& text) const;
    // Files a read object (its read failure, if any, given) and returns the path text; a
    // failed read still files the object and then raises the failure.
    std::string FileObject(std::unique_ptr<TDicomSingleImage> object,
                           const std::optional<std::string>& readFailure);
    TWorkQueue& Readers();
    void DropPending();
    TTreeNode& FindOrAdd(TTreeNode& parent, const std::string& keyNames, const std::string& key,
                         const std::string& caption);
    void StopRun(bool clearTree, const std::string& lastFailure);
    void Squeeze();
    bool SqueezeChildren(TTreeNode& parent);
    void SortCaptions(TTreeNode& parent);
    void DeleteNode(TTreeNode& node);
    void ForgetObjects(const TTreeNode& node);
    std::vector<TTreeNode*> TreeOrder() const;
    void RunSeriesOperation(const std::string& title, const std::function<void(TDicomObject&)>& operation);
    bool TwinOverlay(const TDicomObject& object) const;

    // A file taken from the cache whose bytes a reader is parsing.
    struct TPendingFile {
        int Index = 0;
        std::string Rate;
        std::unique_ptr<TDicomSingleImage> Object;
        std::future<std::optional<std::string>> Read;
    };
    static constexpr std::size_t kReadAhead = 8;

    std::unique_ptr<TFlatCache> cache_;
    std::unique_ptr<TWorkQueue> readers_;
    std::deque<TPendingFile> pending_;
    TTreeNode root_; // holds the roots as its children
    TTreeNode* selected_ = nullptr;
    TDicomObject* overlay_ = nullptr;
    bool loading_ = false;
    int progressTotal_ = 0;
    std::uint64_t loadStart_ = 0;
    std::uint64_t bytesLoaded_ = 0;
    int errorCount_ = 0;
    int loadedCount_ = 0;
    int operationDepth_ = 0;
    bool changed_ = false;
};

// The kernel of the series filter: 16 at the centre, −1 around it, 1 on the outer shell.
std::array<std::int8_t, 125> SeriesFilterKernel();

// The key of a node's level computed from an object: the values of the key names (";"
// separated) joined with "|".
std::string LevelKey(const TDicomObject& object, const std::string& keyNames);

} // namespace tarvicon

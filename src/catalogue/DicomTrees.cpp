#include "catalogue/DicomTrees.h"

#include "config/XmlDocs.h"
#include "dicom/DicomWeb.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/NumberTexts.h"
#include "util/Progress.h"
#include "util/Strings.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace tarvicon {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPatientKey = "Patient ID";
constexpr const char* kStudyKey = "Study Instance UID";
constexpr const char* kSeriesKey = "Series Instance UID;Image type";
constexpr const char* kImageKey = "Image number";

std::string NormalKey(std::string_view key) {
    return UpperCase(Trim(key));
}

// "20070315" as "2007.03.15": characters 1–4, 5–6 and 7–8 of the first eight.
std::string StudyCaption(const TDicomObject& object) {
    std::string date = object.GetValue("Series date");
    if (date.empty()) date = object.GetValue("Study date");
    date = date.substr(0, 8);
    const auto part = [&](std::size_t at, std::size_t count) {
        return at < date.size() ? date.substr(at, count) : std::string();
    };
    return part(0, 4) + "." + part(4, 2) + "." + part(6, 2);
}

// Image number 7 as "0007"; without a number the value itself; "dummy" when empty.
std::string ImageCaption(const TDicomObject& object) {
    const std::string value = object.GetValue(kImageKey);
    const auto number = ParseInteger(Trim(value));
    std::string caption = value;
    if (number && *number >= INT32_MIN && *number <= INT32_MAX && *number != -1) {
        caption = std::to_string(*number + 10000).substr(1);
    }
    return caption.empty() ? "dummy" : caption;
}

void ListFolder(const fs::path& folder, std::vector<fs::path>& files) {
    std::error_code error;
    fs::directory_iterator it(folder, error), end;
    for (; !error && it != end; it.increment(error)) {
        std::error_code kind;
        if (it->is_directory(kind))
            ListFolder(it->path(), files);
        else
            files.push_back(it->path());
    }
}

const TTreeNode* FirstWithObject(const TTreeNode& node) {
    if (node.Object()) return &node;
    return node.Children().empty() ? nullptr : FirstWithObject(*node.Children().front());
}

void CollectOrder(const TTreeNode& node, std::vector<const TTreeNode*>& order) {
    for (const auto& child : node.Children()) {
        order.push_back(child.get());
        CollectOrder(*child, order);
    }
}

const TDicomSingleImage* SingleImage(const TTreeNode& node) {
    return dynamic_cast<const TDicomSingleImage*>(node.Object());
}

// Every child is a single image read completely, all of one width, height and pixel format.
bool SameFormat(const std::vector<std::unique_ptr<TTreeNode>>& children) {
    const TDicomSingleImage* first = SingleImage(*children.front());
    if (!first || !first->HasPixelFormat()) return false;
    return std::all_of(children.begin(), children.end(), [first](const auto& child) {
        const TDicomSingleImage* image = SingleImage(*child);
        return image && image->HasPixelFormat() && image->File()->Width() == first->File()->Width() &&
               image->File()->Height() == first->File()->Height() &&
               image->File()->PixelFormat() == first->File()->PixelFormat();
    });
}

} // namespace

std::string LoadToEnd(TDicomTree& tree) {
    struct TStopListener : ITreeListener {
        std::string Message;
        void LoadError(TDicomTree&, const std::string& message) override { Message = message; }
    } stop;
    const TScopedTreeListener listening(tree, stop);
    for (;;) {
        const int before = tree.Cache().Count();
        const bool more = tree.LoadStep();
        if (!more && !tree.Loading()) break;
        if (tree.Cache().FindFirst({TEntryState::Fetched, TEntryState::Failed}) < 0 &&
            before == tree.Cache().Count())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return stop.Message;
}

std::array<std::int8_t, 125> SeriesFilterKernel() {
    std::array<std::int8_t, 125> kernel{};
    std::size_t n = 0;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
            for (int k = -2; k <= 2; ++k) {
                const bool shell = std::abs(i) == 2 || std::abs(j) == 2 || std::abs(k) == 2;
                kernel[n++] = std::int8_t(i == 0 && j == 0 && k == 0 ? 16 : shell ? 1 : -1);
            }
    return kernel;
}

int TTreeNode::Level() const {
    int level = 0;
    for (const TTreeNode* p = parent_; p && p->parent_; p = p->parent_) ++level;
    return level;
}

std::string LevelKey(const TDicomObject& object, const std::string& keyNames) {
    std::string names = keyNames, key;
    bool first = true;
    while (!names.empty()) {
        const std::string name = SplitFirst(names, ';');
        if (!first) key += "|";
        key += object.GetValue(name);
        first = false;
    }
    return key;
}

TDicomTree::TDicomTree() : cache_(std::make_unique<TFlatCache>()) {}

// No listener is told anything here: the owner that destroys the tree is going away itself.
TDicomTree::~TDicomTree() {
    DropPending();
    readers_.reset();
    cache_.reset(); // waits for the fetch threads first
    overlay_ = nullptr;
    selected_ = nullptr;
}

void TDicomTree::AddListener(ITreeListener& listener) {
    if (std::find(listeners_.begin(), listeners_.end(), &listener) == listeners_.end())
        listeners_.push_back(&listener);
}

void TDicomTree::RemoveListener(ITreeListener& listener) {
    std::erase(listeners_, &listener);
}

template <typename Event>
void TDicomTree::Tell(Event&& event) {
    // A handler may add or remove listeners; one removed on the way is not told any more.
    const std::vector<ITreeListener*> listeners = listeners_;
    for (ITreeListener* listener : listeners)
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) event(*listener);
}

void TDicomTree::Trace(const std::string& text) {
    Tell([&](ITreeListener& l) { l.TreeTrace(*this, text); });
}

void TDicomTree::BeginStructure() {
    if (structureDepth_++ == 0) Tell([&](ITreeListener& l) { l.StructureChanging(*this); });
}

void TDicomTree::EndStructure() {
    if (structureDepth_ > 0 && --structureDepth_ == 0)
        Tell([&](ITreeListener& l) { l.StructureChanged(*this); });
}

template <typename Work>
void TDicomTree::Bracketed(void (TDicomTree::*begin)(), void (TDicomTree::*end)(), Work&& work) {
    (this->*begin)();
    try {
        work();
    } catch (...) {
        (this->*end)();
        throw;
    }
    (this->*end)();
}

void TDicomTree::AddFolder(const std::string& folder) {
    std::vector<fs::path> files;
    ListFolder(folder, files);
    for (const fs::path& file : files)
        if (file.filename().string().rfind("Study_", 0) != 0) cache_->Add(file.string());
}

void TDicomTree::AddFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) cache_->Add(path);
}

void TDicomTree::AddDicomWeb(const std::string& address) {
    const TDicomWebAddress parsed = ParseDicomWebAddress(address);
    // Each series as one answer, one entry per instance it holds: a server sends a series far
    // faster that way than one request per instance, and needs no listing of its instances.
    const std::vector<TSeriesRetrieval> series = ListSeriesRetrievals(parsed);
    if (!series.empty()) {
        cache_->SetWebLogin(parsed.Login);
        for (const TSeriesRetrieval& one : series) cache_->Add(one.Reference, one.InstanceCount);
        return;
    }
    const int before = cache_->Count();
    try {
        // Each listed page is queued at once: the fetch threads retrieve it while the rest is listed.
        ListInstancePages(parsed, [&](std::vector<std::string>&& page) {
            if (cache_->Count() == before) cache_->SetWebLogin(parsed.Login);
            for (const std::string& reference : page) cache_->Add(reference);
        });
    } catch (...) {
        // A listing that fails half-way takes back what it queued: nothing of the address is filed.
        cache_->Truncate(before);
        throw;
    }
}

void TDicomTree::LoadIndex(const std::string& prefix, const std::string& key, const std::string& path) {
    TXmlDocument document;
    if (!document.Load(path)) RaiseError(document.ParseError().Message());
    for (const pugi::xpath_node& instance :
         SelectList(document.Node(), "/*//series[selected=\"1\"]/instance[@key]")) {
        const std::string k = instance.node().attribute("key").value();
        if (!key.empty()) {
            cache_->SetKey(key);
            cache_->Add("CRYPTED:" + k);
        } else {
            cache_->SetKey("");
            cache_->Add(prefix + k);
        }
    }
}

void TDicomTree::DestroyObject(std::unique_ptr<TDicomObject>& object) {
    if (!object) return;
    Tell([&](ITreeListener& l) { l.ObjectDestroying(*this, *object); });
    if (overlay_ == object.get()) overlay_ = nullptr;
    filedThisRun_.erase(object.get());
    object.reset();
}

void TDicomTree::ReleaseNodes(TTreeNode& node) {
    for (auto& child : node.children_) ReleaseNodes(*child);
    DestroyObject(node.object_);
    if (selected_ == &node) selected_ = nullptr;
}

bool TDicomTree::PruneRun(TTreeNode& node) {
    auto& children = node.children_;
    for (auto it = children.begin(); it != children.end();) {
        if (PruneRun(**it)) {
            ReleaseNodes(**it);
            it = children.erase(it);
            KeysChanged(node);
        } else {
            ++it;
        }
    }
    if (&node == &root_) return false;
    const bool filed = node.object_ && filedThisRun_.count(node.object_.get()) > 0;
    return filed || (!node.object_ && node.children_.empty());
}

void TDicomTree::DropRun() {
    if (selected_ && selected_->object_ && filedThisRun_.count(selected_->object_.get()) > 0)
        SelectNode(nullptr);
    ChangingStructure([&] { PruneRun(root_); });
}

void TDicomTree::Clear() {
    overlay_ = nullptr;
    if (selected_) SelectNode(nullptr);
    ChangingStructure([&] {
        ReleaseNodes(root_);
        root_.children_.clear();
        KeysChanged(root_);
    });
}

TDicomObject& TDicomTree::AddObject(std::unique_ptr<TDicomObject> object, const std::string& caption) {
    TDicomObject& added = *object;
    ChangingStructure([&] {
        auto node = std::make_unique<TTreeNode>();
        node->caption_ = caption;
        node->picture_ = TNodePicture::Series;
        node->parent_ = &root_;
        node->object_ = std::move(object);
        root_.children_.push_back(std::move(node));
        KeysChanged(root_);
    });
    return added;
}

TDicomObject& TDicomTree::AddCuboidFile(const std::string& path) {
    auto cuboid = std::make_unique<TDicomSingleImage>();
    TPixelCube& cube = cuboid->Cube();
    cube.LoadFromFile(path);
    cuboid->SetPosition(
        {std::int32_t(cube.Width() / 2), std::int32_t(cube.Height() / 2), std::int32_t(cube.Depth() / 2)});
    return AddObject(std::move(cuboid), path);
}

TTreeNode& TDicomTree::FindOrAdd(TTreeNode& parent, const std::string& keyNames, const std::string& key,
                                 const std::string& caption) {
    const std::string wanted = NormalKey(key);
    if (TTreeNode* found = FindChild(parent, keyNames, wanted)) return *found;
    auto node = std::make_unique<TTreeNode>();
    node->keyCache_ = "=" + wanted;
    node->caption_ = caption;
    node->parent_ = &parent;
    node->picture_ = TNodePicture(parent.parent_ ? parent.Level() + 3 : 2);
    parent.children_.push_back(std::move(node));
    TTreeNode& added = *parent.children_.back();
    if (parent.keyIndexValid_ && parent.keysIndexed_ + 1 == parent.children_.size()) {
        // No earlier sibling has the key, so the new child is the first of it.
        parent.keyIndex_.emplace(std::string_view(added.keyCache_).substr(1), parent.keysIndexed_++);
    }
    return added;
}

TTreeNode* TDicomTree::FindChild(TTreeNode& parent, const std::string& keyNames, std::string_view wanted) {
    auto& children = parent.children_;
    if (!parent.keyIndexValid_ || parent.keysIndexed_ != children.size()) {
        // A child's key comes from the first object below it. A child with none has no key yet
        // and may get one later: the index is then built again at the next look.
        parent.keyIndex_.clear();
        bool whole = true;
        for (std::size_t i = 0; i < children.size(); ++i) {
            TTreeNode& child = *children[i];
            if (child.keyCache_.empty()) {
                const TTreeNode* holder = FirstWithObject(child);
                if (!holder) {
                    whole = false;
                    continue;
                }
                child.keyCache_ = "=" + NormalKey(LevelKey(*holder->Object(), keyNames));
            }
            parent.keyIndex_.try_emplace(std::string_view(child.keyCache_).substr(1), i);
        }
        parent.keysIndexed_ = children.size();
        parent.keyIndexValid_ = whole;
    }
    const auto found = parent.keyIndex_.find(wanted);
    return found == parent.keyIndex_.end() ? nullptr : children[found->second].get();
}

std::string TDicomTree::FileObject(std::unique_ptr<TDicomSingleImage> object,
                                   const std::optional<std::string>& readFailure) {
    Trace("Loading ");
    std::string pathText;
    ChangingStructure([&] {
        const bool failed = readFailure.has_value();
        TTreeNode* imageNode = nullptr;
        try {
            const TDicomObject& o = *object;
            TTreeNode& patient = FindOrAdd(root_, kPatientKey, LevelKey(o, kPatientKey),
                                           o.GetValue("Patient name") + " " + o.GetValue(kPatientKey));
            patient.expanded_ = true;
            TTreeNode& study = FindOrAdd(patient, kStudyKey, LevelKey(o, kStudyKey), StudyCaption(o));
            study.expanded_ = true;
            object->SetDescription(o.GetValue("0008.103E"));
            TTreeNode& series = FindOrAdd(study, kSeriesKey, LevelKey(o, kSeriesKey),
                                          o.Description() + " (" + o.GetValue("Modality") + ")");
            TTreeNode& image = FindOrAdd(series, kImageKey, LevelKey(o, kImageKey), ImageCaption(o));
            DestroyObject(image.object_); // a later file with the same number replaces it
            // with its own caption: the error of a file it replaces goes with that file.
            image.caption_ = ImageCaption(o);
            image.object_ = std::move(object);
            filedThisRun_.insert(image.object_.get());
            imageNode = &image;
            pathText = std::string(Trim(patient.caption_ + " / " + study.caption_ + " / " + series.caption_ +
                                        " / " + image.caption_));
        } catch (const std::exception&) {
            if (!failed) throw;
        }
        if (!failed) return;
        if (!imageNode) {
            auto node = std::make_unique<TTreeNode>();
            node->caption_ = pathText;
            node->picture_ = TNodePicture::Error;
            node->parent_ = &root_;
            node->object_ = std::move(object);
            filedThisRun_.insert(node->object_.get());
            root_.children_.push_back(std::move(node));
            KeysChanged(root_);
            imageNode = root_.children_.back().get();
        }
        imageNode->caption_ = std::string(Trim(imageNode->caption_ + " Error: " + *readFailure));
    });
    if (readFailure) RaiseError(*readFailure);
    return pathText;
}

void TDicomTree::StopRun(bool cancelled, const std::string& lastFailure) {
    DropPending();
    cache_->Clear();
    loading_ = false;
    EndProgress();
    // A cancel takes back what this run filed; the series of earlier runs stay as they were.
    if (cancelled) DropRun();
    filedThisRun_.clear();
    if (!lastFailure.empty()) {
        const std::string message = "Too many errors:\r\n" + lastFailure;
        if (listeners_.empty())
            Host().Notice(message);
        else
            Tell([&](ITreeListener& l) { l.LoadError(*this, message); });
    }
}

TWorkQueue& TDicomTree::Readers() {
    if (!readers_) readers_ = std::make_unique<TWorkQueue>();
    return *readers_;
}

void TDicomTree::DropPending() {
    for (TPendingFile& file : pending_) file.Read.wait(); // the readers still hold the objects
    pending_.clear();
}

bool TDicomTree::LoadStep() {
    const std::uint64_t t0 = Host().TickCount();
    const int n = cache_->Count();
    progressTotal_ = std::max(progressTotal_, n);
    if (!loading_ && n == 0 && pending_.empty()) return false;
    // The readers run on other threads and never ask the host: the Shift state (the
    // diagnostic dump) is read here, their notices come back with their results.
    const bool shiftHeld = Host().ShiftHeld();
    bool noneReady = false;
    std::string lastFailure;
    do {
        // Ready entries go to the readers in queue order, a few ahead of the filing, so that
        // parsing and decoding use every core while the tree files one result after another.
        while (pending_.size() < kReadAhead) {
            auto taken = cache_->TakeFirst({TEntryState::Fetched, TEntryState::Failed});
            if (!taken) break;
            if (!loading_) {
                errorCount_ = 0;
                loading_ = true;
                loadStart_ = Host().TickCount();
                bytesLoaded_ = 0;
                progressTotal_ = cache_->Count();
                filedThisRun_.clear();
                StartProgress(cache_->HasKey() ? "Loading and decrypting DICOM files"
                                               : "Loading DICOM files");
            }
            // A failure's message is read like a file's bytes and fails as one.
            TByteBuffer bytes = std::move(taken->Bytes);
            if (taken->State != TEntryState::Fetched) {
                const std::size_t size = taken->Text.size();
                bytes = TByteBuffer::Adopt(std::move(taken->Text), 0, size);
            }
            bytesLoaded_ += bytes.size();
            std::string rate;
            if (t0 != loadStart_)
                rate = FormatFixed(double(bytesLoaded_) / 1024 / double(t0 - loadStart_), 1) + " MB/sec";
            if (cache_->MaxActive() > 1)
                rate += "   (\xC2\xA4" + std::to_string(cache_->ActiveCount() + 1) + ")";
            auto object = std::make_unique<TDicomSingleImage>();
            object->SetOnGetTradeOff(onGetTradeOff_);
            TDicomSingleImage* reading = object.get();
            auto read =
                Readers().Submit([reading, shiftHeld, bytes = std::move(bytes)]() mutable -> TReadResult {
                    TReadResult result;
                    TReadContext context;
                    context.DumpRequested = shiftHeld;
                    try {
                        reading->LoadFromBytes(std::move(bytes), context);
                    } catch (const std::exception& error) {
                        result.Failure = error.what();
                    }
                    result.Notices = std::move(context.Notices);
                    return result;
                });
            pending_.push_back({taken->Index, std::move(rate), std::move(object), std::move(read)});
        }
        if (pending_.empty()) {
            noneReady = true;
            break;
        }
        TPendingFile next = std::move(pending_.front());
        pending_.pop_front();
        const TReadResult result = next.Read.get();
        for (const std::string& notice : result.Notices) Host().Notice(notice);
        std::string pathText;
        try {
            pathText = FileObject(std::move(next.Object), result.Failure);
        } catch (const std::exception& error) {
            ++errorCount_;
            lastFailure = error.what();
        }
        if (errorCount_ >= 5) {
            StopRun(false, lastFailure);
            return false;
        }
        if (!UpdateProgress(next.Index, progressTotal_, pathText, std::nullopt, next.Rate)) {
            StopRun(true, "");
            return false;
        }
    } while (Host().TickCount() == t0);

    // Settled: no fetch thread left and every entry taken, in one look at the queue, so that a
    // result stored by the last thread just now is not lost to the squeeze.
    if (noneReady && loading_ && cache_->Settled()) FinishRun();
    return true;
}

void TDicomTree::FinishRun() {
    loading_ = false;
    std::exception_ptr failure;
    try {
        UpdateProgress(0, 1, "", std::string("Squeezing image data"), std::nullopt);
        Squeeze();
    } catch (...) {
        failure = std::current_exception();
    }
    cache_->Clear();
    filedThisRun_.clear();
    try {
        if (!SelectedObject()) SelectNext();
    } catch (...) {
        EndProgress();
        throw;
    }
    EndProgress();
    Tell([&](ITreeListener& l) { l.LoadingFinished(*this); });
    if (failure) std::rethrow_exception(failure);
}

void TDicomTree::Squeeze() {
    Trace("Squeezing");
    loadedCount_ = 0;
    ChangingStructure([&] {
        if (SqueezeChildren(root_)) SortCaptions(root_);
    });
}

bool TDicomTree::Fresh(const TTreeNode& node) const {
    return node.object_ && filedThisRun_.contains(node.object_.get());
}

// False when the user cancelled. Only objects filed in this run are built or merged; a node
// from an earlier run keeps its object, and what was filed below it is squeezed on its own.
bool TDicomTree::SqueezeChildren(TTreeNode& parent) {
    auto& children = parent.children_;
    if (children.empty()) return true;
    const bool allHold =
        std::all_of(children.begin(), children.end(), [](const auto& c) { return bool(c->object_); });
    // By index: merging below a child may append a node to this list (a series beside the one of
    // an earlier run), which is built already and needs no squeeze.
    const std::size_t count = children.size();
    if (!allHold) {
        for (std::size_t i = 0; i < count; ++i)
            if (!SqueezeChildren(*children[i])) return false;
        return true;
    }
    const bool allFresh =
        std::all_of(children.begin(), children.end(), [this](const auto& c) { return Fresh(*c); });
    if (allFresh && SameFormat(children)) return Merge(parent);
    for (std::size_t i = 0; i < count; ++i) {
        TTreeNode& child = *children[i];
        if (!Fresh(child)) {
            if (!SqueezeChildren(child)) return false;
            continue;
        }
        if (!UpdateProgress(loadedCount_, cache_->Count(), child.object_->Description())) {
            cache_->Clear();
            return false;
        }
        ++loadedCount_;
        child.object_->BuildCube();
    }
    return true;
}

bool TDicomTree::Merge(TTreeNode& parent) {
    auto& children = parent.children_;
    auto array = std::make_unique<TDicomArrayImage>();
    array->SetOnGetTradeOff(onGetTradeOff_);
    for (auto& child : children) {
        if (!UpdateProgress(loadedCount_, cache_->Count(), child->object_->Description())) {
            cache_->Clear();
            return false;
        }
        auto& image = dynamic_cast<TDicomSingleImage&>(*child->object_);
        array->SetDescription(image.Description());
        array->AddFile(image.TakeFile());
        ReleaseNodes(*child);
        ++loadedCount_;
    }
    children.clear();
    KeysChanged(parent);
    const std::string modality = array->GetValue("Modality");
    const int count = array->ImageCount();
    const std::string caption = std::string(Trim(parent.caption_.substr(0, parent.caption_.find('(')))) +
                                " (" + modality + (count != 1 ? "[" + std::to_string(count) + "]" : "") + ")";
    array->SortImages();
    array->BuildCube();
    array->FreePixelData();
    const std::uint32_t depth = array->Cube().Depth();
    const bool thickness = !array->GetValue("Slice thickness").empty();
    array->SetIsVolume(depth > 64 || (thickness && depth >= 4));
    if (!array->IsVolume()) {
        TCubePoint metrics = array->Cube().Metrics();
        metrics.Z = 1;
        array->Cube().SetMetrics(metrics);
    }
    if (!parent.object_) {
        parent.caption_ = caption;
        parent.object_ = std::move(array);
        return true;
    }
    // The series node holds a series of an earlier run with its operations: the files filed
    // below it again become a series of their own beside it.
    auto sibling = std::make_unique<TTreeNode>();
    sibling->caption_ = caption;
    sibling->picture_ = parent.picture_;
    sibling->parent_ = parent.parent_;
    sibling->keyCache_ = parent.keyCache_;
    sibling->object_ = std::move(array);
    parent.parent_->children_.push_back(std::move(sibling));
    KeysChanged(*parent.parent_);
    return true;
}

void TDicomTree::SortCaptions(TTreeNode& parent) {
    const auto compare = [this](const std::unique_ptr<TTreeNode>& a, const std::unique_ptr<TTreeNode>& b) {
        return compareCaptions_ ? compareCaptions_(a->caption_, b->caption_) < 0 : a->caption_ < b->caption_;
    };
    std::stable_sort(parent.children_.begin(), parent.children_.end(), compare);
    KeysChanged(parent);
    for (auto& child : parent.children_) SortCaptions(*child);
}

std::vector<TTreeNode*> TDicomTree::TreeOrder() const {
    std::vector<const TTreeNode*> order;
    CollectOrder(root_, order);
    // The tree owns every node; the order is handed out for the tree's own changes.
    std::vector<TTreeNode*> nodes;
    nodes.reserve(order.size());
    for (const TTreeNode* node : order) nodes.push_back(const_cast<TTreeNode*>(node));
    return nodes;
}

void TDicomTree::SelectNode(const TTreeNode* node) {
    if (node == selected_) return;
    if (node) {
        const TTreeNode* top = node;
        while (top->parent_) top = top->parent_;
        if (top != &root_) RaiseError("The node is not part of this study tree");
    }
    Tell([&](ITreeListener& l) { l.SelectionChanging(*this); });
    selected_ = const_cast<TTreeNode*>(node);
    Tell([&](ITreeListener& l) { l.SelectionChanged(*this); });
}

TDicomObject* TDicomTree::SelectedObject() const {
    if (!selected_) return nullptr;
    const auto order = TreeOrder();
    for (auto it = std::find(order.begin(), order.end(), selected_); it != order.end(); ++it)
        if ((*it)->object_) return (*it)->object_.get();
    return nullptr;
}

const TTreeNode* TDicomTree::NodeOf(const TDicomObject* object) const {
    if (!object) return nullptr;
    for (const TTreeNode* node : TreeOrder())
        if (node->object_.get() == object) return node;
    return nullptr;
}

void TDicomTree::SelectObject(const TDicomObject* object) {
    Trace("Selecting object " + std::to_string(object ? object->SerialNumber() : 0));
    SelectNode(NodeOf(object));
}

void TDicomTree::SelectNext() {
    const auto order = TreeOrder();
    if (order.empty()) return;
    auto it = selected_ ? std::find(order.begin(), order.end(), selected_) : order.begin();
    if (it == order.end()) return;
    for (++it; it != order.end(); ++it)
        if ((*it)->object_) {
            SelectNode(*it);
            return;
        }
}

void TDicomTree::SelectPrevious() {
    const auto order = TreeOrder();
    if (order.empty()) return;
    auto it = selected_ ? std::find(order.begin(), order.end(), selected_) : order.begin();
    if (it == order.end()) return;
    while (it != order.begin()) {
        --it;
        if ((*it)->object_) {
            SelectNode(*it);
            return;
        }
    }
}

std::int32_t TDicomTree::SelectedSerial() const {
    const TDicomObject* object = SelectedObject();
    return object ? object->SerialNumber() : 0;
}

void TDicomTree::SelectBySerial(std::int32_t serial) {
    TTreeNode* found = nullptr;
    if (serial >= 0)
        for (TTreeNode* node : TreeOrder())
            if (node->object_ && node->object_->SerialNumber() == serial) {
                found = node;
                break;
            }
    SelectNode(found);
}

std::int32_t TDicomTree::OverlaySerial() const {
    return overlay_ ? overlay_->SerialNumber() : 0;
}

void TDicomTree::SelectOverlay(TDicomObject* object) {
    Trace("Selecting overlay object " + std::to_string(object ? object->SerialNumber() : 0));
    const auto mark = [this](const TDicomObject* holder, bool marked) {
        if (TTreeNode* node = const_cast<TTreeNode*>(NodeOf(holder));
            node && node->overlayMarked_ != marked) {
            node->overlayMarked_ = marked;
            Tell([&](ITreeListener& l) { l.TreeNodeChanged(*this, *node); });
        }
    };
    mark(overlay_, false);
    overlay_ = object;
    mark(object, true);
    Tell([&](ITreeListener& l) { l.SelectionChanged(*this); });
}

void TDicomTree::SelectOverlayBySerial(std::int32_t serial) {
    TDicomObject* found = nullptr;
    if (serial >= 0)
        for (TTreeNode* node : TreeOrder())
            if (node->object_ && node->object_->SerialNumber() == serial) {
                found = node->object_.get();
                break;
            }
    SelectOverlay(found);
}

int TDicomTree::ObjectCount() const {
    const auto order = TreeOrder();
    return int(
        std::count_if(order.begin(), order.end(), [](const TTreeNode* n) { return bool(n->object_); }));
}

TDicomObject* TDicomTree::ObjectAt(int index) const {
    for (TTreeNode* node : TreeOrder())
        if (node->object_ && index-- == 0) return node->object_.get();
    return nullptr;
}

void TDicomTree::BeginOperation() {
    if (operationDepth_++ == 0) Tell([&](ITreeListener& l) { l.SelectionChanging(*this); });
}

void TDicomTree::EndOperation() {
    if (operationDepth_ > 0 && --operationDepth_ == 0) {
        changed_ = true;
        Tell([&](ITreeListener& l) { l.SelectionChanged(*this); });
    }
}

bool TDicomTree::TakeChanged() {
    return std::exchange(changed_, false);
}

void TDicomTree::Listen(TConfigNode& node) {
    node.AddListener(*this);
}

bool TDicomTree::TwinOverlay(const TDicomObject& object) const {
    return overlay_ && overlay_ != &object;
}

void TDicomTree::RunSeriesOperation(const std::string& title,
                                    const std::function<void(TDicomObject&)>& operation) {
    TDicomObject* object = SelectedObject();
    if (!object) return;
    Bracketed(&TDicomTree::BeginOperation, &TDicomTree::EndOperation, [&] {
        const TProgressRun run(title);
        operation(*object);
        if (OperationPause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(OperationPause));
        Tell([&](ITreeListener& l) { l.CubeChanged(*this); });
    });
}

void TDicomTree::RotateSelected(const std::string& axes, double degrees, bool twin) {
    TDicomObject* object = SelectedObject();
    if (!object) return;
    Bracketed(&TDicomTree::BeginOperation, &TDicomTree::EndOperation, [&] {
        object->Rotate(axes, degrees);
        if (twin && TwinOverlay(*object)) overlay_->Rotate(axes, degrees);
    });
}

void TDicomTree::NodeChanged(TConfigNode& node) {
    TDicomObject* object = SelectedObject();
    if (!object) return;
    const std::string path = node.Path();
    const TConfigNode* root = &node;
    while (root->Parent()) root = root->Parent();
    const TConfigNode* twinNode = root->FindNode("detail/twin");
    const bool twin = twinNode && twinNode->GetAsInteger() != 0 && TwinOverlay(*object);
    const auto cubeChanged = [this] { Tell([&](ITreeListener& l) { l.CubeChanged(*this); }); };

    const auto mirror = [&](void (*flip)(TPixelCube&)) {
        object->SaveOriginal();
        flip(object->Cube());
        if (twin) flip(overlay_->Cube());
        SelectNode(nullptr);
        SelectObject(object);
        cubeChanged();
    };
    if (path == "detail/series/xpose-near-far") {
        mirror(MirrorZ);
    } else if (path == "detail/series/xpose-top-bottom") {
        mirror(MirrorY);
    } else if (path == "detail/series/xpose-left-right") {
        mirror(MirrorX);
    } else if (path == "detail/series/filter") {
        const int number = node.GetAsInteger();
        RunSeriesOperation("Filter #" + std::to_string(number), [number](TDicomObject& o) {
            const auto kernel = SeriesFilterKernel();
            o.ApplyFilter(number, kernel);
        });
    } else if (path == "detail/series/upscale-x") {
        RunSeriesOperation("Upscaling X", [](TDicomObject& o) { o.UpscaleX(); });
    } else if (path == "detail/series/upscale-y") {
        RunSeriesOperation("Upscaling Y", [](TDicomObject& o) { o.UpscaleY(); });
    } else if (path == "detail/series/upscale-z") {
        RunSeriesOperation("Upscaling Z", [](TDicomObject& o) { o.UpscaleZ(); });
    } else if (path == "detail/series/upscale-u") {
        RunSeriesOperation("Upscaling", [](TDicomObject& o) { o.UpscaleAuto(); });
    } else if (path == "detail/series/revert") {
        object->Revert();
        if (twin) overlay_->Revert();
        cubeChanged();
    } else if (path == "detail/series/prev") {
        SelectPrevious();
    } else if (path == "detail/series/next") {
        SelectNext();
    } else if (path == "detail/overlay") {
        SelectOverlayBySerial(node.GetAsInteger());
        Tell([&](ITreeListener& l) { l.SelectionChanged(*this); });
    } else if (path == "detail/slice") {
        Tell([&](ITreeListener& l) { l.SelectionChanged(*this); });
    }
}

} // namespace tarvicon

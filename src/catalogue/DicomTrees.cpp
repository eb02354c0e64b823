#include "catalogue/DicomTrees.h"

#include "config/XmlDocs.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/Progress.h"
#include "util/Strings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
    if (node.Object) return &node;
    return node.Children.empty() ? nullptr : FirstWithObject(*node.Children.front());
}

void CollectOrder(TTreeNode& node, std::vector<TTreeNode*>& order) {
    for (auto& child : node.Children) {
        order.push_back(child.get());
        CollectOrder(*child, order);
    }
}

} // namespace

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
    for (const TTreeNode* p = Parent; p && p->Parent; p = p->Parent) ++level;
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

TDicomTree::~TDicomTree() {
    DropPending();
    readers_.reset();
    cache_.reset(); // waits for the fetch threads first
    overlay_ = nullptr;
    selected_ = nullptr;
}

void TDicomTree::Trace(const std::string& text) const {
    if (OnTrace) OnTrace(text);
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

void TDicomTree::Clear() {
    overlay_ = nullptr;
    if (selected_) SelectNode(nullptr);
    root_.Children.clear();
}

TTreeNode& TDicomTree::FindOrAdd(TTreeNode& parent, const std::string& keyNames, const std::string& key,
                                 const std::string& caption) {
    const std::string wanted = NormalKey(key);
    for (auto& child : parent.Children) {
        if (child->KeyCache.empty()) {
            const TTreeNode* holder = FirstWithObject(*child);
            if (!holder) continue;
            child->KeyCache = "=" + NormalKey(LevelKey(*holder->Object, keyNames));
        }
        if (std::string_view(child->KeyCache).substr(1) == wanted) return *child;
    }
    auto node = std::make_unique<TTreeNode>();
    node->KeyCache = "=" + wanted;
    node->Caption = caption;
    node->Parent = &parent;
    node->ImageIndex = parent.Parent ? parent.Level() + 3 : 2;
    parent.Children.push_back(std::move(node));
    return *parent.Children.back();
}

std::string TDicomTree::FileObject(std::unique_ptr<TDicomSingleImage> object,
                                   const std::optional<std::string>& readFailure) {
    Trace("Loading ");
    const bool failed = readFailure.has_value();
    const std::string failure = readFailure.value_or("");
    TTreeNode* imageNode = nullptr;
    std::string pathText;
    try {
        const TDicomObject& o = *object;
        TTreeNode& patient = FindOrAdd(root_, kPatientKey, LevelKey(o, kPatientKey),
                                       o.GetValue("Patient name") + " " + o.GetValue(kPatientKey));
        patient.Expanded = true;
        TTreeNode& study = FindOrAdd(patient, kStudyKey, LevelKey(o, kStudyKey), StudyCaption(o));
        study.Expanded = true;
        object->SetDescription(o.GetValue("0008.103E"));
        TTreeNode& series = FindOrAdd(study, kSeriesKey, LevelKey(o, kSeriesKey),
                                      o.Description() + " (" + o.GetValue("Modality") + ")");
        TTreeNode& image = FindOrAdd(series, kImageKey, LevelKey(o, kImageKey), ImageCaption(o));
        if (image.Object.get() == overlay_)
            overlay_ = nullptr; // a later file with the same number replaces it
        image.Object = std::move(object);
        imageNode = &image;
        pathText = std::string(
            Trim(patient.Caption + " / " + study.Caption + " / " + series.Caption + " / " + image.Caption));
    } catch (const std::exception&) {
        if (!failed) throw;
    }
    if (failed) {
        if (!imageNode) {
            auto node = std::make_unique<TTreeNode>();
            node->Caption = pathText;
            node->ImageIndex = kErrorPicture;
            node->Parent = &root_;
            node->Object = std::move(object);
            root_.Children.push_back(std::move(node));
            imageNode = root_.Children.back().get();
        }
        imageNode->Caption = std::string(Trim(imageNode->Caption + " Error: " + failure));
        RaiseError(failure);
    }
    return pathText;
}

void TDicomTree::StopRun(bool clearTree, const std::string& lastFailure) {
    DropPending();
    cache_->Clear();
    loading_ = false;
    EndProgress();
    if (clearTree) Clear();
    if (!lastFailure.empty()) {
        const std::string message = "Too many errors:\r\n" + lastFailure;
        if (OnError)
            OnError(message);
        else
            Host().Notice(message);
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
                StartProgress(cache_->HasKey() ? "Loading and decrypting DICOM files"
                                               : "Loading DICOM files");
            }
            bytesLoaded_ += taken->Text.size();
            std::string rate;
            if (t0 != loadStart_) {
                char number[64];
                std::snprintf(number, sizeof number, "%.1f",
                              double(bytesLoaded_) / 1024 / double(t0 - loadStart_));
                rate = std::string(number) + " MB/sec";
            }
            if (cache_->MaxActive() > 1)
                rate += "   (\xC2\xA4" + std::to_string(cache_->ActiveCount() + 1) + ")";
            auto object = std::make_unique<TDicomSingleImage>();
            object->SetOnGetTradeOff(OnGetTradeOff);
            TDicomSingleImage* reading = object.get();
            auto read = Readers().Submit(
                [reading, bytes = std::move(taken->Text)]() mutable -> std::optional<std::string> {
                    try {
                        reading->LoadFromString(std::move(bytes));
                        return std::nullopt;
                    } catch (const std::exception& error) {
                        return std::string(error.what());
                    }
                });
            pending_.push_back({taken->Index, std::move(rate), std::move(object), std::move(read)});
        }
        if (pending_.empty()) {
            noneReady = true;
            break;
        }
        TPendingFile next = std::move(pending_.front());
        pending_.pop_front();
        const std::optional<std::string> readFailure = next.Read.get();
        std::string pathText;
        try {
            pathText = FileObject(std::move(next.Object), readFailure);
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
    if (noneReady && loading_ && cache_->Settled()) {
        loading_ = false;
        UpdateProgress(0, 1, "", std::string("Squeezing image data"), std::nullopt);
        struct TFinish {
            TDicomTree& tree;
            ~TFinish() {
                tree.cache_->Clear();
                if (!tree.SelectedObject()) tree.SelectNext();
                EndProgress();
                if (tree.OnLoaded) tree.OnLoaded();
            }
        } finish{*this};
        Squeeze();
    }
    return true;
}

void TDicomTree::Squeeze() {
    Trace("Squeezing");
    loadedCount_ = 0;
    if (SqueezeChildren(root_)) SortCaptions(root_);
}

// False when the user cancelled.
bool TDicomTree::SqueezeChildren(TTreeNode& parent) {
    auto& children = parent.Children;
    if (children.empty()) return true;
    const bool allHold =
        std::all_of(children.begin(), children.end(), [](const auto& c) { return bool(c->Object); });
    if (!allHold) {
        for (auto& child : children)
            if (!SqueezeChildren(*child)) return false;
        return true;
    }
    const auto single = [](const TTreeNode& node) {
        return dynamic_cast<TDicomSingleImage*>(node.Object.get());
    };
    bool same = true;
    for (const auto& child : children) {
        const TDicomSingleImage* image = single(*child);
        const TDicomSingleImage* first = single(*children.front());
        if (!image || !image->HasPixelFormat() || !first || !first->HasPixelFormat() ||
            image->File()->Width() != first->File()->Width() ||
            image->File()->Height() != first->File()->Height() ||
            image->File()->PixelFormat() != first->File()->PixelFormat()) {
            same = false;
            break;
        }
    }
    const auto report = [&](const TDicomObject& object) {
        if (!UpdateProgress(loadedCount_, cache_->Count(), object.Description())) {
            cache_->Clear();
            return false;
        }
        return true;
    };
    if (!same) {
        for (auto& child : children) {
            if (!report(*child->Object)) return false;
            ++loadedCount_;
            child->Object->BuildCube();
        }
        return true;
    }

    auto array = std::make_unique<TDicomArrayImage>();
    array->SetOnGetTradeOff(OnGetTradeOff);
    for (auto& child : children) {
        if (!report(*child->Object)) return false;
        TDicomSingleImage& image = *single(*child);
        array->SetDescription(image.Description());
        array->AddFile(image.TakeFile());
        ForgetObjects(*child);
        child->Object.reset();
        ++loadedCount_;
    }
    for (auto& child : children) ForgetObjects(*child);
    children.clear();
    const std::string modality = array->GetValue("Modality");
    const int count = array->ImageCount();
    std::string caption(Trim(parent.Caption.substr(0, parent.Caption.find('('))));
    parent.Caption = caption + " (" + modality + (count != 1 ? "[" + std::to_string(count) + "]" : "") + ")";
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
    parent.Object = std::move(array);
    return true;
}

void TDicomTree::SortCaptions(TTreeNode& parent) {
    const auto compare = [this](const std::unique_ptr<TTreeNode>& a, const std::unique_ptr<TTreeNode>& b) {
        return CompareCaptions ? CompareCaptions(a->Caption, b->Caption) < 0 : a->Caption < b->Caption;
    };
    std::stable_sort(parent.Children.begin(), parent.Children.end(), compare);
    for (auto& child : parent.Children) SortCaptions(*child);
}

void TDicomTree::ForgetObjects(const TTreeNode& node) {
    if (selected_ == &node) selected_ = nullptr;
    if (node.Object && node.Object.get() == overlay_) overlay_ = nullptr;
    for (const auto& child : node.Children) ForgetObjects(*child);
}

std::vector<TTreeNode*> TDicomTree::TreeOrder() const {
    std::vector<TTreeNode*> order;
    CollectOrder(const_cast<TTreeNode&>(root_), order);
    return order;
}

void TDicomTree::SelectNode(TTreeNode* node) {
    if (node == selected_) return;
    if (OnChanging) OnChanging();
    selected_ = node;
    if (OnChange) OnChange();
}

TDicomObject* TDicomTree::SelectedObject() const {
    if (!selected_) return nullptr;
    const auto order = TreeOrder();
    for (auto it = std::find(order.begin(), order.end(), selected_); it != order.end(); ++it)
        if ((*it)->Object) return (*it)->Object.get();
    return nullptr;
}

TTreeNode* TDicomTree::NodeOf(const TDicomObject* object) const {
    if (!object) return nullptr;
    for (TTreeNode* node : TreeOrder())
        if (node->Object.get() == object) return node;
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
        if ((*it)->Object) {
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
        if ((*it)->Object) {
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
            if (node->Object && node->Object->SerialNumber() == serial) {
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
    if (TTreeNode* old = NodeOf(overlay_)) old->OverlayIndex = -1;
    overlay_ = object;
    if (TTreeNode* node = NodeOf(object)) node->OverlayIndex = kOverlayPicture;
    if (OnChange) OnChange();
}

void TDicomTree::SelectOverlayBySerial(std::int32_t serial) {
    TDicomObject* found = nullptr;
    if (serial >= 0)
        for (TTreeNode* node : TreeOrder())
            if (node->Object && node->Object->SerialNumber() == serial) {
                found = node->Object.get();
                break;
            }
    SelectOverlay(found);
}

int TDicomTree::ObjectCount() const {
    const auto order = TreeOrder();
    return int(std::count_if(order.begin(), order.end(), [](const TTreeNode* n) { return bool(n->Object); }));
}

TDicomObject* TDicomTree::ObjectAt(int index) const {
    for (TTreeNode* node : TreeOrder())
        if (node->Object && index-- == 0) return node->Object.get();
    return nullptr;
}

void TDicomTree::BeginOperation() {
    if (operationDepth_++ == 0 && OnChanging) OnChanging();
}

void TDicomTree::EndOperation() {
    if (operationDepth_ > 0 && --operationDepth_ == 0) {
        changed_ = true;
        if (OnChange) OnChange();
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
    BeginOperation();
    struct TEnd {
        TDicomTree& tree;
        ~TEnd() { tree.EndOperation(); }
    } end{*this};
    const TProgressRun run(title);
    operation(*object);
    if (OperationPause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(OperationPause));
    if (OnCubeChanged) OnCubeChanged();
}

void TDicomTree::NodeChanged(TConfigNode& node) {
    TDicomObject* object = SelectedObject();
    if (!object) return;
    const std::string path = node.Path();
    const TConfigNode* root = &node;
    while (root->Parent()) root = root->Parent();
    const TConfigNode* twinNode = root->FindNode("detail/twin");
    const bool twin = twinNode && twinNode->GetAsInteger() != 0 && TwinOverlay(*object);

    const auto mirror = [&](void (*flip)(TPixelCube&)) {
        object->SaveOriginal();
        flip(object->Cube());
        if (twin) flip(overlay_->Cube());
        SelectNode(nullptr);
        SelectObject(object);
        if (OnCubeChanged) OnCubeChanged();
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
        if (OnCubeChanged) OnCubeChanged();
    } else if (path == "detail/series/prev") {
        SelectPrevious();
    } else if (path == "detail/series/next") {
        SelectNext();
    } else if (path == "detail/overlay") {
        SelectOverlayBySerial(node.GetAsInteger());
        if (OnChange) OnChange();
    } else if (path == "detail/slice") {
        if (OnChange) OnChange();
    }
}

} // namespace tarvicon

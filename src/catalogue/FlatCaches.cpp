#include "catalogue/FlatCaches.h"

#include "catalogue/Protection.h"
#include "dicom/WebStreams.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Strings.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tarvicon {

namespace {

// Text is the reference, the failure or empty; a fetched file's bytes are in Bytes.
struct TEntry {
    std::string Text;
    TEntryState State = TEntryState::Queued;
    TByteBuffer Bytes;

    std::size_t Size() const { return Text.size() + Bytes.size(); }
};

bool InSet(TEntryState state, std::initializer_list<TEntryState> states) {
    return std::find(states.begin(), states.end(), state) != states.end();
}

} // namespace

struct TFlatCache::TShared {
    mutable std::mutex Lock;
    std::condition_variable ThreadEnded; // signalled whenever ThreadCount drops
    std::condition_variable Room;        // signalled whenever WaitingBytes drops or the cache goes
    // Bytes of fetched and failed entries the tree has not taken yet. The threads stop fetching
    // ahead while this is above kMaxWaitingBytes, so a slow reader never holds a whole study
    // twice over.
    std::size_t WaitingBytes = 0;
    std::vector<TEntry> Entries;
    int MaxThreads = kMaxThreads;
    int ThreadCount = 0;
    int ActiveCount = 0;
    int MaxActive = 0;
    std::string Key;
    std::string KeyDigest = std::string(16, '\0');
    TWebLogin WebLogin;
    // Counts the Clear calls: a fetch whose generation is gone belongs to a removed queue.
    std::uint64_t Generation = 0;
    // Every entry before FirstLive is consumed and none before FirstQueued is queued: the looks
    // for the next entry start there rather than at the front of a queue of thousands of files.
    std::size_t FirstLive = 0;
    std::size_t FirstQueued = 0;

    static constexpr std::size_t kMaxWaitingBytes = std::size_t(64) << 20;

    static bool Waiting(TEntryState state) {
        return state == TEntryState::Fetched || state == TEntryState::Failed;
    }
    // The entry leaves the fetched or failed state: its bytes no longer wait.
    void Release(const TEntry& entry) {
        if (!Waiting(entry.State)) return;
        WaitingBytes -= std::min(WaitingBytes, entry.Size());
        Room.notify_all();
    }

    // The first entry that is not consumed (or the end).
    std::size_t LiveFrom() {
        while (FirstLive < Entries.size() && Entries[FirstLive].State == TEntryState::Consumed) ++FirstLive;
        return FirstLive;
    }
    // Where a look for entries in one of `states` starts.
    std::size_t SearchFrom(std::initializer_list<TEntryState> states) {
        return InSet(TEntryState::Consumed, states) ? 0 : LiveFrom();
    }
    // The entries are gone from `count` on.
    void Shortened(std::size_t count) {
        FirstLive = std::min(FirstLive, count);
        FirstQueued = std::min(FirstQueued, count);
    }

    void CheckIndex(int index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= Entries.size()) RaiseRangeError();
    }
};

namespace {

// Runs a fetch; its failure's message, or nothing when it succeeded.
template <typename Fetch>
std::optional<std::string> FailureOf(const Fetch& fetch) {
    try {
        fetch();
        return std::nullopt;
    } catch (const std::exception& error) {
        return std::string(error.what());
    } catch (...) {
        return std::string("Unknown error");
    }
}

// The bytes a fetch gives, unscrambled while a key is set.
TByteBuffer Unscrambled(TByteBuffer&& bytes, const std::string& key, const std::string& keyDigest) {
    if (key.empty()) return std::move(bytes);
    std::string content = ChainUnscramble(std::string(bytes.view()), keyDigest);
    const std::size_t size = content.size();
    return TByteBuffer::Adopt(std::move(content), 0, size);
}

// Retrieves a series in one answer for the queued entries that name it (`claimed`, in order, all
// fetching): the n-th file goes to the n-th entry as soon as it is whole, files beyond them to new
// entries; entries left over take the failure, or nothing when the series held fewer files.
void StreamSeries(TFlatCache::TShared& shared, const std::string& reference,
                  const std::vector<std::size_t>& claimed, const std::string& key,
                  const std::string& keyDigest, const TWebLogin& login, std::uint64_t generation) {
    std::size_t parts = 0;
    const std::optional<std::string> failure = FailureOf([&] {
        RetrieveSeries(reference, login, [&](TByteBuffer&& file) {
            TByteBuffer bytes = Unscrambled(std::move(file), key, keyDigest);
            std::unique_lock lock(shared.Lock);
            if (generation != shared.Generation) return false; // cleared: the answer is not wanted
            const std::size_t part = parts++;
            TEntry* entry = nullptr;
            if (part >= claimed.size()) {
                shared.Entries.push_back({{}, TEntryState::Fetched, {}});
                entry = &shared.Entries.back();
            } else if (claimed[part] < shared.Entries.size()) {
                TEntry& mine = shared.Entries[claimed[part]];
                if (mine.State == TEntryState::Fetching && mine.Text == reference) entry = &mine;
            }
            if (entry) {
                entry->Text.clear();
                entry->Bytes = std::move(bytes);
                entry->State = TEntryState::Fetched;
                shared.WaitingBytes += entry->Size();
            }
            // One answer cannot be fetched ahead of the tree any further than separate files.
            shared.Room.wait(lock, [&] {
                return shared.WaitingBytes < TFlatCache::TShared::kMaxWaitingBytes ||
                       shared.MaxThreads == 0 || generation != shared.Generation;
            });
            return generation == shared.Generation && shared.MaxThreads != 0;
        });
    });
    std::lock_guard lock(shared.Lock);
    if (generation != shared.Generation) return;
    --shared.ActiveCount;
    for (std::size_t part = parts; part < claimed.size(); ++part) {
        if (claimed[part] >= shared.Entries.size()) continue;
        TEntry& entry = shared.Entries[claimed[part]];
        if (entry.State != TEntryState::Fetching || entry.Text != reference) continue;
        entry.Text = failure.value_or(std::string());
        entry.State = failure ? TEntryState::Failed : TEntryState::Consumed;
        if (failure) shared.WaitingBytes += entry.Size();
    }
}

// One fetch thread: takes queued entries until none is left.
void FetchLoop(std::shared_ptr<TFlatCache::TShared> shared) {
    for (;;) {
        std::size_t index = 0;
        std::string reference, key, keyDigest;
        TWebLogin login;
        std::uint64_t generation = 0;
        std::vector<std::size_t> claimed; // the entries of a series retrieved in one answer
        {
            std::unique_lock lock(shared->Lock);
            shared->Room.wait(lock, [&] {
                return shared->WaitingBytes < TFlatCache::TShared::kMaxWaitingBytes ||
                       shared->MaxThreads == 0;
            });
            const auto found = std::find_if(shared->Entries.begin() + std::ptrdiff_t(shared->FirstQueued),
                                            shared->Entries.end(),
                                            [](const TEntry& e) { return e.State == TEntryState::Queued; });
            shared->FirstQueued = std::size_t(found - shared->Entries.begin());
            if (found == shared->Entries.end()) {
                // Leaving in the same locked step as finding nothing: an Add that comes after
                // this sees the lower ThreadCount and starts a thread of its own.
                --shared->ThreadCount;
                shared->ThreadEnded.notify_all();
                return;
            }
            index = static_cast<std::size_t>(found - shared->Entries.begin());
            reference = found->Text;
            found->State = TEntryState::Fetching;
            if (IsDicomWebSeriesReference(reference)) {
                for (std::size_t i = index; i < shared->Entries.size(); ++i) {
                    TEntry& entry = shared->Entries[i];
                    if (i == index || (entry.State == TEntryState::Queued && entry.Text == reference)) {
                        entry.State = TEntryState::Fetching;
                        claimed.push_back(i);
                    }
                }
            }
            key = shared->Key;
            keyDigest = shared->KeyDigest;
            login = shared->WebLogin;
            generation = shared->Generation;
            ++shared->ActiveCount;
            shared->MaxActive = std::max(shared->MaxActive, shared->ActiveCount);
        }
        if (!claimed.empty()) {
            StreamSeries(*shared, reference, claimed, key, keyDigest, login, generation);
            continue;
        }

        TByteBuffer bytes;
        std::optional<std::string> failure =
            FailureOf([&] { bytes = FetchReference(reference, key, keyDigest, login); });

        {
            std::lock_guard lock(shared->Lock);
            // A Clear meanwhile has removed the entry (and zeroed ActiveCount): drop the result.
            if (generation == shared->Generation) {
                --shared->ActiveCount;
                if (index < shared->Entries.size()) {
                    TEntry& entry = shared->Entries[index];
                    if (entry.State == TEntryState::Fetching && entry.Text == reference) {
                        entry.State = failure ? TEntryState::Failed : TEntryState::Fetched;
                        entry.Text = std::move(failure).value_or(std::string());
                        entry.Bytes = std::move(bytes);
                        shared->WaitingBytes += entry.Size();
                    }
                }
            }
        }
        // No pause between entries: the tree takes results in its own time slices, and a pause
        // would only put a floor of 10 ms per file and thread under every load.
    }
}

} // namespace

TByteBuffer FetchReference(const std::string& reference, const std::string& key, const std::string& keyDigest,
                           const TWebLogin& login) {
    std::string content;
    if (IsDicomWebAddress(reference))
        return Unscrambled(RetrieveInstance(reference, login), key, keyDigest);
    else if (StartsWithNoCase(reference, "CRYPTED:"))
        content = ReadWholeFile(ProtectedFileName(std::string_view(reference).substr(8), key));
    else if (IsHttpAddress(reference)) {
        TWebStream stream(reference);
        content.assign(stream.Text());
    } else if (key.empty())
        return ReadFileBytes(reference);
    else
        content = ReadWholeFile(reference);
    if (!key.empty()) content = ChainUnscramble(content, keyDigest);
    const std::size_t size = content.size();
    return TByteBuffer::Adopt(std::move(content), 0, size);
}

TFlatCache::TFlatCache() : shared_(std::make_shared<TShared>()) {}

TFlatCache::~TFlatCache() {
    std::unique_lock lock(shared_->Lock);
    shared_->Entries.clear();
    shared_->Shortened(0);
    ++shared_->Generation;
    shared_->ActiveCount = 0;
    shared_->MaxActive = 0;
    shared_->MaxThreads = 0;
    shared_->WaitingBytes = 0;
    shared_->Room.notify_all();
    shared_->ThreadEnded.wait_for(lock, destroyWait_, [&] { return shared_->ThreadCount == 0; });
    // Threads still alive keep the shared state; they find no entry and end.
}

void TFlatCache::StartThreadIfNeeded() {
    {
        std::lock_guard lock(shared_->Lock);
        if (shared_->ThreadCount >= shared_->MaxThreads) return;
        ++shared_->ThreadCount;
    }
    try {
        std::thread(FetchLoop, shared_).detach();
    } catch (const std::system_error& error) {
        std::lock_guard lock(shared_->Lock);
        --shared_->ThreadCount;
        shared_->ThreadEnded.notify_all();
        // Other threads take the entry; without any, the entry would wait for ever.
        if (shared_->ThreadCount == 0) RaiseError(error.what());
    }
}

int TFlatCache::Add(const std::string& reference, int times) {
    int index;
    {
        std::lock_guard lock(shared_->Lock);
        const std::size_t count = static_cast<std::size_t>(std::max(times, 1));
        if (shared_->Entries.size() + count > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            RaiseRangeError();
        for (std::size_t i = 0; i < count; ++i)
            shared_->Entries.push_back({reference, TEntryState::Queued, {}});
        index = static_cast<int>(shared_->Entries.size() - 1);
    }
    StartThreadIfNeeded();
    return index;
}

void TFlatCache::Clear() {
    std::lock_guard lock(shared_->Lock);
    shared_->Entries.clear();
    shared_->Shortened(0);
    ++shared_->Generation;
    shared_->MaxActive = 0;
    shared_->ActiveCount = 0;
    shared_->WaitingBytes = 0;
    shared_->Room.notify_all();
}

void TFlatCache::Truncate(int count) {
    std::lock_guard lock(shared_->Lock);
    auto& entries = shared_->Entries;
    const auto keep = static_cast<std::size_t>(std::max(count, 0));
    if (keep >= entries.size()) return;
    for (std::size_t i = keep; i < entries.size(); ++i) shared_->Release(entries[i]);
    // A fetch of a removed entry finds its index gone (or another reference there) and drops
    // its result; it still counts as active until it ends, as it is.
    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(keep), entries.end());
    shared_->Shortened(keep);
}

int TFlatCache::FindFirst(std::initializer_list<TEntryState> states) const {
    std::lock_guard lock(shared_->Lock);
    for (std::size_t i = shared_->SearchFrom(states); i < shared_->Entries.size(); ++i)
        if (InSet(shared_->Entries[i].State, states)) return static_cast<int>(i);
    return -1;
}

int TFlatCache::Count() const {
    std::lock_guard lock(shared_->Lock);
    return static_cast<int>(shared_->Entries.size());
}

std::string TFlatCache::Text(int index) const {
    std::lock_guard lock(shared_->Lock);
    shared_->CheckIndex(index);
    const TEntry& entry = shared_->Entries[static_cast<std::size_t>(index)];
    return entry.Bytes.empty() ? entry.Text : std::string(entry.Bytes.view());
}

TEntryState TFlatCache::State(int index) const {
    std::lock_guard lock(shared_->Lock);
    shared_->CheckIndex(index);
    return shared_->Entries[static_cast<std::size_t>(index)].State;
}

void TFlatCache::SetState(int index, TEntryState state) {
    {
        std::lock_guard lock(shared_->Lock);
        shared_->CheckIndex(index);
        TEntry& entry = shared_->Entries[static_cast<std::size_t>(index)];
        if (TShared::Waiting(state) && !TShared::Waiting(entry.State)) shared_->WaitingBytes += entry.Size();
        if (!TShared::Waiting(state)) shared_->Release(entry);
        entry.State = state;
        const auto at = static_cast<std::size_t>(index);
        if (state != TEntryState::Consumed) shared_->FirstLive = std::min(shared_->FirstLive, at);
        if (state == TEntryState::Queued) shared_->FirstQueued = std::min(shared_->FirstQueued, at);
    }
    if (state == TEntryState::Queued) StartThreadIfNeeded();
}

void TFlatCache::MarkConsumed(int index) {
    std::lock_guard lock(shared_->Lock);
    shared_->CheckIndex(index);
    TEntry& entry = shared_->Entries[static_cast<std::size_t>(index)];
    shared_->Release(entry);
    std::string().swap(entry.Text); // releases the bytes
    entry.Bytes = TByteBuffer();
    entry.State = TEntryState::Consumed;
}

std::optional<TTakenEntry> TFlatCache::TakeFirst(std::initializer_list<TEntryState> states) {
    std::lock_guard lock(shared_->Lock);
    for (std::size_t i = shared_->SearchFrom(states); i < shared_->Entries.size(); ++i) {
        TEntry& entry = shared_->Entries[i];
        if (!InSet(entry.State, states)) continue;
        shared_->Release(entry);
        TTakenEntry taken{static_cast<int>(i), entry.State, std::move(entry.Text), std::move(entry.Bytes)};
        std::string().swap(entry.Text);
        entry.State = TEntryState::Consumed;
        return taken;
    }
    return std::nullopt;
}

void TFlatCache::SetKey(const std::string& key) {
    std::string digest = DigestKey(key); // outside the lock
    std::lock_guard lock(shared_->Lock);
    if (key == shared_->Key) return;
    shared_->Key = key;
    shared_->KeyDigest = std::move(digest);
}

std::string TFlatCache::Key() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->Key;
}

bool TFlatCache::HasKey() const {
    std::lock_guard lock(shared_->Lock);
    return !shared_->Key.empty();
}

std::string TFlatCache::KeyDigest() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->KeyDigest;
}

void TFlatCache::SetWebLogin(const TWebLogin& login) {
    std::lock_guard lock(shared_->Lock);
    shared_->WebLogin = login;
}

int TFlatCache::ThreadCount() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->ThreadCount;
}

int TFlatCache::ActiveCount() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->ActiveCount;
}

int TFlatCache::MaxActive() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->MaxActive;
}

bool TFlatCache::Settled() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->ThreadCount == 0 &&
           std::all_of(shared_->Entries.begin() + std::ptrdiff_t(shared_->LiveFrom()), shared_->Entries.end(),
                       [](const TEntry& e) { return e.State == TEntryState::Consumed; });
}

int TFlatCache::MaxThreads() const {
    std::lock_guard lock(shared_->Lock);
    return shared_->MaxThreads;
}

} // namespace tarvicon

#pragma once
// TFlatCache: the study tree's download queue with its background fetch threads.
//
// The tree appends references: local paths, "http://" addresses (any letter case, fetched with
// TWebStream), "dicomweb:" instance addresses (retrieved from a DICOMweb server with the cache's
// web login) and "CRYPTED:" + r (any letter case: the protected file of r). Up to
// MaxThreads fetch threads read the referenced bytes, unscramble them with the key's digest while
// a key is set, and store them back in the entry; the tree takes finished entries on its own
// thread. The cache never parses DICOM.
//
// Threads and lifetime. The entries, the key and the counters live in one shared state object
// held by the cache and by every fetch thread; every access to it takes its one mutex, and the
// fetch itself (file or network input, unscrambling) runs outside the mutex. A thread starts in
// Add when fewer than MaxThreads are alive and ends, detached, when it finds no queued entry.
// Destroying the cache clears the queue and waits at most DestroyWait (10 s) for the threads;
// a thread that is still fetching after that only touches the shared state, which it keeps
// alive, and its result is dropped.
//
// Every operation below locks by itself, so each one is atomic; none blocks on a fetch. An index
// outside 0 .. Count() - 1 raises a range error (WRangeError).

#include "dicom/DicomWeb.h"
#include "util/Bytes.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

namespace tarvicon {

// The state byte of a queue entry and what the entry's text holds in it.
enum class TEntryState : std::uint8_t {
    Queued = 0,   // the reference, waiting for a thread
    Fetching = 1, // the reference, a thread is fetching it
    Failed = 2,   // the failure's message (the open error, the HTTP client's message, ...)
    Fetched = 3,  // the file's bytes, unscrambled when a key was set
    Consumed = 4, // empty: the tree has taken the entry
};

// What TakeFirst hands out: the entry's index, its state before it was consumed, and its text:
// a fetched file's bytes in Bytes (Text empty), any other text in Text (Bytes empty).
struct TTakenEntry {
    int Index = -1;
    TEntryState State = TEntryState::Consumed;
    std::string Text;
    TByteBuffer Bytes;
};

class TFlatCache {
public:
    // The most fetch threads alive at a time.
    static constexpr int kMaxThreads = 8;

    // An empty queue, MaxThreads 8, no key.
    TFlatCache();
    // Clear; MaxThreads := 0; waits while threads are alive, at most DestroyWait.
    ~TFlatCache();
    TFlatCache(const TFlatCache&) = delete;
    TFlatCache& operator=(const TFlatCache&) = delete;

    // Appends the reference in state queued `times` times (at least once) in one step and
    // returns the last index; starts one more fetch thread when fewer than MaxThreads are alive.
    // A "dicomweb:" series reference stands for one instance of the series each time: one thread
    // retrieves the series in one answer for all its queued entries (RetrieveSeries), each file
    // filling the next of them as it arrives; files beyond them become entries of their own, and
    // entries left over take the failure (or are consumed when the series held fewer files).
    int Add(const std::string& reference, int times = 1);

    // Removes every entry whatever its state; MaxActive and ActiveCount := 0. Fetches still
    // running belong to the old queue: their results are dropped and they no longer count as
    // active.
    void Clear();

    // Removes the entries from index `count` on, whatever their state (nothing when there are no
    // more): a listing that fails half-way takes back what it queued. Fetches of removed entries
    // still running are dropped when they end.
    void Truncate(int count);

    // The first index whose state is in the set, or -1.
    int FindFirst(std::initializer_list<TEntryState> states) const;

    // Number of entries (all states, consumed ones included).
    int Count() const;

    // The entry's text (a copy; a fetched file's bytes) and state.
    std::string Text(int index) const;
    TEntryState State(int index) const;

    // Sets the entry's state; setting queued starts a fetch thread when one is missing.
    void SetState(int index, TEntryState state);

    // Text := empty, state := consumed.
    void MarkConsumed(int index);

    // The study tree's step in one locked operation: finds the first entry whose state is in
    // the set, moves its text out, marks it consumed and returns it; nothing when none is found.
    std::optional<TTakenEntry> TakeFirst(std::initializer_list<TEntryState> states);

    // If the key differs from Key: Key := key, KeyDigest := MD5 digest of it. An empty key
    // switches unscrambling off. The key applies to every entry a thread picks up afterwards.
    void SetKey(const std::string& key);
    std::string Key() const;
    bool HasKey() const;
    // The 16 raw bytes of MD5(Key) (16 zero bytes before the first key is set).
    std::string KeyDigest() const;

    // The login of the "dicomweb:" references that threads pick up afterwards.
    void SetWebLogin(const TWebLogin& login);

    // Fetch threads now alive, fetches of the current queue now running, and the largest
    // ActiveCount seen since the last Clear.
    int ThreadCount() const;
    int ActiveCount() const;
    int MaxActive() const;
    // In one locked step: no fetch thread is alive and no entry waits, is being fetched or is
    // ready (every entry is consumed, or there is none). The study tree's end-of-run test: reading
    // "nothing ready" and "ThreadCount is 0" in two steps could miss a result that a last thread
    // stores between them, and the squeeze and the Clear after it would lose that file.
    bool Settled() const;

    // 8, or 0 once the cache is being destroyed.
    int MaxThreads() const;

    // How long the destructor waits for threads (10 s); tests may shorten it.
    void SetDestroyWait(std::chrono::milliseconds wait) { destroyWait_ = wait; }

    struct TShared; // the state shared with the fetch threads (FlatCaches.cpp)

private:
    void StartThreadIfNeeded();

    std::shared_ptr<TShared> shared_;
    std::chrono::milliseconds destroyWait_{10000};
};

// Fetches one reference as a fetch thread does, on the calling thread: "CRYPTED:" + r reads
// ProtectedFileName(r, key), "http://" a TWebStream, "dicomweb:" the instance retrieved with
// the login (RetrieveInstance), anything else the local file (into a buffer whose pixels can
// later move into a volume without a copy, see ReadFileBytes);
// then, when key is not empty, the bytes are unscrambled with keyDigest. Raises the failure:
// "Cannot open file "PATH". REASON", "Cannot read file "PATH". REASON", or the HTTP client's
// message or the DICOMweb client's.
TByteBuffer FetchReference(const std::string& reference, const std::string& key, const std::string& keyDigest,
                           const TWebLogin& login = {});

} // namespace tarvicon

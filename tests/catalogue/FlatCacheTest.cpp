// The decoded-file cache and its fetch threads: local files, HTTP from a server in this process
// on 127.0.0.1, protected "CRYPTED:" references, Clear during fetches, thread counts, lifetime.

#include "catalogue/FlatCaches.h"
#include "catalogue/Protection.h"
#include "dicom/Dicoms.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarvicon {
namespace {

using namespace std::chrono_literals;

// Polls the condition every 5 ms for up to 30 s (sanitizer builds are slow).
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Waits until no entry is queued or being fetched and every fetch thread has ended.
bool WaitIdle(const TFlatCache& cache) {
    return WaitUntil([&] {
        return cache.FindFirst({TEntryState::Queued, TEntryState::Fetching}) == -1 &&
               cache.ThreadCount() == 0;
    });
}

using test::TScopedEnv;

// A small HTTP/1.1 server on 127.0.0.1 and an ephemeral port the kernel picks (no race over a
// free port). One thread per connection; while holding, requests wait until released, so a
// test can keep fetches running as long as it needs. Paths it does not serve get a 404;
// "/counter" answers "response N" with the request's sequence number.
class TTestHttpServer {
public:
    TTestHttpServer() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 64) != 0)
            throw std::runtime_error("test server: cannot listen");
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }

    ~TTestHttpServer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        acceptor_.join();
        close(listener_);
        std::vector<std::thread> handlers;
        {
            std::lock_guard lock(mutex_);
            handlers.swap(handlers_);
        }
        for (auto& handler : handlers) handler.join();
    }

    std::string Url(const std::string& name, const std::string& scheme = "http://") const {
        return scheme + "127.0.0.1:" + std::to_string(port_) + "/" + name;
    }
    void Serve(const std::string& name, std::string body) {
        std::lock_guard lock(mutex_);
        bodies_["/" + name] = std::move(body);
    }
    // From now on requests wait until released.
    void Hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    // Lets the requests with sequence numbers up to n go (numbers count from 1).
    void Release(int n) {
        {
            std::lock_guard lock(mutex_);
            releasedUpTo_ = n;
        }
        changed_.notify_all();
    }
    // Lets every request go and stops holding.
    void ReleaseAll() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
        }
        changed_.notify_all();
    }
    int InFlight() const {
        std::lock_guard lock(mutex_);
        return inFlight_;
    }
    int Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    int Answered() const {
        std::lock_guard lock(mutex_);
        return answered_;
    }

private:
    void AcceptLoop() {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
            }
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0) continue;
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) continue;
            std::lock_guard lock(mutex_);
            handlers_.emplace_back([this, connection] { Handle(connection); });
        }
    }

    void Handle(int connection) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        std::string response;
        {
            std::unique_lock lock(mutex_);
            const int sequence = ++requests_;
            ++inFlight_;
            changed_.wait(lock, [&] { return !holding_ || sequence <= releasedUpTo_ || stopping_; });
            std::optional<std::string> body;
            if (path == "/counter")
                body = "response " + std::to_string(sequence);
            else if (const auto found = bodies_.find(path); found != bodies_.end())
                body = found->second;
            if (body)
                response = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(body->size()) + "\r\nConnection: close\r\n\r\n" + *body;
            else
                response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }
        for (std::size_t sent = 0; sent < response.size();) {
            const ssize_t n = send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        shutdown(connection, SHUT_WR);
        while (recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
        close(connection);
        std::lock_guard lock(mutex_);
        --inFlight_;
        ++answered_;
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> handlers_;
    std::map<std::string, std::string> bodies_;
    bool stopping_ = false;
    bool holding_ = false;
    int releasedUpTo_ = 0;
    int requests_ = 0;
    int inFlight_ = 0;
    int answered_ = 0;
};

class FlatCache : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(proxy);
    }
    std::string File(const std::string& name, std::string_view content) {
        const auto path = temp_.Path() / name;
        test::WriteFile(path, content);
        return path.string();
    }
    test::TTempDir temp_;
};

std::string Binary(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 253) & 0xFF);
    return bytes;
}

// A small DICOM file that the reader accepts.
std::string DicomBytes(const std::string& patient) {
    test::TDicomWriter w;
    w.Preamble()
        .Meta("1.2.840.10008.1.2.1")
        .Explicit(0x0010, 0x0010, "PN", "Doe^John")
        .Explicit(0x0010, 0x0020, "LO", patient);
    return w.Bytes();
}

TEST_F(FlatCache, StartsEmpty) {
    TFlatCache cache;
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.MaxThreads(), 8);
    EXPECT_EQ(cache.ThreadCount(), 0);
    EXPECT_EQ(cache.ActiveCount(), 0);
    EXPECT_EQ(cache.MaxActive(), 0);
    EXPECT_FALSE(cache.HasKey());
    EXPECT_EQ(cache.KeyDigest(), std::string(16, '\0'));
    EXPECT_EQ(cache.FindFirst({TEntryState::Failed, TEntryState::Fetched}), -1);
    EXPECT_FALSE(cache.TakeFirst({TEntryState::Failed, TEntryState::Fetched}));
    EXPECT_TRUE(cache.Settled());
}

TEST_F(FlatCache, SettledOnlyWhenEveryEntryIsConsumedAndNoThreadLives) {
    TTestHttpServer server;
    server.Serve("a", "a");
    server.Hold();
    TFlatCache cache;
    cache.Add(server.Url("a"));
    cache.Add(server.Url("a"));
    EXPECT_FALSE(cache.Settled());
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 2; }));
    EXPECT_FALSE(cache.Settled());
    server.ReleaseAll();
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_FALSE(cache.Settled()); // two fetched entries wait for the tree
    ASSERT_TRUE(cache.TakeFirst({TEntryState::Failed, TEntryState::Fetched}));
    EXPECT_FALSE(cache.Settled());
    cache.MarkConsumed(1);
    EXPECT_TRUE(cache.Settled());
    cache.Clear();
    EXPECT_TRUE(cache.Settled());
}

TEST_F(FlatCache, ReadsLocalFiles) {
    const std::vector<std::string> contents = {"", std::string("DICM\0\0\x01", 7), Binary(3 << 20, 1)};
    TFlatCache cache;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < contents.size(); ++i)
        paths.push_back(File(std::string("f").append(std::to_string(i)), contents[i]));
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(cache.Add(paths[i]), static_cast<int>(i));
    EXPECT_EQ(cache.Count(), 3);
    ASSERT_TRUE(WaitIdle(cache));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cache.State(i), TEntryState::Fetched);
        EXPECT_TRUE(cache.Text(i) == contents[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_EQ(cache.ActiveCount(), 0);
    EXPECT_GE(cache.MaxActive(), 1);

    // The tree's way: the first fetched or failed entry, its text, then consumed.
    EXPECT_EQ(cache.FindFirst({TEntryState::Failed, TEntryState::Fetched}), 0);
    cache.MarkConsumed(0);
    EXPECT_EQ(cache.State(0), TEntryState::Consumed);
    EXPECT_EQ(cache.Text(0), "");
    const auto taken = cache.TakeFirst({TEntryState::Failed, TEntryState::Fetched});
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->Index, 1);
    EXPECT_EQ(taken->State, TEntryState::Fetched);
    EXPECT_EQ(taken->Bytes.view(), contents[1]);
    EXPECT_EQ(taken->Text, "");
    EXPECT_EQ(cache.State(1), TEntryState::Consumed);
    EXPECT_EQ(cache.Text(1), "");
    EXPECT_EQ(cache.FindFirst({TEntryState::Failed, TEntryState::Fetched}), 2);
    EXPECT_EQ(cache.FindFirst({TEntryState::Consumed}), 0);
    EXPECT_EQ(cache.Count(), 3);

    cache.Clear();
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.MaxActive(), 0);
}

TEST_F(FlatCache, EntriesSetBackBehindTheTakenOnesAreFoundAgain) {
    TFlatCache cache;
    for (const char* name : {"a", "b", "c"}) cache.Add(File(name, name));
    ASSERT_TRUE(WaitIdle(cache));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(cache.TakeFirst({TEntryState::Fetched}));
    ASSERT_TRUE(cache.Settled());

    // Queued again: a thread takes it up though every later entry was taken (its reference
    // went with its bytes, so the fetch fails).
    cache.SetState(0, TEntryState::Queued);
    ASSERT_TRUE(WaitIdle(cache));
    const auto again = cache.TakeFirst({TEntryState::Failed, TEntryState::Fetched});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Index, 0);

    cache.SetState(1, TEntryState::Failed);
    EXPECT_FALSE(cache.Settled());
    EXPECT_EQ(cache.FindFirst({TEntryState::Failed, TEntryState::Fetched}), 1);
    ASSERT_TRUE(cache.TakeFirst({TEntryState::Failed}));
    EXPECT_TRUE(cache.Settled());
    EXPECT_EQ(cache.FindFirst({TEntryState::Failed, TEntryState::Fetched}), -1);
}

TEST_F(FlatCache, MissingFilesFailWithTheOpenError) {
    TFlatCache cache;
    const std::string missing = (temp_.Path() / "missing.dcm").string();
    const std::string good = File("good.dcm", "bytes");
    cache.Add(missing);
    cache.Add(temp_.Path().string());
    cache.Add(good);
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.State(0), TEntryState::Failed);
    EXPECT_EQ(cache.Text(0), "Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_EQ(cache.State(1), TEntryState::Failed);
    EXPECT_EQ(cache.Text(1), "Cannot open file \"" + temp_.Path().string() + "\". Is a directory");
    // The thread goes on with the next entry.
    EXPECT_EQ(cache.State(2), TEntryState::Fetched);
    EXPECT_EQ(cache.Text(2), "bytes");
    const auto taken = cache.TakeFirst({TEntryState::Failed, TEntryState::Fetched});
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->State, TEntryState::Failed);
    EXPECT_EQ(taken->Text, "Cannot open file \"" + missing + "\". No such file or directory");
}

TEST_F(FlatCache, IndexesOutsideTheListAreRangeErrors) {
    TFlatCache cache;
    cache.Add((temp_.Path() / "x").string());
    EXPECT_THROW(cache.Text(1), WRangeError);
    EXPECT_THROW(cache.State(-1), WRangeError);
    EXPECT_THROW(cache.SetState(5, TEntryState::Queued), WRangeError);
    EXPECT_THROW(cache.MarkConsumed(1), WRangeError);
    ASSERT_TRUE(WaitIdle(cache));
}

TEST_F(FlatCache, FetchesUpToEightAddressesAtOnce) {
    TTestHttpServer server;
    std::vector<std::string> bodies;
    for (int i = 0; i < 12; ++i) {
        bodies.push_back(Binary(1000 + 4099 * static_cast<std::size_t>(i), static_cast<unsigned>(i)));
        server.Serve("file" + std::to_string(i) + ".dcm", bodies.back());
    }
    server.Hold();
    TFlatCache cache;
    const char* schemes[] = {"http://", "HTTP://", "Http://"};
    for (int i = 0; i < 12; ++i) cache.Add(server.Url("file" + std::to_string(i) + ".dcm", schemes[i % 3]));
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 8; }));
    EXPECT_EQ(cache.ThreadCount(), 8);
    EXPECT_EQ(cache.ActiveCount(), 8);
    EXPECT_EQ(cache.MaxActive(), 8);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.InFlight(), 8); // never a ninth
    EXPECT_EQ(cache.FindFirst({TEntryState::Queued}), 8);
    EXPECT_EQ(cache.FindFirst({TEntryState::Failed, TEntryState::Fetched}), -1);
    server.ReleaseAll();
    ASSERT_TRUE(WaitIdle(cache));
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(cache.State(i), TEntryState::Fetched) << cache.Text(i);
        EXPECT_TRUE(cache.Text(i) == bodies[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_EQ(cache.ActiveCount(), 0);
    EXPECT_EQ(cache.MaxActive(), 8);
    EXPECT_EQ(server.Requests(), 12);
}

TEST_F(FlatCache, TwentyReferencesStartEightThreadsThatAllEnd) {
    TTestHttpServer server;
    for (int i = 0; i < 20; ++i) server.Serve(std::to_string(i), "body " + std::to_string(i));
    server.Hold();
    TFlatCache cache;
    for (int i = 0; i < 20; ++i) {
        cache.Add(server.Url(std::to_string(i)));
        EXPECT_EQ(cache.ThreadCount(), std::min(i + 1, 8));
    }
    EXPECT_EQ(cache.ThreadCount(), 8);
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 8; }));
    server.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return cache.ThreadCount() == 0; }));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(cache.State(i), TEntryState::Fetched);
        EXPECT_EQ(cache.Text(i), "body " + std::to_string(i));
    }
    EXPECT_EQ(server.Requests(), 20);

    // New work after the threads ended starts a thread again (held, so that it cannot end
    // before it is counted).
    server.Hold();
    cache.Add(server.Url("3"));
    EXPECT_EQ(cache.ThreadCount(), 1);
    server.ReleaseAll();
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.Text(20), "body 3");
}

TEST_F(FlatCache, HttpFailuresGiveTheClientsMessage) {
    TTestHttpServer server;
    // A port that is bound but not listening refuses connections and stays ours meanwhile.
    const int reserved = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(reserved, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(reserved, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.dcm";

    TFlatCache cache;
    cache.Add(server.Url("missing.dcm"));
    cache.Add(refused);
    ASSERT_TRUE(WaitIdle(cache));
    close(reserved);
    EXPECT_EQ(cache.State(0), TEntryState::Failed);
    EXPECT_EQ(cache.Text(0), "The requested URL returned error: 404");
    EXPECT_EQ(cache.State(1), TEntryState::Failed);
    EXPECT_NE(cache.Text(1).find("onnect"), std::string::npos) << cache.Text(1);
}

TEST_F(FlatCache, ClearDuringAFetchDropsTheLateResult) {
    TTestHttpServer server;
    server.Serve("slow.dcm", "late bytes");
    server.Hold();
    TFlatCache cache;
    cache.Add(server.Url("slow.dcm"));
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }));
    EXPECT_EQ(cache.ActiveCount(), 1);
    cache.Clear();
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.ActiveCount(), 0);
    EXPECT_EQ(cache.MaxActive(), 0);

    // The queue is refilled meanwhile: index 0 now holds another reference.
    const std::string local = File("local.dcm", "local bytes");
    EXPECT_EQ(cache.Add(local), 0);
    ASSERT_TRUE(WaitUntil([&] { return cache.State(0) == TEntryState::Fetched; }));
    EXPECT_EQ(cache.ActiveCount(), 0);
    server.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return server.Answered() == 1; }));
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.Text(0), "local bytes");
    // The late fetch no longer counted: the count never goes below zero.
    EXPECT_EQ(cache.ActiveCount(), 0);
    EXPECT_EQ(cache.MaxActive(), 1);
}

TEST_F(FlatCache, TruncateTakesBackTheLaterEntriesAndDropsTheirLateResults) {
    TTestHttpServer server;
    server.Serve("slow.dcm", "late bytes");
    server.Hold();
    TFlatCache cache;
    const std::string kept = File("kept.dcm", "kept bytes");
    cache.Add(kept);
    cache.Add(server.Url("slow.dcm"));
    cache.Add(File("queued.dcm", "queued bytes"), 3);
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }));
    cache.Truncate(1);
    EXPECT_EQ(cache.Count(), 1);
    cache.Truncate(5); // nothing beyond the end
    EXPECT_EQ(cache.Count(), 1);
    server.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return server.Answered() == 1; }));
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.Text(0), "kept bytes");
    // The removed fetch still ended as a fetch: nothing is left counted as running.
    EXPECT_EQ(cache.ActiveCount(), 0);
}

TEST_F(FlatCache, ClearDropsTheLateResultOfTheSameReferenceQueuedAgain) {
    TTestHttpServer server;
    server.Hold();
    TFlatCache cache;
    cache.Add(server.Url("counter"));
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 1; }));
    cache.Clear();
    cache.Add(server.Url("counter")); // the same reference at the same index
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 2; }));
    server.Release(1); // the old queue's request answers first
    ASSERT_TRUE(WaitUntil([&] { return server.Answered() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(cache.State(0), TEntryState::Fetching);
    EXPECT_EQ(cache.ActiveCount(), 1);
    server.ReleaseAll();
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.State(0), TEntryState::Fetched);
    EXPECT_EQ(cache.Text(0), "response 2");
    EXPECT_EQ(cache.ActiveCount(), 0);
}

TEST_F(FlatCache, ClearWithNothingQueuedAgainLeavesTheQueueEmpty) {
    TTestHttpServer server;
    server.Serve("a", "a");
    server.Hold();
    TFlatCache cache;
    for (int i = 0; i < 3; ++i) cache.Add(server.Url("a"));
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 3; }));
    cache.Clear();
    server.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return cache.ThreadCount() == 0; }));
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.ActiveCount(), 0);
    EXPECT_EQ(cache.MaxActive(), 0);
}

TEST_F(FlatCache, DestructionWaitsForRunningFetches) {
    TTestHttpServer server;
    server.Serve("a", "a");
    server.Hold();
    auto cache = std::make_unique<TFlatCache>();
    for (int i = 0; i < 4; ++i) cache->Add(server.Url("a"));
    ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 4; }));
    std::thread releaser([&] {
        std::this_thread::sleep_for(300ms);
        server.ReleaseAll();
    });
    const auto start = std::chrono::steady_clock::now();
    cache.reset();
    const auto waited = std::chrono::steady_clock::now() - start;
    releaser.join();
    EXPECT_GE(waited, 250ms);
    EXPECT_LT(waited, 9s);
    // The server counts an answer once it has sent it, which may come just after the client read it.
    EXPECT_TRUE(WaitUntil([&] { return server.Answered() == 4; }));
    EXPECT_EQ(server.Requests(), 4); // the queue was cleared: nothing else was fetched
}

TEST_F(FlatCache, AThreadOutlivingTheCacheIsHarmless) {
    TTestHttpServer server;
    server.Serve("a", std::string(100000, 'x'));
    server.Hold();
    {
        TFlatCache cache;
        cache.SetDestroyWait(100ms);
        cache.Add(server.Url("a"));
        cache.Add(server.Url("a"));
        ASSERT_TRUE(WaitUntil([&] { return server.InFlight() == 2; }));
    } // gives up waiting while both fetches still run
    server.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return server.Answered() == 2; }));
    // The threads store nothing, find no entry and end; the sanitizer builds would catch any
    // touch of freed memory.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(server.Requests(), 2);
}

class FlatCacheProtected : public FlatCache {
protected:
    FlatCacheProtected() : documents_("XDG_DOCUMENTS_DIR", (temp_.Path() / "Documents").string()) {}
    // Writes the protected file of a reference as a delivering tool would.
    std::string Protect(const std::string& reference, const std::string& key, const std::string& bytes,
                        const std::string& nameKey = {}) {
        const auto folder = temp_.Path() / "Documents" / "Melvor2" / "DICOM" / "tmp";
        std::filesystem::create_directories(folder);
        const auto path =
            folder / ("zorvix." + HashedName(reference, nameKey.empty() ? key : nameKey) + ".zorvix");
        test::WriteFile(path, ChainScramble(bytes, DigestKey(key)));
        return path.string();
    }
    TScopedEnv documents_;
};

TEST_F(FlatCacheProtected, CryptedReferencesReadTheHashedFileWithTheKey) {
    const std::string reference = (temp_.Path() / "plain.dcm").string();
    test::WriteFile(reference, "DECOY: the referenced path itself is never read");
    const std::string bytes = DicomBytes("ID-42");
    const std::string path = Protect(reference, "open sesame", bytes);
    EXPECT_EQ(path, ProtectedFileName(reference, "open sesame"));
    const std::string second = DicomBytes("ID-43");
    Protect("1.2.840.99/series/7", "open sesame", second);

    TFlatCache cache;
    cache.SetKey("open sesame");
    EXPECT_TRUE(cache.HasKey());
    EXPECT_EQ(cache.Key(), "open sesame");
    EXPECT_EQ(cache.KeyDigest(), DigestKey("open sesame"));
    cache.Add("CRYPTED:" + reference);
    cache.Add("crypted:" + reference);
    cache.Add("CRYPTED:1.2.840.99/series/7");
    ASSERT_TRUE(WaitIdle(cache));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(cache.State(i), TEntryState::Fetched) << cache.Text(i);
    EXPECT_TRUE(cache.Text(0) == bytes);
    EXPECT_TRUE(cache.Text(1) == bytes);
    EXPECT_TRUE(cache.Text(2) == second);
    TDicomFile file;
    file.LoadFromString(cache.Text(0));
    EXPECT_EQ(file.Value("Patient ID"), "ID-42");
    file.LoadFromString(cache.Text(2));
    EXPECT_EQ(file.Value("Patient ID"), "ID-43");
}

TEST_F(FlatCacheProtected, AWrongKeyGivesFailedOrUnreadableEntries) {
    const std::string reference = "1.2.840.99/series/1";
    const std::string bytes = DicomBytes("ID-1");
    Protect(reference, "right", bytes);
    // A file that a wrong key finds by name but that was scrambled with the right key.
    Protect("1.2.840.99/series/2", "right", bytes, "wrong");

    TFlatCache cache;
    cache.SetKey("wrong");
    cache.Add("CRYPTED:" + reference);
    cache.Add("CRYPTED:1.2.840.99/series/2");
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.State(0), TEntryState::Failed);
    EXPECT_EQ(cache.Text(0), "Cannot open file \"" + ProtectedFileName(reference, "wrong") +
                                 "\". No such file or directory");
    ASSERT_EQ(cache.State(1), TEntryState::Fetched);
    const std::string garbage = cache.Text(1);
    EXPECT_EQ(garbage.size(), bytes.size());
    EXPECT_NE(garbage, bytes);
    // The garbage does not give the file back (the reader may or may not raise on it).
    TDicomFile file;
    try {
        file.LoadFromString(garbage);
    } catch (const WException&) {
    }
    EXPECT_NE(file.Value("Patient ID"), "ID-1");
    EXPECT_NE(file.Value("Patient name"), "Doe^John");
}

TEST_F(FlatCacheProtected, WithAKeyEveryEntryIsUnscrambled) {
    const std::string plain = DicomBytes("ID-9");
    const std::string path = File("plain.dcm", plain);
    TFlatCache cache;
    cache.SetKey("k");
    cache.Add(path);
    ASSERT_TRUE(WaitIdle(cache));
    ASSERT_EQ(cache.State(0), TEntryState::Fetched);
    EXPECT_EQ(cache.Text(0), ChainUnscramble(plain, DigestKey("k")));
    EXPECT_NE(cache.Text(0), plain);

    // The key can be changed and switched off; later entries follow it.
    cache.SetKey("k");
    EXPECT_EQ(cache.KeyDigest(), DigestKey("k"));
    cache.SetKey("");
    EXPECT_FALSE(cache.HasKey());
    cache.Add(path);
    ASSERT_TRUE(WaitIdle(cache));
    EXPECT_EQ(cache.Text(1), plain);
}

TEST_F(FlatCacheProtected, FetchReferenceOnTheCallingThread) {
    const std::string bytes = DicomBytes("ID-5");
    Protect("ref", "key", bytes);
    EXPECT_EQ(FetchReference("CRYPTED:ref", "key", DigestKey("key")).view(), bytes);
    const std::string path = File("p", "plain");
    EXPECT_EQ(FetchReference(path, "", std::string(16, '\0')).view(), "plain");
    EXPECT_EQ(test::ErrorOf([&] { FetchReference(path + ".none", "", ""); }),
              "Cannot open file \"" + path + ".none\". No such file or directory");
}

} // namespace
} // namespace tarvicon

// Loading over HTTP from a real server on 127.0.0.1.

#include "dicom/WebStreams.h"

#include "dicom/Dicoms.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvicon {
namespace {

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

// Python's own HTTP server over the fixtures folder.
class WebStreams : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* proxy : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(proxy);
        port_ = test::FreePort();
        const std::string port = std::to_string(port_);
        const std::string folder = test::Fixtures().string();
        std::vector<std::string> args = {TARVICON_PYTHON, "-m",        "http.server", port,
                                         "--bind",        "127.0.0.1", "--directory", folder};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawn(&server_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 200 && !Accepts(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        ASSERT_TRUE(Accepts(port_));
    }
    void TearDown() override {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
        }
    }
    std::string Address(const std::string& scheme, const std::string& name) const {
        return scheme + "127.0.0.1:" + std::to_string(port_) + "/" + name;
    }

    int port_ = 0;
    pid_t server_ = 0;
};

TEST_F(WebStreams, FetchesFilesInAnyLetterCase) {
    TDicomFile local;
    local.LoadFromFile(test::Fixtures() / "jpeg_gray16.dcm");
    for (const char* scheme : {"http://", "HTTP://", "Http://"}) {
        TDicomFile remote;
        remote.LoadFromFile(Address(scheme, "jpeg_gray16.dcm"));
        EXPECT_EQ(remote.Elements(), local.Elements());
        ASSERT_EQ(remote.PixelDataSize(), local.PixelDataSize());
        EXPECT_EQ(std::memcmp(remote.PixelData(), local.PixelData(), local.PixelDataSize()), 0);
    }
    const TWebStream stream(Address("http://", "src_gray8.dcm"));
    EXPECT_EQ(stream.Text(), test::ReadFile(test::Fixtures() / "src_gray8.dcm"));
    EXPECT_EQ(stream.Position(), 0u);
}

TEST_F(WebStreams, ClientErrorsPassThrough) {
    TDicomFile file;
    EXPECT_EQ(test::ErrorOf([&] { file.LoadFromFile(Address("http://", "missing.dcm")); }),
              "The requested URL returned error: 404");
    const std::string refused = test::ErrorOf(
        [&] { file.LoadFromFile("http://127.0.0.1:" + std::to_string(test::FreePort()) + "/x"); });
    EXPECT_NE(refused.find("onnect"), std::string::npos) << refused;
}

} // namespace
} // namespace tarvicon

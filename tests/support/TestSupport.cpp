#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvicon::test {

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

TScopedEnv::TScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
    if (old_)
        setenv(name_, old_->c_str(), 1);
    else
        unsetenv(name_);
}

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

fs::path Fixtures() {
    return TARVICON_FIXTURES;
}
fs::path BinDir() {
    return TARVICON_BIN;
}
fs::path PydicomTestFiles() {
    return "/usr/lib/python3/dist-packages/pydicom/data/test_files";
}

TProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    for (const auto& e : environment) envStrings.push_back(e);
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    TProcessResult result;
    std::array<pollfd, 2> fds{{{out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
    std::string* sinks[2] = {&result.Out, &result.Err};
    int open = 2;
    while (open > 0 && poll(fds.data(), fds.size(), -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (spawned != 0) return result;
    int status = 0;
    waitpid(pid, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvicon-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
}

TTempDir::~TTempDir() {
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error raised";
    return {};
}

TDicomWriter& TDicomWriter::Preamble() {
    bytes_.append(128, '\0');
    bytes_ += "DICM";
    return *this;
}

TDicomWriter& TDicomWriter::Meta(std::string_view transferSyntax) {
    std::string uid(transferSyntax);
    if (uid.size() % 2) uid += '\0';
    return Explicit(0x0002, 0x0010, "UI", uid);
}

TDicomWriter& TDicomWriter::Explicit(std::uint16_t group, std::uint16_t element, std::string_view vr,
                                     std::string_view value) {
    return ExplicitWithLength(group, element, vr, static_cast<std::uint32_t>(value.size()), value);
}

TDicomWriter& TDicomWriter::ExplicitWithLength(std::uint16_t group, std::uint16_t element,
                                               std::string_view vr, std::uint32_t length,
                                               std::string_view value) {
    U16(group).U16(element);
    bytes_ += vr;
    static constexpr std::string_view longVrs[] = {"OB", "OW", "SQ", "UN", "UT", "OF"};
    if (std::find(std::begin(longVrs), std::end(longVrs), vr) != std::end(longVrs)) {
        U16(0).U32(length);
    } else {
        U16(static_cast<std::uint16_t>(length));
    }
    bytes_ += value;
    return *this;
}

TDicomWriter& TDicomWriter::US(std::uint16_t group, std::uint16_t element, std::uint16_t value) {
    const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    return Explicit(group, element, "US", std::string_view(bytes, 2));
}

TDicomWriter& TDicomWriter::Implicit(std::uint16_t group, std::uint16_t element, std::string_view value) {
    U16(group).U16(element).U32(static_cast<std::uint32_t>(value.size()));
    bytes_ += value;
    return *this;
}

TDicomWriter& TDicomWriter::Raw(std::string_view bytes) {
    bytes_ += bytes;
    return *this;
}

TDicomWriter& TDicomWriter::U16(std::uint16_t value) {
    bytes_ += static_cast<char>(value & 0xFF);
    bytes_ += static_cast<char>(value >> 8);
    return *this;
}

TDicomWriter& TDicomWriter::U32(std::uint32_t value) {
    return U16(value & 0xFFFF).U16(value >> 16);
}

TDicomWriter& TDicomWriter::Encapsulated(const std::vector<std::string>& fragments,
                                         std::string_view offsetTable) {
    U16(0x7FE0).U16(0x0010);
    bytes_ += "OB";
    U16(0).U32(0xFFFFFFFF);
    U16(0xFFFE).U16(0xE000).U32(static_cast<std::uint32_t>(offsetTable.size()));
    bytes_ += offsetTable;
    for (const auto& fragment : fragments) {
        U16(0xFFFE).U16(0xE000).U32(static_cast<std::uint32_t>(fragment.size()));
        bytes_ += fragment;
    }
    U16(0xFFFE).U16(0xE0DD).U32(0);
    return *this;
}

std::string SampleBytes(const std::vector<std::uint16_t>& samples) {
    std::string bytes;
    bytes.reserve(samples.size() * 2);
    for (const std::uint16_t s : samples) {
        bytes += static_cast<char>(s & 0xFF);
        bytes += static_cast<char>(s >> 8);
    }
    return bytes;
}

} // namespace tarvicon::test

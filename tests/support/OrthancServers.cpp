#include "support/OrthancServers.h"

#include "dicom/WebStreams.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <curl/curl.h>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvicon::test {

namespace {

constexpr const char* kProgram = "/usr/sbin/Orthanc";
constexpr const char* kPlugin = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so";

std::size_t Append(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// One request with the user's login; the status and the body.
long Request(const std::string& url, const std::string* upload, std::string& body) {
    InitialiseCurl();
    const std::unique_ptr<CURL, CurlDeleter> client(curl_easy_init());
    CURL* c = client.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERNAME, TOrthanc::kUser);
    curl_easy_setopt(c, CURLOPT_PASSWORD, TOrthanc::kPassword);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
    if (upload) {
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, upload->data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(upload->size()));
    }
    if (curl_easy_perform(c) != CURLE_OK) return 0;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

} // namespace

std::string TOrthanc::Missing() {
    std::error_code error;
    if (!std::filesystem::exists(kProgram, error))
        return std::string("Orthanc is not installed (") + kProgram + ")";
    if (!std::filesystem::exists(kPlugin, error))
        return std::string("Orthanc's DICOMweb plugin is not installed (") + kPlugin + ")";
    return {};
}

TOrthanc::TOrthanc() : port_(FreePort()) {
    const std::filesystem::path storage = folder_.Path() / "storage";
    std::filesystem::create_directories(storage);
    const std::string config = R"({
  "Name": "tarvicon-test",
  "StorageDirectory": ")" + storage.string() +
                               R"(",
  "IndexDirectory": ")" + storage.string() +
                               R"(",
  "HttpPort": )" + std::to_string(port_) +
                               R"(,
  "DicomServerEnabled": false,
  "RemoteAccessAllowed": false,
  "AuthenticationEnabled": true,
  "RegisteredUsers": { ")" + kUser +
                               R"(": ")" + kPassword + R"(" },
  "Plugins": [ ")" + kPlugin + R"(" ],
  "DicomWeb": { "Enable": true, "Root": "/dicom-web/" },
  "SaveJobs": false
})";
    const std::filesystem::path configPath = folder_.Path() / "orthanc.json";
    WriteFile(configPath, config);
    const std::string log = (folder_.Path() / "orthanc.log").string();
    std::string program = kProgram, configArg = configPath.string();
    char* argv[] = {program.data(), configArg.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int spawned = posix_spawn(&pid_, kProgram, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("Cannot start Orthanc");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        std::string body;
        if (Request(Base() + "/system", nullptr, body) == 200) return;
        if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, nullptr, WNOHANG) == pid_) {
            Kill();
            throw std::runtime_error("Orthanc did not start: " + ReadFile(log));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

TOrthanc::~TOrthanc() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

void TOrthanc::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

void TOrthanc::Upload(const std::filesystem::path& file) {
    const std::string bytes = ReadFile(file);
    std::string body;
    const long status = Request(Base() + "/instances", &bytes, body);
    if (status != 200) throw std::runtime_error("Orthanc refused " + file.string() + ": " + body);
}

int TOrthanc::UploadFolder(const std::filesystem::path& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        Upload(entry.path());
        ++count;
    }
    return count;
}

std::string TOrthanc::Base() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string TOrthanc::RootWithLogin() const {
    return "http://" + std::string(kUser) + ":" + kPassword + "@127.0.0.1:" + std::to_string(port_) +
           "/dicom-web";
}

std::string TOrthanc::Get(const std::string& path) const {
    std::string body;
    const long status = Request(Base() + path, nullptr, body);
    if (status != 200) throw std::runtime_error("Orthanc answered " + std::to_string(status) + " to " + path);
    return body;
}

} // namespace tarvicon::test

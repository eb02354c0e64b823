#pragma once
// A private Orthanc server with its DICOMweb plugin for the tests: on 127.0.0.1 at a free port,
// its own storage folder, no DICOM port, remote access off and authentication on with one user.

#include "support/TestSupport.h"

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace tarvicon::test {

class TOrthanc {
public:
    static constexpr const char* kUser = "reader";
    static constexpr const char* kPassword = "Orth4nc-pw-17x";

    // Orthanc and its DICOMweb plugin are installed; otherwise the reason, for a skip message.
    static std::string Missing();

    // Starts the server and waits until it answers (raises when it does not within 30 s).
    TOrthanc();
    // Stops the server (SIGTERM) and removes its storage.
    ~TOrthanc();
    TOrthanc(const TOrthanc&) = delete;
    TOrthanc& operator=(const TOrthanc&) = delete;

    // Ends the server at once, as a crash or a pulled cable would.
    void Kill();

    // Stores one DICOM file through the REST API; raises when the server refuses it.
    void Upload(const std::filesystem::path& file);
    // Stores every file below the folder; returns how many the server took.
    int UploadFolder(const std::filesystem::path& folder);

    // "http://127.0.0.1:PORT"
    std::string Base() const;
    // The DICOMweb root without a login, and with the user's login in the address.
    std::string Root() const { return Base() + "/dicom-web"; }
    std::string RootWithLogin() const;
    // A GET with the user's login; raises unless the status is 200.
    std::string Get(const std::string& path) const;

private:
    TTempDir folder_;
    int port_ = 0;
    pid_t pid_ = 0;
};

} // namespace tarvicon::test

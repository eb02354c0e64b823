#pragma once
// Helpers shared by the tests: files, processes, temporary folders, DICOM byte builders.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon::test {

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view content);

// A TCP port on 127.0.0.1 that nothing listens on now (the system's choice for a bind to 0).
int FreePort();

// Folder of the fixtures that make_fixtures.py wrote.
std::filesystem::path Fixtures();
// Folder of the built programs and the codec plugin.
std::filesystem::path BinDir();
// Folder of pydicom's own test files.
std::filesystem::path PydicomTestFiles();

struct TProcessResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// Runs a program (argv[0] is its path) with extra environment entries "NAME=VALUE"; waits.
TProcessResult RunProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment = {});

// Sets an environment variable for the scope and restores the old value.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::string& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A fresh folder that is removed with its content afterwards.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The message of the exception that action raises; fails the test when none is raised.
std::string ErrorOf(const std::function<void()>& action);

// Builds DICOM files byte by byte, little endian.
class TDicomWriter {
public:
    // 128 zero bytes and "DICM".
    TDicomWriter& Preamble();
    // Group 0002 with the transfer syntax (explicit VR).
    TDicomWriter& Meta(std::string_view transferSyntax);
    // An explicit-VR element; the length field (16 or 32 bits) follows the VR.
    TDicomWriter& Explicit(std::uint16_t group, std::uint16_t element, std::string_view vr,
                           std::string_view value);
    // An explicit-VR element with a given length field, the value written as it is.
    TDicomWriter& ExplicitWithLength(std::uint16_t group, std::uint16_t element, std::string_view vr,
                                     std::uint32_t length, std::string_view value);
    // An explicit US element with one value.
    TDicomWriter& US(std::uint16_t group, std::uint16_t element, std::uint16_t value);
    // An implicit-VR element with a 32-bit length.
    TDicomWriter& Implicit(std::uint16_t group, std::uint16_t element, std::string_view value);
    // Raw bytes.
    TDicomWriter& Raw(std::string_view bytes);
    TDicomWriter& U16(std::uint16_t value);
    TDicomWriter& U32(std::uint32_t value);
    // Encapsulated pixel data (OB, undefined length): offset table, then one item per fragment.
    TDicomWriter& Encapsulated(const std::vector<std::string>& fragments, std::string_view offsetTable = {});

    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Little-endian bytes of 16-bit samples.
std::string SampleBytes(const std::vector<std::uint16_t>& samples);

} // namespace tarvicon::test

#include "catalogue/Protection.h"

#include "catalogue/Md5.h"
#include "util/Errors.h"
#include "util/Utilities.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarvicon {

std::string ChainScramble(std::string_view data, std::string_view key) {
    std::string result(data);
    const std::size_t n = data.size(), m = key.size();
    if (m == 0) return result;
    // From the end toward the start: the last m positions take the key, every other position
    // the scrambled byte m places after it (already computed).
    for (std::size_t j = n; j-- > 0;) {
        const char feedback = j + m >= n ? key[j + m - n] : result[j + m];
        result[j] = static_cast<char>(data[j] ^ feedback);
    }
    return result;
}

std::string ChainUnscramble(std::string_view data, std::string_view key) {
    std::string result(data);
    const std::size_t n = data.size(), m = key.size();
    if (m == 0) return result;
    // The feedback comes from the scrambled input.
    for (std::size_t j = n; j-- > 0;) {
        const char feedback = j + m >= n ? key[j + m - n] : data[j + m];
        result[j] = static_cast<char>(data[j] ^ feedback);
    }
    return result;
}

std::string DigestKey(std::string_view key) {
    const auto digest = md5::Of(key);
    return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string HashedName(std::string_view reference, std::string_view key) {
    return md5::HexOf(ChainScramble(reference, key));
}

std::string ProtectedFolder() {
    return SpecialFolder("Personal") + "Melvor2/DICOM/tmp/";
}

std::string ProtectedFileName(std::string_view reference, std::string_view key) {
    return ProtectedFolder() + "zorvix." + HashedName(reference, key) + ".zorvix";
}

std::string ProtectBytes(std::string_view bytes, std::string_view key) {
    return ChainScramble(bytes, DigestKey(key));
}

std::string WriteProtectedFile(std::string_view reference, std::string_view key, std::string_view bytes) {
    const std::string path = ProtectedFileName(reference, key);
    std::error_code ignored;
    std::filesystem::create_directories(ProtectedFolder(), ignored);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) RaiseError("Cannot create file \"" + path + "\". " + std::generic_category().message(errno));
    const std::string scrambled = ProtectBytes(bytes, key);
    file.write(scrambled.data(), static_cast<std::streamsize>(scrambled.size()));
    file.close();
    if (!file) RaiseError("Cannot write file \"" + path + "\". " + std::generic_category().message(errno));
    return path;
}

} // namespace tarvicon

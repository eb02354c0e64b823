// A configuration document and a parameter snapshot loaded into a fresh parameter tree. The input
// is the document, a zero byte, then the snapshot; without a zero byte it is only the document.

#include "config/ConfigDocuments.h"
#include "config/Schema.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t split = bytes.find('\0');
    const std::string_view document = bytes.substr(0, split);
    const std::string_view snapshot =
        split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1);
    try {
        auto root = tarvicon::CreateParameterTree();
        try {
            tarvicon::TConfigDocument configuration;
            configuration.LoadXml(document);
            configuration.ApplyStartPreset(*root);
        } catch (const std::exception&) {
        }
        if (split != std::string_view::npos) {
            try {
                root->LoadFromString(snapshot);
            } catch (const std::exception&) {
            }
        }
        (void)root->SaveToString();
    } catch (const std::exception&) {
    }
    return 0;
}

#include "support/StudyFiles.h"

#include "support/TestSupport.h"

#include <cstdint>
#include <functional>
#include <sstream>
#include <vector>

namespace tarvicon::test {

std::string ImageFile(const TImage& im) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.Explicit(0x0008, 0x0008, "CS", im.ImageType);
    if (!im.SeriesDate.empty()) w.Explicit(0x0008, 0x0021, "DA", im.SeriesDate);
    if (!im.Accession.empty()) w.Explicit(0x0008, 0x0050, "SH", im.Accession);
    w.Explicit(0x0008, 0x0060, "CS", im.Modality).Explicit(0x0008, 0x103E, "LO", im.Description);
    w.Explicit(0x0010, 0x0010, "PN", "Doe^" + im.Patient).Explicit(0x0010, 0x0020, "LO", im.Patient);
    if (!im.BirthDate.empty()) w.Explicit(0x0010, 0x0030, "DA", im.BirthDate);
    if (!im.Sex.empty()) w.Explicit(0x0010, 0x0040, "CS", im.Sex);
    if (!im.Thickness.empty()) w.Explicit(0x0018, 0x0050, "DS", im.Thickness);
    w.Explicit(0x0020, 0x000D, "UI", im.Study).Explicit(0x0020, 0x000E, "UI", im.Series);
    if (!im.Number.empty()) w.Explicit(0x0020, 0x0013, "IS", im.Number);
    w.Explicit(0x0020, 0x0032, "DS", "0\\0\\" + std::to_string(im.Position));
    w.US(0x0028, 0x0010, std::uint16_t(im.Size)).US(0x0028, 0x0011, std::uint16_t(im.Size));
    w.US(0x0028, 0x0100, 16).US(0x0028, 0x0101, 12).US(0x0028, 0x0102, 11);
    std::vector<std::uint16_t> samples(std::size_t(im.Size) * std::size_t(im.Size),
                                       std::uint16_t(100 + im.Position));
    w.Explicit(0x7FE0, 0x0010, "OW", SampleBytes(samples));
    return w.Bytes();
}

void WriteSeries(const std::filesystem::path& folder, const std::string& prefix, int count, TImage image) {
    for (int i = 0; i < count; ++i) {
        image.Number = std::to_string(i + 1);
        image.Position = i;
        WriteFile(folder / std::string(prefix).append(std::to_string(i)), ImageFile(image));
    }
}

std::string Outline(const TDicomTree& tree) {
    std::ostringstream out;
    const std::function<void(const TTreeNode&, int)> print = [&](const TTreeNode& node, int depth) {
        out << std::string(std::size_t(depth) * 2, ' ') << node.Caption();
        if (node.Object())
            out << " {" << node.Object()->ImageCount() << "x" << node.Object()->Cube().Depth() << "}";
        out << "\n";
        for (const auto& child : node.Children()) print(*child, depth + 1);
    };
    for (const auto& root : tree.Roots()) print(*root, 0);
    return out.str();
}

} // namespace tarvicon::test

#pragma once
// Small synthetic studies for the catalogue tests: one image file per call and the tree as a
// readable outline.

#include "catalogue/DicomTrees.h"

#include <filesystem>
#include <string>

namespace tarvicon::test {

struct TImage {
    std::string Patient = "P1", Study = "1.2.3", Series = "1.2.3.1", ImageType = "ORIGINAL\\PRIMARY";
    std::string Number = "1", Description = "Head", Modality = "CT", SeriesDate = "20070315", Thickness;
    // Written only when given.
    std::string Accession, BirthDate, Sex;
    int Size = 8;
    int Position = 0;
};

// The bytes of one 16-bit image file (explicit little endian) with every sample 100 + Position.
std::string ImageFile(const TImage& image);

// Writes count files of one series into folder, named prefix + 0, 1, …: image numbers 1, 2, …
// and positions 0, 1, …, the other values from image.
void WriteSeries(const std::filesystem::path& folder, const std::string& prefix, int count, TImage image);

// One line per node: indent, caption, and for an object its image count and depth.
std::string Outline(const TDicomTree& tree);

} // namespace tarvicon::test

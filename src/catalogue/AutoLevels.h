#pragma once
// Automatic levels of the shown object: the window that the DICOM header of the current slice
// names, or else one taken from the cumulative histogram around the current position.

#include "catalogue/DicomObjects.h"
#include "config/ConfigNodes.h"

namespace tarvicon {

// level: the "level" node of the colour mapping. count > 0 tries the header's window first;
// count ≤ 0 takes the histogram of the box of radius −count, else of the whole cube.
void Autolevels(TDicomObject& object, TConfigNode& level, int count);

} // namespace tarvicon

#pragma once
// What an exported picture is called and what its legend says, from the series it shows; the
// folder the pictures go to.

#include <string>

namespace tarvicon {

class TDicomObject;

// The documents folder + "Melvor2/DICOM/Export" (not created here).
std::string ExportFolder();

// The shown series' "Accession number" (of its first image); empty without a series.
std::string ExportBaseName(const TDicomObject* object);

// " " + series date + ": " + patient name + ", " + date of birth + ", " + sex + ", " + patient ID
// + " ", both dates as d.m.yyyy where they are calendar dates, then the LOSSY mark + " " for a
// series with a lossy image; empty without a series.
std::string ExportLegend(const TDicomObject* object);

// The legend as the one-line box shows it: line breaks (CR LF, CR or LF) as the two characters
// "\n".
std::string LegendForEditing(const std::string& legend);
// The edited legend back: each "\n" (in any case) becomes CR LF.
std::string LegendFromEditing(const std::string& text);

// FOLDER/BASE-NN + extension for the first NN (01, 02, …) with no file BASE-NN.* of any
// extension in the folder. After 99 the numbering goes on with 100, 101, …, so no picture is
// ever overwritten by a proposal. The extension includes its dot (".jpg").
std::string NextExportName(const std::string& folder, const std::string& base, const std::string& extension);

} // namespace tarvicon

#include "cli/HelpTexts.h"

#include <cstring>

namespace tarvicon::cli {

namespace {

constexpr const char* kProgram = R"(usage: tarvicon-cli COMMAND [OPTIONS]

The viewer's core without a window: read DICOM files, load studies, work the parameter tree and
render pictures exactly as the viewer's views show them.

Commands:
  dump     the element list of one DICOM file
  tree     load folders, files, index documents or DICOMweb studies and print the study tree
  find     search the studies of a DICOMweb server
  params   load a configuration document, apply presets, set and read parameter nodes
  lut      the detail view's colour table for the parameters given
  render   a picture, a GIF or a video of a series as the detail view shows it

`tarvicon-cli COMMAND --help` shows a command's options with an example.
Errors go to stderr with exit status 1; bad usage exits with status 2.

Example:
  tarvicon-cli tree sample/dicom
  tarvicon-cli find http://pacs:8042/dicom-web --patient 'Smith*'
)";

constexpr const char* kDump = R"(usage: tarvicon-cli dump [--numbers] [--pixels OUT] FILE|http://...

Prints the element list of one DICOM file, one line "key=value" each, as the reader stores it.
  --numbers     adds Width=, Height=, PixelFormat=, FrameCount=, SlicePosition=, ImageNumber=
                and PixelDataSize=
  --pixels OUT  writes the decoded pixel buffer to OUT
A file that cannot be read still prints its list with the ERROR and DUMP lines, then the message
on stderr (exit status 1).

Example:
  tarvicon-cli dump --numbers sample/dicom/ct/CT0001.dcm
)";

constexpr const char* kTree =
    R"(usage: tarvicon-cli tree [-wPREFIX] [-kKEY] [--config DOC] [--time] PATH... [--add PATH...]

Loads as the viewer's command line does and prints the study tree, one node per line; a node
holding a series or image adds [#SERIAL WxHxD pxP metrics X,Y,Z origin X,Y,Z volume 0|1].
  PATH          a folder, a file (its folder is loaded), an index document, an http:// address
                or a study or series of a DICOMweb server:
                dicomweb:http://HOST:PORT/dicom-web/studies/UID[/series/UID]
  -wPREFIX      put before each instance key of an index document
  -kKEY         the key of the protected files of an index document
  --config DOC  a configuration document, as at the viewer's start
  --time        say on standard error how long the load took ("Loaded in MS ms")
  --add PATH... a second load run into the same study, as the viewer's Add folder
A path that does not exist, or a load that finds no DICOM file, fails with exit status 1.

Example:
  tarvicon-cli tree sample/dicom
  XDG_DOCUMENTS_DIR=sample/documents tarvicon-cli tree -ktarvicon sample/index.xml
  tarvicon-cli tree dicomweb:http://pacs:8042/dicom-web/studies/1.2.840.113619.2.55.3
)";

constexpr const char* kFind =
    R"(usage: tarvicon-cli find URL [--patient NAME] [--id ID] [--date FROM-TO] [--modality M]
                         [--accession NUMBER]

Searches the studies of a DICOMweb server (QIDO-RS) and prints one line per study, the fields
separated by tabs: study UID, date, patient, description, modalities, "N series", "N instances".
  URL                 the server's DICOMweb root, http:// or https://, optionally with
                      user:password@ (or "dicomweb:" and the root)
  --patient NAME      the patient's name; * and ? are wildcards
  --id ID             the patient ID
  --date FROM-TO      the study date or range, YYYYMMDD-YYYYMMDD (either end may be left out)
  --modality M        a modality in the study (CT, MR, ...)
  --accession NUMBER  the accession number
Without user:password@ the login comes from TARVICON_DICOMWEB_USER and TARVICON_DICOMWEB_PASSWORD,
a bearer token from TARVICON_DICOMWEB_TOKEN. A load of a study found here:
  tarvicon-cli tree dicomweb:URL/studies/UID

Example:
  tarvicon-cli find http://pacs:8042/dicom-web --patient 'Smith*' --date 20240101-20241231 --modality CT
)";

constexpr const char* kParams =
    R"(usage: tarvicon-cli params [--config DOC] [--apply KIND:INDEX] [--set PATH=TEXT]
                           [--fire PATH] [--get PATH] [--snapshot]...

Works on the parameter tree; the options run in the order given.
  --config DOC        load a configuration document as the viewer's start does
  --apply KIND:INDEX  apply entry INDEX (from 0) of the document's preset, level, scaling or
                      coloring list
  --set PATH=TEXT     set a node by its text
  --fire PATH         fire an event node
  --get PATH          print PATH=TEXT
  --snapshot          print the saved parameter tree
The level's center and width follow low and high and the other way round, as in the detail view.

Example:
  tarvicon-cli params --config config/tarvicon.cfg --apply level:1 --get detail/colormapping/level/low
)";

constexpr const char* kLut = R"(usage: tarvicon-cli lut [the options of params]... --entries LIST

Fills the detail view's 65536-entry colour table for the parameters given (the options of
`params`, in order) and prints V=AARRGGBB for each value or range a-b of the comma-separated LIST.

Example:
  tarvicon-cli lut --set detail/colormapping/level/low=20 --set detail/colormapping/level/high=80 \
      --entries 0,408,1005,1602-1603
)";

constexpr const char* kRender =
    R"(usage: tarvicon-cli render (--cuboid FILE | [-wPREFIX] [-kKEY] PATH... [--add PATH...] [--series N])
                           [the options of params]... [--view detail|coronar|sagital|transaxial]
                           [--position X,Y,Z | --world X,Y,Z] [--op OP]... [--autolevels COUNT]
                           [-o OUT.jpg|OUT.bmp] [--legend] [--movie rotate|slices OUT.gif|OUT.mp4|OUT.webm]
                           [--fps N] [--raw OUT] [--save-cuboid OUT] [--repeat N] [--yes]

Cuts a picture of a cuboid file or of the N-th object (from 0, in tree order) of a loaded study
through the same picture pipeline as the viewer's views.
  PATH...             what tree loads: folders, files, index documents, http:// addresses, or a
                      study or series of a DICOMweb server (dicomweb:http://HOST:PORT/...)
  --series N          the object to show (default 0)
  --config DOC        show the series as the viewer does at first sight (start preset, then the
                      series' automatic preset); later options act on it as a user's changes do
  --set, --apply, ... the options of params, driving detail/path, thickness, angle, light3d,
                      mip-detail, level, colouring and gamma as they drive the detail view
  --view NAME         a navigation view with its fixed path instead of the detail view
  --position X,Y,Z    the position in voxels (default the centre); --world in micrometres
  --op OP             mirror-x|y|z, upscale-x|y|z|u, filter, rotate:AXES:DEGREES, revert, in order
  --autolevels COUNT  the level as the detail view's automatic levels set it
  -o OUT              the coloured picture as JPEG or BMP
  --legend            the export legend of the series drawn at the top left, as the viewer
                      draws it on exported pictures
  --movie KIND OUT    the rotation (72 frames, -180 to 175 degrees) or every slice along the
                      path, as an endless GIF in the colouring's palette or an MP4/WebM video
  --fps N             the video's frames per second (rotation 10, slices 25)
  --raw OUT           the picture's 16-bit values, row-major, little-endian
  --save-cuboid OUT   the cube after the operations
  --repeat N          render N more times with an empty slice cache and print median_ms=
  --yes               answer yes to the memory question of large upscales

Example:
  tarvicon-cli render sample/dicom --series 2 --config config/tarvicon.cfg -o ct.jpg --legend
  tarvicon-cli render sample/dicom --series 2 --config config/tarvicon.cfg --movie rotate turn.mp4
)";

} // namespace

std::optional<std::string> HelpText(const std::string& command) {
    if (command.empty()) return kProgram;
    if (command == "dump") return kDump;
    if (command == "tree") return kTree;
    if (command == "params") return kParams;
    if (command == "lut") return kLut;
    if (command == "render") return kRender;
    if (command == "find") return kFind;
    return std::nullopt;
}

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

} // namespace tarvicon::cli

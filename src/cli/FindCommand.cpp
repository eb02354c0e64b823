// tarvicon-cli find: the studies of a DICOMweb server that match a search.

#include "cli/Commands.h"
#include "dicom/DicomWeb.h"

#include <cstdio>
#include <exception>

namespace tarvicon::cli {

namespace {

// A date range "FROM-TO", "FROM-", "-TO" or one date, each date eight digits.
bool IsDateRange(const std::string& text) {
    const auto isDate = [](const std::string& date) {
        return date.empty() ||
               (date.size() == 8 && date.find_first_not_of("0123456789") == std::string::npos);
    };
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) return text.size() == 8 && isDate(text);
    return text.size() > 1 && isDate(text.substr(0, dash)) && isDate(text.substr(dash + 1));
}

// One field of the line: tabs and line breaks would split it.
std::string Field(const std::string& text) {
    std::string field;
    for (const char c : text) field += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    return field;
}

} // namespace

int FindCommand(const std::vector<std::string>& args) {
    const std::string usage = "find URL [--patient NAME] [--id ID] [--date FROM-TO] [--modality M] "
                              "[--accession NUMBER]";
    std::string server;
    TStudyQuery query;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string* field = arg == "--patient"     ? &query.PatientName
                             : arg == "--id"        ? &query.PatientId
                             : arg == "--date"      ? &query.Date
                             : arg == "--modality"  ? &query.Modality
                             : arg == "--accession" ? &query.AccessionNumber
                                                    : nullptr;
        if (field) {
            if (i + 1 >= args.size()) return Usage(usage);
            *field = args[++i];
        } else if (server.empty() && !arg.empty() && arg[0] != '-')
            server = arg;
        else
            return Usage(usage);
    }
    if (server.empty()) return Usage(usage);
    if (!query.Date.empty() && !IsDateRange(query.Date)) {
        std::fprintf(stderr, "Not a date range (YYYYMMDD-YYYYMMDD): %s\n", query.Date.c_str());
        return 2;
    }
    try {
        for (const TStudyRecord& study : SearchStudies(ParseDicomWebAddress(server), query))
            std::printf("%s\t%s\t%s\t%s\t%s\t%d series\t%d instances\n", Field(study.Uid).c_str(),
                        Field(study.Date).c_str(), Field(study.PatientName).c_str(),
                        Field(study.Description).c_str(), Field(study.Modalities).c_str(), study.SeriesCount,
                        study.InstanceCount);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace tarvicon::cli

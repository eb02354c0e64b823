#pragma once
// A PACS's studies over DICOMweb. An address "dicomweb:http://HOST:PORT/ROOT/studies/S" names a
// study; ".../series/R" a series of it and ".../series/R/instances/I" one instance. Searches
// (QIDO-RS) list studies, series and instances; retrieval (WADO-RS) fetches one instance as its
// DICOM file. The login comes from the address (user:password@) or else from the environment:
// TARVICON_DICOMWEB_USER and TARVICON_DICOMWEB_PASSWORD (basic authentication) and
// TARVICON_DICOMWEB_TOKEN (a bearer token). No message and no address this unit returns holds it.
//
// Failures raise a WException naming the server: "Cannot reach the DICOMweb server ROOT: REASON",
// "The DICOMweb server ROOT refused the user name or password (HTTP 401)", "The DICOMweb server
// ROOT does not know PATH (HTTP 404)", "The DICOMweb server ROOT answered HTTP N", "The DICOMweb
// server ROOT sent an answer that cannot be read: REASON".

#include "util/Bytes.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// Basic authentication and a bearer token; empty fields are not sent.
struct TWebLogin {
    std::string User;
    std::string Password;
    std::string Token;
    bool Empty() const { return User.empty() && Password.empty() && Token.empty(); }
};

// A parsed address: the server's root and the UIDs it names.
struct TDicomWebAddress {
    std::string Root; // "http://HOST:PORT/PATH" without the login or a trailing "/"
    std::string Study;
    std::string Series;
    std::string Instance;
    TWebLogin Login; // from the address, else from the environment
};

// The text begins with "dicomweb:" in any letter case.
bool IsDicomWebAddress(std::string_view text);
// A "dicomweb:" reference of a whole series (made by DicomWebReference), as RetrieveSeries takes.
bool IsDicomWebSeriesReference(std::string_view text);

// Parses "dicomweb:" + an http:// or https:// address, or such an address on its own (a server's
// root for searches). Raises "Not a DICOMweb address: ADDRESS" (shown without its login).
TDicomWebAddress ParseDicomWebAddress(std::string_view text);

// An address as it may be shown: any "user:password@" after the scheme removed.
std::string ShownAddress(std::string_view text);

// "dicomweb:ROOT/studies/S[/series/R[/instances/I]]" for what the address names (no login).
std::string DicomWebReference(const TDicomWebAddress& address);

// The search fields of a study search; empty ones are left out. Names take the wildcards * and ?;
// Date is "YYYYMMDD", "FROM-TO", "FROM-" or "-TO".
struct TStudyQuery {
    std::string PatientName;
    std::string PatientId;
    std::string Date;
    std::string Modality;
    std::string AccessionNumber;
};

// One study a search found.
struct TStudyRecord {
    std::string Uid;
    std::string Date;
    std::string PatientName;
    std::string PatientId;
    std::string Description;
    std::string Modalities; // "\" separated
    std::string AccessionNumber;
    int SeriesCount = 0;
    int InstanceCount = 0;
};

// One series of a study.
struct TSeriesRecord {
    std::string Uid;
    std::string Number;
    std::string Modality;
    std::string Description;
    int InstanceCount = 0;
};

// The studies of the server matching the query, in the server's order.
std::vector<TStudyRecord> SearchStudies(const TDicomWebAddress& server, const TStudyQuery& query);

// The series of the study the address names.
std::vector<TSeriesRecord> SearchSeries(const TDicomWebAddress& study);

// A series to retrieve in one answer (RetrieveSeries): its reference and how many instances the
// server says it holds.
struct TSeriesRetrieval {
    std::string Reference;
    int InstanceCount = 0;
};

// The series of the study, or the one series, an address names, for retrieval one answer per
// series. Empty when the address names an instance or no series of the server, or when the
// server does not say how many instances each series holds: then the instances are listed one by
// one (ListInstancePages), which also says what is wrong. Raises when the server cannot be asked.
std::vector<TSeriesRetrieval> ListSeriesRetrievals(const TDicomWebAddress& address);

// The references (DicomWebReference) of every instance of the study, series or instance the
// address names. A study or series without instances raises "The DICOMweb server ROOT holds no
// instance of WHAT".
std::vector<std::string> ListInstances(const TDicomWebAddress& address);
// The same, page by page (QIDO-RS limit and offset, pages growing from 16 to 256): each page's
// new references go to `take` as soon as they are listed, so that their retrieval can start while
// the rest is listed. A server that does not page is asked once; the list ends at a page that
// brings no new reference. Raises as ListInstances; pages taken before a failure stay taken.
void ListInstancePages(const TDicomWebAddress& address,
                       const std::function<void(std::vector<std::string>&&)>& take);

// The DICOM file of the instance a reference names, with the login given or, when it is empty,
// the reference's own. The file ends on a page when the server's answer ends with it, so that
// whole-page pixels can move into a volume (TByteBuffer::TakePages).
TByteBuffer RetrieveInstance(std::string_view reference, const TWebLogin& login);

// Retrieves every instance of the series a reference names in one answer, handing each DICOM
// file to `take` as soon as it has arrived whole (laid out as RetrieveInstance's); `take`
// returns false to stop the retrieval, which then ends quietly. One answer for a whole series
// spares the server a request per instance, which costs it more than the sending. Raises as
// RetrieveInstance, also after files were handed on.
void RetrieveSeries(std::string_view reference, const TWebLogin& login,
                    const std::function<bool(TByteBuffer&&)>& take);

} // namespace tarvicon

#include "dicom/DicomWeb.h"

#include "dicom/Multiparts.h"
#include "dicom/QidoAnswers.h"
#include "dicom/WebStreams.h"
#include "util/Errors.h"
#include "util/Strings.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <unordered_set>

namespace tarvicon {

namespace {

constexpr std::string_view kScheme = "dicomweb:";
// DICOM files as the server keeps them, whatever their transfer syntax.
constexpr const char* kAcceptDicom =
    "Accept: multipart/related; type=\"application/dicom\"; transfer-syntax=*";

// A part of a retrieval's answer that holds a DICOM file (a part without a type is taken as one).
bool IsDicomPart(std::string_view contentType) {
    const std::string_view type = Trim(contentType.substr(0, contentType.find(';')));
    return type.empty() || EqualNoCase(type, "application/dicom");
}

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string ContentTypeOf(CURL* client) {
    const char* type = nullptr;
    curl_easy_getinfo(client, CURLINFO_CONTENT_TYPE, &type);
    return type ? type : "";
}

// The body of one answer as it arrives. A multipart answer of announced length goes into a
// buffer placed so that its (last) part ends on a page: the DICOM file's pixels, which close it,
// then move into a volume page by page instead of being copied into fresh memory.
struct TBody {
    bool Started = false;
    TByteBuffer Placed; // the announced length, when the answer is placed
    std::size_t Filled = 0;
    std::string Text; // otherwise

    void Start(CURL* client) {
        Started = true;
        curl_off_t length = -1;
        if (curl_easy_getinfo(client, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
            length <= 0 || length >= (curl_off_t(1) << 32))
            return;
        const auto size = static_cast<std::size_t>(length);
        const std::string boundary = MultipartBoundary(ContentTypeOf(client));
        // The closing delimiter after the last part: CRLF "--" boundary "--" CRLF.
        const std::size_t closing = boundary.empty() ? 0 : boundary.size() + 8;
        if (closing > 0 && closing < size)
            Placed = TByteBuffer::PageAt(size, size - closing);
        else
            Text.reserve(size); // the whole answer in one allocation
    }

    void Append(CURL* client, const char* data, std::size_t size) {
        if (!Started) Start(client);
        if (Placed.data() && size > Placed.size() - Filled) {
            // Longer than announced: on as text.
            Text.assign(reinterpret_cast<const char*>(Placed.data()), Filled);
            Placed = TByteBuffer();
        }
        if (Placed.data()) {
            std::memcpy(Placed.data() + Filled, data, size);
            Filled += size;
        } else
            Text.append(data, size);
    }

    TByteBuffer Take() {
        if (Placed.data()) {
            Placed.Truncate(Filled);
            return std::move(Placed);
        }
        const std::size_t size = Text.size();
        return TByteBuffer::Adopt(std::move(Text), 0, size);
    }
};

// Receives an answer's body as it arrives (its headers are in by then); false stops the transfer.
using TSink = std::function<bool(CURL* client, std::string_view bytes)>;

// One transfer's state for the write callback.
struct TTransfer {
    CURL* Client = nullptr;
    const TSink* Sink = nullptr;
    bool Stopped = false;
    std::exception_ptr Failure;
};

std::size_t Receive(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<TTransfer*>(user);
    const std::size_t length = size * count;
    // Nothing may leave through the HTTP client's own code: a failure is kept for afterwards and
    // ends the transfer (0).
    try {
        long status = 0;
        curl_easy_getinfo(transfer.Client, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status >= 300) return length; // an error page: the status tells
        if ((*transfer.Sink)(transfer.Client, std::string_view(data, length))) return length;
        transfer.Stopped = true;
    } catch (...) {
        transfer.Failure = std::current_exception();
    }
    return 0;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
            HexDigit(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else
            decoded += text[i];
    }
    return decoded;
}

// Query values are escaped only where the query's syntax needs it (space, "&", "#", "+", "%", and
// bytes outside printable ASCII): some servers match the value without decoding it, so "^" of a
// person name and the wildcards go as they are.
std::string QueryValue(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u > 0x20 && u < 0x7F && c != '&' && c != '#' && c != '+' && c != '%')
            encoded += c;
        else {
            encoded += '%';
            encoded += kHex[u >> 4];
            encoded += kHex[u & 15];
        }
    }
    return encoded;
}

// The address after an optional "dicomweb:", split at the login: scheme, login text, the rest.
struct TAddressParts {
    std::string_view Scheme; // "http://" or "https://" as written
    std::string_view Login;  // "user:password" without "@"; empty when none
    std::string_view Rest;   // host, port and path
};

bool SplitAddress(std::string_view text, TAddressParts& parts) {
    if (StartsWithNoCase(text, kScheme)) text.remove_prefix(kScheme.size());
    std::size_t schemeLength = 0;
    if (StartsWithNoCase(text, "http://"))
        schemeLength = 7;
    else if (StartsWithNoCase(text, "https://"))
        schemeLength = 8;
    else
        return false;
    parts.Scheme = text.substr(0, schemeLength);
    std::string_view rest = text.substr(schemeLength);
    const std::string_view authority = rest.substr(0, rest.find('/'));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        parts.Login = rest.substr(0, at);
        rest.remove_prefix(at + 1);
    }
    parts.Rest = rest;
    return true;
}

// The next path segment after "/" + name + "/", or empty; moves path past it.
std::string TakeSegment(std::string_view& path, std::string_view name) {
    const std::string prefix = "/" + std::string(name) + "/";
    if (path.substr(0, prefix.size()) != prefix) return {};
    path.remove_prefix(prefix.size());
    const std::size_t slash = path.find('/');
    std::string segment(path.substr(0, slash));
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash);
    return segment;
}

// A UID as DICOM writes it: digits and dots, at most 64 characters. What a server lists goes
// into addresses, so anything else (a "/", a "?") is refused.
bool IsUid(std::string_view text) {
    return !text.empty() && text.size() <= 64 &&
           text.find_first_not_of("0123456789.") == std::string_view::npos;
}

int Count(const std::string& text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// One GET of a DICOMweb resource below the server's root, its body handed to the sink as it
// arrives; false when the sink stopped it. The HTTP client's and the server's failures become
// the unit's messages here; what the sink raises comes out as it is.
bool Perform(const std::string& root, const std::string& path, const TWebLogin& login, const char* accept,
             const TSink& sink, std::string* contentType = nullptr) {
    InitialiseCurl();
    // One client per thread, kept between requests: its open connection to the server is used
    // again, as a browser would, instead of a new one for every instance of a series. It goes
    // with its thread.
    thread_local const std::unique_ptr<CURL, CurlDeleter> client(curl_easy_init());
    if (!client) RaiseError("Cannot create an HTTP client");
    curl_easy_reset(client.get());
    std::unique_ptr<curl_slist, HeaderListDeleter> headers(curl_slist_append(nullptr, accept));
    std::string bearer;
    if (!login.Token.empty()) {
        bearer = "Authorization: Bearer " + login.Token;
        headers.reset(curl_slist_append(headers.release(), bearer.c_str()));
    }
    if (!headers) RaiseError("Cannot create an HTTP client");
    const std::string url = root + path;
    CURL* c = client.get();
    TTransfer transfer{c, &sink, false, {}};
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    // A server that stops sending ends the fetch instead of holding its thread for ever.
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Receive);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    if (!login.User.empty() || !login.Password.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(c, CURLOPT_USERNAME, login.User.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, login.Password.c_str());
    }
    // The kept client holds no pointer into this call (headers, error text, body) and no login
    // once the call ends, however it ends.
    struct TReset {
        CURL* Client;
        ~TReset() { curl_easy_reset(Client); }
    } const reset{c};
    const CURLcode result = curl_easy_perform(c);
    if (transfer.Failure) std::rethrow_exception(transfer.Failure);
    if (transfer.Stopped) return false;
    if (result != CURLE_OK)
        RaiseError("Cannot reach the DICOMweb server " + root + ": " +
                   (error[0] ? std::string(error) : std::string(curl_easy_strerror(result))));
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    const std::string server = "The DICOMweb server " + root;
    if (status == 401 || status == 403)
        RaiseError(server + " refused the user name or password (HTTP " + std::to_string(status) + ")");
    if (status == 404)
        RaiseError(server + " does not know " + path.substr(0, path.find('?')) + " (HTTP 404)");
    if (status < 200 || status >= 300) RaiseError(server + " answered HTTP " + std::to_string(status));
    if (contentType) *contentType = ContentTypeOf(c);
    return true;
}

// The whole body of one GET.
TByteBuffer Get(const std::string& root, const std::string& path, const TWebLogin& login, const char* accept,
                std::string* contentType = nullptr) {
    TBody body;
    Perform(
        root, path, login, accept,
        [&](CURL* client, std::string_view bytes) {
            body.Append(client, bytes.data(), bytes.size());
            return true;
        },
        contentType);
    return body.Take();
}

std::vector<TQidoDataset> Search(const TDicomWebAddress& server, const std::string& path) {
    const TByteBuffer answer = Get(server.Root, path, server.Login, "Accept: application/dicom+json");
    try {
        return ReadQidoAnswer(answer.view());
    } catch (const WException& error) {
        RaiseError("The DICOMweb server " + server.Root +
                   " sent an answer that cannot be read: " + error.what());
    }
}

} // namespace

bool IsDicomWebAddress(std::string_view text) {
    return StartsWithNoCase(text, kScheme);
}

bool IsDicomWebSeriesReference(std::string_view text) {
    return IsDicomWebAddress(text) && text.find("/series/") != std::string_view::npos &&
           text.find("/instances/") == std::string_view::npos;
}

TDicomWebAddress ParseDicomWebAddress(std::string_view text) {
    TAddressParts parts;
    if (!SplitAddress(text, parts) || parts.Rest.empty() || parts.Rest.front() == '/')
        RaiseError("Not a DICOMweb address: " + ShownAddress(text));
    TDicomWebAddress address;
    std::string_view rest = parts.Rest;
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    // The root ends where the path's "/studies/" begins (or is the whole address).
    std::size_t studies = rest.find("/studies/");
    if (studies == std::string_view::npos && rest.size() >= 8 && rest.substr(rest.size() - 8) == "/studies")
        studies = rest.size() - 8;
    std::string_view path = studies == std::string_view::npos ? std::string_view() : rest.substr(studies);
    address.Root = std::string(parts.Scheme) + std::string(rest.substr(0, std::min(studies, rest.size())));
    address.Study = TakeSegment(path, "studies");
    if (!address.Study.empty()) address.Series = TakeSegment(path, "series");
    if (!address.Series.empty()) address.Instance = TakeSegment(path, "instances");
    if (!path.empty() && path != "/studies") RaiseError("Not a DICOMweb address: " + ShownAddress(text));
    if (!parts.Login.empty()) {
        const std::size_t colon = parts.Login.find(':');
        address.Login.User = PercentDecoded(parts.Login.substr(0, colon));
        if (colon != std::string_view::npos)
            address.Login.Password = PercentDecoded(parts.Login.substr(colon + 1));
    } else {
        address.Login.User = Environment("TARVICON_DICOMWEB_USER");
        address.Login.Password = Environment("TARVICON_DICOMWEB_PASSWORD");
    }
    address.Login.Token = Environment("TARVICON_DICOMWEB_TOKEN");
    return address;
}

std::string ShownAddress(std::string_view text) {
    const std::size_t scheme = text.find("://");
    if (scheme == std::string_view::npos) return std::string(text);
    const std::string_view head = text.substr(0, scheme + 3);
    std::string_view rest = text.substr(scheme + 3);
    const std::size_t at = rest.substr(0, rest.find('/')).rfind('@');
    if (at != std::string_view::npos) rest.remove_prefix(at + 1);
    return std::string(head) + std::string(rest);
}

std::string DicomWebReference(const TDicomWebAddress& address) {
    std::string reference = std::string(kScheme) + address.Root;
    if (address.Study.empty()) return reference;
    reference += "/studies/" + address.Study;
    if (address.Series.empty()) return reference;
    reference += "/series/" + address.Series;
    if (address.Instance.empty()) return reference;
    return reference + "/instances/" + address.Instance;
}

std::vector<TStudyRecord> SearchStudies(const TDicomWebAddress& server, const TStudyQuery& query) {
    std::string path = "/studies?includefield=00081030&includefield=00080061&includefield=00201206"
                       "&includefield=00201208";
    const std::pair<const char*, const std::string*> fields[] = {{"PatientName", &query.PatientName},
                                                                 {"PatientID", &query.PatientId},
                                                                 {"StudyDate", &query.Date},
                                                                 {"ModalitiesInStudy", &query.Modality},
                                                                 {"AccessionNumber", &query.AccessionNumber}};
    for (const auto& [name, value] : fields)
        if (!value->empty()) path += std::string("&") + name + "=" + QueryValue(*value);
    std::vector<TStudyRecord> studies;
    for (const TQidoDataset& dataset : Search(server, path)) {
        TStudyRecord study;
        study.Uid = QidoValue(dataset, "0020000D");
        study.Date = QidoValue(dataset, "00080020");
        study.PatientName = QidoValue(dataset, "00100010");
        study.PatientId = QidoValue(dataset, "00100020");
        study.Description = QidoValue(dataset, "00081030");
        study.Modalities = QidoValue(dataset, "00080061");
        study.AccessionNumber = QidoValue(dataset, "00080050");
        study.SeriesCount = Count(QidoValue(dataset, "00201206"));
        study.InstanceCount = Count(QidoValue(dataset, "00201208"));
        if (IsUid(study.Uid)) studies.push_back(std::move(study));
    }
    return studies;
}

std::vector<TSeriesRecord> SearchSeries(const TDicomWebAddress& study) {
    std::vector<TSeriesRecord> series;
    const std::string path =
        "/studies/" + study.Study + "/series?includefield=0008103E&includefield=00201209";
    for (const TQidoDataset& dataset : Search(study, path)) {
        TSeriesRecord record;
        record.Uid = QidoValue(dataset, "0020000E");
        record.Number = QidoValue(dataset, "00200011");
        record.Modality = QidoValue(dataset, "00080060");
        record.Description = QidoValue(dataset, "0008103E");
        record.InstanceCount = Count(QidoValue(dataset, "00201209"));
        if (IsUid(record.Uid)) series.push_back(std::move(record));
    }
    return series;
}

std::vector<TSeriesRetrieval> ListSeriesRetrievals(const TDicomWebAddress& address) {
    if (address.Study.empty() || !address.Instance.empty()) return {};
    std::vector<TSeriesRetrieval> retrievals;
    for (const TSeriesRecord& record : SearchSeries(address)) {
        if (!address.Series.empty() && record.Uid != address.Series) continue;
        if (record.InstanceCount <= 0) return {};
        TDicomWebAddress series = address;
        series.Series = record.Uid;
        retrievals.push_back({DicomWebReference(series), record.InstanceCount});
    }
    return retrievals;
}

void ListInstancePages(const TDicomWebAddress& address,
                       const std::function<void(std::vector<std::string>&&)>& take) {
    if (address.Study.empty()) RaiseError("Not a DICOMweb address of a study: " + DicomWebReference(address));
    if (!address.Instance.empty()) {
        take({DicomWebReference(address)});
        return;
    }
    std::string path = "/studies/" + address.Study;
    if (!address.Series.empty()) path += "/series/" + address.Series;
    path += "/instances";
    // Small pages first, so that retrieval starts after a few milliseconds, then larger ones.
    constexpr std::size_t kFirstPage = 16;
    constexpr std::size_t kLargestPage = 256;
    std::unordered_set<std::string> listed;
    std::size_t limit = kFirstPage;
    for (std::size_t offset = 0;;) {
        const std::vector<TQidoDataset> datasets =
            Search(address, path + "?limit=" + std::to_string(limit) + "&offset=" + std::to_string(offset));
        std::vector<std::string> page;
        for (const TQidoDataset& dataset : datasets) {
            TDicomWebAddress instance = address;
            instance.Series = address.Series.empty() ? QidoValue(dataset, "0020000E") : address.Series;
            instance.Instance = QidoValue(dataset, "00080018");
            if (!IsUid(instance.Series) || !IsUid(instance.Instance))
                RaiseError(
                    "The DICOMweb server " + address.Root +
                    " sent an answer that cannot be read: an instance without a series or instance UID");
            std::string reference = DicomWebReference(instance);
            if (listed.insert(reference).second) page.push_back(std::move(reference));
        }
        if (listed.empty())
            RaiseError("The DICOMweb server " + address.Root + " holds no instance of " +
                       (address.Series.empty() ? "study " + address.Study : "series " + address.Series));
        if (page.empty()) return; // past the end, or a server that repeats itself
        take(std::move(page));
        // More than asked for: a server that does not page answered everything at once. A page
        // smaller than asked for may be a server's own cap, so only an empty page ends the list.
        if (datasets.size() > limit) return;
        offset += datasets.size();
        limit = std::min(limit * 4, kLargestPage);
    }
}

std::vector<std::string> ListInstances(const TDicomWebAddress& address) {
    std::vector<std::string> references;
    ListInstancePages(address, [&](std::vector<std::string>&& page) {
        references.insert(references.end(), std::make_move_iterator(page.begin()),
                          std::make_move_iterator(page.end()));
    });
    return references;
}

TByteBuffer RetrieveInstance(std::string_view reference, const TWebLogin& login) {
    const TDicomWebAddress address = ParseDicomWebAddress(reference);
    if (address.Instance.empty())
        RaiseError("Not a DICOMweb address of an instance: " + ShownAddress(reference));
    const std::string path =
        "/studies/" + address.Study + "/series/" + address.Series + "/instances/" + address.Instance;
    std::string contentType;
    TByteBuffer answer =
        Get(address.Root, path, login.Empty() ? address.Login : login, kAcceptDicom, &contentType);
    try {
        const std::vector<TMimePart> parts = SplitMultipart(answer.view(), MultipartBoundary(contentType));
        for (const TMimePart& part : parts) {
            if (IsDicomPart(part.ContentType)) {
                // The part stays where it arrived: no second copy of the file.
                const auto start = static_cast<std::size_t>(part.Body.data() - answer.view().data());
                return TByteBuffer::Narrow(std::move(answer), start, part.Body.size());
            }
        }
        RaiseError("the answer holds no DICOM file");
    } catch (const WException& error) {
        RaiseError("The DICOMweb server " + address.Root +
                   " sent an answer that cannot be read: " + error.what());
    }
}

void RetrieveSeries(std::string_view reference, const TWebLogin& login,
                    const std::function<bool(TByteBuffer&&)>& take) {
    const TDicomWebAddress address = ParseDicomWebAddress(reference);
    if (address.Series.empty() || !address.Instance.empty())
        RaiseError("Not a DICOMweb address of a series: " + ShownAddress(reference));
    const std::string path = "/studies/" + address.Study + "/series/" + address.Series;
    const auto readable = [&](const auto& work) {
        try {
            work();
        } catch (const WException& error) {
            RaiseError("The DICOMweb server " + address.Root +
                       " sent an answer that cannot be read: " + error.what());
        }
    };
    std::optional<TMultipartReader> reader;
    bool more = true;
    std::string contentType;
    const bool whole = Perform(
        address.Root, path, login.Empty() ? address.Login : login, kAcceptDicom,
        [&](CURL* client, std::string_view bytes) {
            readable([&] {
                if (!reader) reader.emplace(MultipartBoundary(ContentTypeOf(client)));
                reader->Read(bytes, [&](std::string&& type, TByteBuffer&& body) {
                    if (more && IsDicomPart(type)) more = take(std::move(body));
                });
            });
            return more;
        },
        &contentType);
    if (!whole) return;
    readable([&] {
        if (!reader) reader.emplace(MultipartBoundary(contentType)); // an empty answer
        reader->Finish();
    });
}

} // namespace tarvicon

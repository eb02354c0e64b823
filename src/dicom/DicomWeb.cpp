#include "dicom/DicomWeb.h"

#include "dicom/Multiparts.h"
#include "dicom/QidoAnswers.h"
#include "dicom/WebStreams.h"
#include "util/Errors.h"
#include "util/Strings.h"

#include <charconv>
#include <cstdlib>
#include <curl/curl.h>
#include <memory>

namespace tarvicon {

namespace {

constexpr std::string_view kScheme = "dicomweb:";

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The body of one answer as it arrives.
struct TBody {
    CURL* Client = nullptr;
    std::string Text;
};

std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& body = *static_cast<TBody*>(user);
    if (body.Text.empty()) {
        // The whole answer in one allocation when the server says how long it is.
        curl_off_t length = -1;
        if (curl_easy_getinfo(body.Client, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
            length > 0 && length < (curl_off_t(1) << 32))
            body.Text.reserve(static_cast<std::size_t>(length));
    }
    body.Text.append(data, size * count);
    return size * count;
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

// One GET of a DICOMweb resource below the server's root; the HTTP client's and the server's
// failures become the unit's messages here.
std::string Get(const std::string& root, const std::string& path, const TWebLogin& login, const char* accept,
                std::string* contentType = nullptr) {
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
    TBody body{c, {}};
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
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
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
    if (result != CURLE_OK)
        RaiseError("Cannot reach the DICOMweb server " + root + ": " +
                   (error[0] ? std::string(error) : std::string(curl_easy_strerror(result))));
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    const std::string server = "The DICOMweb server " + root;
    if (status == 401 || status == 403)
        RaiseError(server + " refused the user name or password (HTTP " + std::to_string(status) + ")");
    if (status == 404) RaiseError(server + " does not know " + path + " (HTTP 404)");
    if (status >= 400 || status < 200) RaiseError(server + " answered HTTP " + std::to_string(status));
    if (contentType) {
        const char* type = nullptr;
        curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type);
        *contentType = type ? type : "";
    }
    return std::move(body.Text);
}

std::vector<TQidoDataset> Search(const TDicomWebAddress& server, const std::string& path) {
    const std::string answer = Get(server.Root, path, server.Login, "Accept: application/dicom+json");
    try {
        return ReadQidoAnswer(answer);
    } catch (const WException& error) {
        RaiseError("The DICOMweb server " + server.Root +
                   " sent an answer that cannot be read: " + error.what());
    }
}

} // namespace

bool IsDicomWebAddress(std::string_view text) {
    return StartsWithNoCase(text, kScheme);
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

std::vector<std::string> ListInstances(const TDicomWebAddress& address) {
    if (address.Study.empty()) RaiseError("Not a DICOMweb address of a study: " + DicomWebReference(address));
    if (!address.Instance.empty()) return {DicomWebReference(address)};
    std::string path = "/studies/" + address.Study;
    if (!address.Series.empty()) path += "/series/" + address.Series;
    std::vector<std::string> references;
    for (const TQidoDataset& dataset : Search(address, path + "/instances")) {
        TDicomWebAddress instance = address;
        instance.Series = address.Series.empty() ? QidoValue(dataset, "0020000E") : address.Series;
        instance.Instance = QidoValue(dataset, "00080018");
        if (!IsUid(instance.Series) || !IsUid(instance.Instance))
            RaiseError("The DICOMweb server " + address.Root +
                       " sent an answer that cannot be read: an instance without a series or instance UID");
        references.push_back(DicomWebReference(instance));
    }
    if (references.empty())
        RaiseError("The DICOMweb server " + address.Root + " holds no instance of " +
                   (address.Series.empty() ? "study " + address.Study : "series " + address.Series));
    return references;
}

std::string RetrieveInstance(std::string_view reference, const TWebLogin& login) {
    const TDicomWebAddress address = ParseDicomWebAddress(reference);
    if (address.Instance.empty())
        RaiseError("Not a DICOMweb address of an instance: " + ShownAddress(reference));
    const std::string path =
        "/studies/" + address.Study + "/series/" + address.Series + "/instances/" + address.Instance;
    std::string contentType;
    std::string answer =
        Get(address.Root, path, login.Empty() ? address.Login : login,
            "Accept: multipart/related; type=\"application/dicom\"; transfer-syntax=*", &contentType);
    try {
        const std::vector<TMimePart> parts = SplitMultipart(answer, MultipartBoundary(contentType));
        for (const TMimePart& part : parts) {
            const std::string_view type =
                Trim(std::string_view(part.ContentType).substr(0, part.ContentType.find(';')));
            if (type.empty() || EqualNoCase(type, "application/dicom")) {
                // The part's bytes moved to the front of the answer: no second copy of the file.
                const std::size_t start = static_cast<std::size_t>(part.Body.data() - answer.data());
                const std::size_t size = part.Body.size();
                answer.erase(start + size);
                answer.erase(0, start);
                return answer;
            }
        }
        RaiseError("the answer holds no DICOM file");
    } catch (const WException& error) {
        RaiseError("The DICOMweb server " + address.Root +
                   " sent an answer that cannot be read: " + error.what());
    }
}

} // namespace tarvicon

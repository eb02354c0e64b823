#include "dicom/Dicoms.h"

#include "dicom/ElementReader.h"
#include "dicom/JpegLs.h"
#include "dicom/LosslessJpeg.h"
#include "dicom/WebStreams.h"
#include "util/Errors.h"
#include "util/Files.h"
#include "util/Folders.h"
#include "util/Host.h"
#include "util/Strings.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <new>

namespace tarvicon {

namespace {

constexpr std::string_view kImplicitLittleEndian = "1.2.840.10008.1.2";
constexpr std::string_view kExplicitLittleEndian = "1.2.840.10008.1.2.1";
constexpr std::string_view kJpegLossless = "1.2.840.10008.1.2.4.70";
constexpr std::string_view kJpegLs = "1.2.840.10008.1.2.4.80";

bool SupportedSyntax(std::string_view syntax) {
    return syntax == kImplicitLittleEndian || syntax == kExplicitLittleEndian || syntax == kJpegLossless ||
           syntax == kJpegLs;
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The JPEG stream of each frame of encapsulated pixel data: by the basic offset table when
// its entries fall on item starts, else by the start-of-image marker at the start of an item.
std::vector<std::string_view> CutFrames(const TPixelPieces& pixels, int frames,
                                        std::deque<std::string>& joined) {
    const auto& items = pixels.Pieces;
    std::vector<std::string_view> result;
    if (items.size() < 2) return result;
    const std::string_view table = items[0];

    // Item starts as the offset table counts them: from the first item tag after the table.
    std::vector<std::uint64_t> starts;
    std::uint64_t offset = 0;
    for (std::size_t i = 1; i < items.size(); ++i) {
        starts.push_back(offset);
        offset += 8 + items[i].size();
    }

    std::vector<std::size_t> firstItem; // index into items of each frame's first fragment
    if (table.size() >= 4 * static_cast<std::size_t>(frames) && frames > 0) {
        for (int f = 0; f < frames; ++f) {
            std::uint32_t entry;
            std::memcpy(&entry, table.data() + 4 * f, 4);
            const auto at = std::find(starts.begin(), starts.end(), entry);
            if (at == starts.end() ||
                (!firstItem.empty() && firstItem.back() >= 1 + std::size_t(at - starts.begin()))) {
                firstItem.clear();
                break;
            }
            firstItem.push_back(1 + static_cast<std::size_t>(at - starts.begin()));
        }
    }
    if (firstItem.empty()) {
        for (std::size_t i = 1; i < items.size(); ++i)
            if (i == 1 || (items[i].size() >= 2 && items[i][0] == '\xFF' && items[i][1] == '\xD8'))
                firstItem.push_back(i);
        // One fragment per frame when the markers do not tell.
        if (static_cast<int>(firstItem.size()) != frames && static_cast<int>(items.size()) - 1 == frames) {
            firstItem.clear();
            for (std::size_t i = 1; i < items.size(); ++i) firstItem.push_back(i);
        }
    }
    for (std::size_t f = 0; f < firstItem.size(); ++f) {
        const std::size_t end = f + 1 < firstItem.size() ? firstItem[f + 1] : items.size();
        if (end == firstItem[f] + 1) {
            result.push_back(items[firstItem[f]]);
            continue;
        }
        std::string& frame = joined.emplace_back();
        for (std::size_t i = firstItem[f]; i < end; ++i) frame.append(items[i]);
        result.push_back(frame);
    }
    return result;
}

void WriteDumpFile(const std::string& path, std::string_view content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    file.close();
    if (!file) RaiseError("Cannot create file \"" + path + "\". " + std::strerror(errno));
}

} // namespace

const char* PixelFormatName(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf8bit:
        return "pf8bit";
    case TPixelFormat::pf16bit:
        return "pf16bit";
    case TPixelFormat::pf24bit:
        return "pf24bit";
    case TPixelFormat::pf32bit:
        return "pf32bit";
    }
    return "";
}

std::string LookupValue(const std::vector<std::string>& elements, std::string_view key) {
    for (const std::string& line : elements) {
        if (line.size() <= key.size() || line[key.size()] != '=') continue;
        if (EqualNoCase(std::string_view(line).substr(0, key.size()), key))
            return line.substr(key.size() + 1);
    }
    return {};
}

std::string SlicePositionText(const std::vector<std::string>& elements) {
    std::string text = LookupValue(elements, "Slice Location");
    if (!text.empty()) return text;
    const std::string position = LookupValue(elements, "Image Position Patient");
    const std::size_t first = position.find('\\');
    if (first == std::string::npos) return {};
    const std::size_t second = position.find('\\', first + 1);
    if (second == std::string::npos) return {};
    return position.substr(second + 1);
}

std::int32_t MillimetresToMicrometres(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double millimetres = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), millimetres);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(millimetres))
        return 0;
    double micrometres = millimetres * 1000.0;
    // A decimal text such as "1.005" means 1005 exactly; binary rounding must not make it 1004.
    const double nearest = std::nearbyint(micrometres);
    if (std::fabs(micrometres - nearest) <= 1e-9 * std::max(1.0, std::fabs(nearest))) micrometres = nearest;
    const double truncated = std::trunc(micrometres);
    if (truncated < INT32_MIN || truncated > INT32_MAX) RaiseRangeError();
    return static_cast<std::int32_t>(truncated);
}

// The final steps of a read: numbers, diagnostic dump, decompression and the full-size buffer.
class TDicomFile::TFinisher {
public:
    // owned: the file's bytes when the caller hands them over, so that uncompressed pixels can
    // stay where they are.
    TFinisher(TDicomFile& file, TElementReader& reader, TByteBuffer* owned, TReadContext& context)
        : file_(file), reader_(reader), owned_(owned), context_(context) {}

    void Run() {
        const auto& elements = file_.elements_;
        file_.imageNumber_ = static_cast<std::int32_t>(IntegerOr(LookupValue(elements, "Image number"), 0));
        file_.slicePosition_ = MillimetresToMicrometres(SlicePositionText(elements));

        const int bytesPerPixel = file_.BytesPerPixel();
        switch (bytesPerPixel) {
        case 1:
            file_.pixelFormat_ = TPixelFormat::pf8bit;
            break;
        case 2:
            file_.pixelFormat_ = TPixelFormat::pf16bit;
            break;
        case 3:
            file_.pixelFormat_ = TPixelFormat::pf24bit;
            break;
        case 4:
            file_.pixelFormat_ = TPixelFormat::pf32bit;
            break;
        default:
            RaiseError("Invalid pixel size");
        }
        file_.width_ = CheckedRange<std::uint16_t>(WholeNumberOr(LookupValue(elements, "columns"), 0));
        file_.height_ = CheckedRange<std::uint16_t>(WholeNumberOr(LookupValue(elements, "rows"), 0));
        const std::optional<long long> frames = reader_.FrameCountSeen();
        file_.frameCount_ = !frames || *frames == 0 ? 1 : CheckedRange<std::uint16_t>(*frames);

        if (context_.DumpRequested) Dump();

        const std::uint64_t frameSize =
            std::uint64_t(bytesPerPixel) * std::uint64_t(file_.width_) * std::uint64_t(file_.height_);
        const std::uint64_t imageSize = frameSize * file_.frameCount_;
        if (imageSize > UINT32_MAX) RaiseRangeError();

        const std::string syntax = LookupValue(elements, "Transfer syntax uid");
        if (syntax == kImplicitLittleEndian || syntax == kExplicitLittleEndian)
            Store(reader_.Pixels(), imageSize);
        else if (syntax == kJpegLossless || syntax == kJpegLs)
            Decode(syntax == kJpegLossless, bytesPerPixel, frameSize, imageSize);
        else
            RaiseError("Unsuported transfer syntax " + syntax);
    }

private:
    void Dump() {
        const std::string base = CacheFolder() + ProgramName();
        std::string lines;
        for (const std::string& line : file_.elements_) lines += line + '\n';
        WriteDumpFile(base + ".txt", lines);
        WriteDumpFile(base + ".dat", reader_.Pixels().Joined());
    }

    void Store(const TPixelPieces& pixels, std::uint64_t imageSize) {
        const std::size_t size = std::max<std::size_t>(pixels.Size(), imageSize);
        if (size > UINT32_MAX) RaiseRangeError();
        // Pixels that fill the image in one piece of bytes handed over become the buffer as
        // they are: no copy, no second allocation. This is the last step of a read, so nothing
        // looks at the bytes through the reader afterwards.
        if (owned_ && owned_->size() > 64 && pixels.Pieces.size() == 1 && pixels.Size() == size && size > 0) {
            const auto begin = reinterpret_cast<std::uintptr_t>(owned_->data());
            const auto piece = reinterpret_cast<std::uintptr_t>(pixels.Pieces.front().data());
            if (piece >= begin && piece - begin <= owned_->size() - size) {
                file_.pixelData_ = TByteBuffer::Narrow(std::move(*owned_), piece - begin, size);
                owned_ = nullptr;
                return;
            }
        }
        TByteBuffer buffer(size);
        std::size_t at = 0;
        for (const std::string_view piece : pixels.Pieces) {
            if (piece.empty()) continue;
            std::memcpy(buffer.data() + at, piece.data(), piece.size());
            at += piece.size();
        }
        file_.pixelData_ = std::move(buffer);
    }

    template <typename Decoded>
    void CopyFrame(TByteBuffer& buffer, std::size_t at, const Decoded& frame) {
        if (at >= buffer.size() || frame.size() == 0) return;
        std::memcpy(buffer.data() + at, frame.data(),
                    std::min<std::size_t>(frame.size(), buffer.size() - at));
    }

    void Decode(bool lossless, int bytesPerPixel, std::uint64_t frameSize, std::uint64_t imageSize) {
        const TPixelPieces& pixels = reader_.Pixels();
        const int columns = file_.width_;
        const int rows = file_.height_;
        const int frames = file_.frameCount_;
        std::deque<std::string> joinedFrames;
        std::vector<std::string_view> frameStreams;
        if (pixels.Encapsulated) frameStreams = CutFrames(pixels, frames, joinedFrames);

        if (frameStreams.empty()) {
            // Not cut into items: the whole buffer, for lossless JPEG behind a 4-byte offset table.
            std::string joined = pixels.Joined();
            std::span<const std::uint8_t> stream = Bytes(joined);
            TPixelPieces decoded;
            if (lossless) {
                stream = stream.subspan(std::min<std::size_t>(4, stream.size()));
                const TByteBuffer image =
                    DecodeLosslessJpeg(stream, bytesPerPixel, columns, rows, frames, &context_.Notices);
                decoded.Pieces.push_back({reinterpret_cast<const char*>(image.data()), image.size()});
                Store(decoded, imageSize);
            } else {
                const std::vector<std::uint8_t> image =
                    DecodeJpegLs(stream, bytesPerPixel, columns, rows, frames);
                decoded.Pieces.push_back({reinterpret_cast<const char*>(image.data()), image.size()});
                Store(decoded, imageSize);
            }
            return;
        }

        TByteBuffer buffer(imageSize);
        for (std::size_t f = 0; f < frameStreams.size() && f < std::size_t(frames); ++f) {
            const auto stream = Bytes(frameStreams[f]);
            if (lossless)
                DecodeLosslessJpegInto(stream, buffer.span().subspan(f * frameSize, frameSize),
                                       &context_.Notices);
            else
                CopyFrame(buffer, f * frameSize, DecodeJpegLs(stream, bytesPerPixel, columns, rows, 1));
        }
        file_.pixelData_ = std::move(buffer);
    }

    TDicomFile& file_;
    TElementReader& reader_;
    TByteBuffer* owned_;
    TReadContext& context_;
};

void TDicomFile::LoadFromFile(const std::string& path) {
    if (IsHttpAddress(path)) {
        const TWebStream stream(path);
        LoadFromString(stream.Text());
    } else {
        TByteBuffer owned = ReadFileBytes(path);
        LoadAsking(owned.view(), &owned);
    }
}

void TDicomFile::LoadFromString(std::string_view bytes) {
    LoadAsking(bytes, nullptr);
}

void TDicomFile::LoadFromString(std::string&& bytes) {
    const std::size_t size = bytes.size();
    TByteBuffer owned = TByteBuffer::Adopt(std::move(bytes), 0, size);
    LoadAsking(owned.view(), &owned);
}

void TDicomFile::LoadFromString(std::string&& bytes, TReadContext& context) {
    const std::size_t size = bytes.size();
    LoadFromBytes(TByteBuffer::Adopt(std::move(bytes), 0, size), context);
}

void TDicomFile::LoadFromBytes(TByteBuffer&& bytes, TReadContext& context) {
    TByteBuffer owned = std::move(bytes);
    Load(owned.view(), &owned, context);
}

void TDicomFile::LoadAsking(std::string_view bytes, TByteBuffer* owned) {
    TReadContext context;
    context.DumpRequested = Host().ShiftHeld();
    const auto show = [&context] {
        for (const std::string& notice : context.Notices) Host().Notice(notice);
    };
    try {
        Load(bytes, owned, context);
    } catch (...) {
        show();
        throw;
    }
    show();
}

void TDicomFile::Load(std::string_view bytes, TByteBuffer* owned, TReadContext& context) {
    Clear();
    TElementReader reader(bytes, elements_);
    try {
        reader.Walk();
        TFinisher(*this, reader, owned, context).Run();
    } catch (const std::exception& failure) {
        pixelData_ = TByteBuffer();
        std::string message =
            dynamic_cast<const std::bad_alloc*>(&failure) ? "Out of memory" : failure.what();
        // A walk that lost its way in an encoding it cannot read (big endian, deflated) says so
        // instead of naming the garbage it stumbled on.
        const std::string syntax = LookupValue(elements_, "Transfer syntax uid");
        const bool uid = !syntax.empty() && syntax.find_first_not_of("0123456789.") == std::string::npos;
        if (uid && !SupportedSyntax(syntax)) message = "Unsuported transfer syntax " + syntax;
        const std::size_t cursor = reader.Cursor();
        elements_.push_back(reader.Key() + "=(" + std::to_string(cursor) + ") ERROR: " + message);

        static constexpr char digits[] = "0123456789ABCDEF";
        std::string dump = "DUMP=... ";
        const auto hex = [&](std::size_t i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            dump += digits[byte >> 4];
            dump += digits[byte & 0xF];
            dump += ' ';
        };
        const std::size_t at = std::min(cursor, bytes.size());
        for (std::size_t i = at >= 8 ? at - 8 : 0; i < at; ++i) hex(i);
        dump += "# ";
        for (std::size_t i = at; i < bytes.size() && i < at + 128; ++i) hex(i);
        elements_.push_back(std::move(dump));
        const std::string raised = message + "\r\nTag: " + reader.Key();
        if (dynamic_cast<const WRangeError*>(&failure)) throw WRangeError(raised);
        throw WException(raised);
    }
}

void TDicomFile::Clear() {
    pixelData_ = TByteBuffer();
    elements_.clear();
}

void TDicomFile::FreePixelData() {
    pixelData_ = TByteBuffer();
}

std::string TDicomFile::Value(std::string_view key) const {
    return LookupValue(elements_, key);
}

int TDicomFile::BytesPerPixel() const {
    return BytesPerPixelOf(elements_);
}

} // namespace tarvicon

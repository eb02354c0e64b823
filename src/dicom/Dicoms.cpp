#include "dicom/Dicoms.h"

#include "dicom/ColourSpaces.h"
#include "dicom/ElementReader.h"
#include "dicom/EncapsulatedFrames.h"
#include "dicom/FrameCodecs.h"
#include "dicom/JpegLs.h"
#include "dicom/LosslessJpeg.h"
#include "dicom/TransferSyntaxes.h"
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

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A syntax whose name the reader can tell: digits and dots.
bool LooksLikeUid(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789.") == std::string_view::npos;
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

TLossyCompression LossyCompressionOf(const std::vector<std::string>& elements) {
    const TTransferSyntax* syntax = FindTransferSyntax(LookupValue(elements, "Transfer syntax uid"));
    const std::string said = LookupValue(elements, "0028.2110");
    const TLossiness lossiness = syntax ? syntax->Lossiness : TLossiness::Never;
    TLossyCompression lossy;
    lossy.Lossy = lossiness == TLossiness::Always || (lossiness == TLossiness::Possibly && said != "00") ||
                  said == "01";
    if (!lossy.Lossy) return lossy;
    // Values of several steps of compression: the first is shown.
    const auto first = [](std::string value) { return value.substr(0, value.find('\\')); };
    lossy.Ratio = first(LookupValue(elements, "0028.2112"));
    lossy.Method = first(LookupValue(elements, "0028.2114"));
    if (lossy.Method.empty() && syntax) lossy.Method = syntax->Method;
    return lossy;
}

namespace {

// A compression ratio as a reader takes it in: one decimal at most ("2.89048648171834" is "2.9").
std::string RatioText(std::string_view ratio) {
    ratio = Trim(ratio);
    double value = 0;
    const auto [end, error] = std::from_chars(ratio.data(), ratio.data() + ratio.size(), value);
    if (error != std::errc() || end != ratio.data() + ratio.size() || !std::isfinite(value) || value <= 0)
        return std::string(ratio);
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    std::string text(buffer, written.ptr);
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
    return text;
}

} // namespace

std::string LossyMarkText(const TLossyCompression& lossy) {
    if (!lossy.Lossy) return {};
    std::string text = "LOSSY";
    if (!lossy.Ratio.empty()) text += " " + RatioText(lossy.Ratio) + ":1";
    if (!lossy.Method.empty()) text += " " + lossy.Method;
    return text;
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

        const std::string uid = LookupValue(elements, "Transfer syntax uid");
        const TTransferSyntax* syntax = FindTransferSyntax(uid);
        if (!syntax) RaiseError("Unsuported transfer syntax " + uid);
        file_.lossy_ = LossyCompressionOf(elements);
        switch (syntax->Codec) {
        case TPixelCodec::Native:
            StoreNative(imageSize);
            return;
        case TPixelCodec::LosslessJpeg:
        case TPixelCodec::JpegLs:
            Decode(syntax->Codec == TPixelCodec::LosslessJpeg, bytesPerPixel, frameSize, imageSize);
            return;
        default:
            DecodeFrames(syntax->Codec, frameSize, imageSize);
        }
    }

private:
    void Dump() {
        const std::string base = CacheFolder() + ProgramName();
        std::string lines;
        for (const std::string& line : file_.elements_) lines += line + '\n';
        WriteDumpFile(base + ".txt", lines);
        WriteDumpFile(base + ".dat", reader_.Pixels().Joined());
    }

    TFrameLayout Layout() const {
        const auto& elements = file_.elements_;
        TFrameLayout layout;
        layout.Columns = file_.width_;
        layout.Rows = file_.height_;
        layout.Samples = static_cast<int>(IntegerOr(LookupValue(elements, "Samples per pixel"), 1));
        layout.BytesPerSample = static_cast<int>(IntegerOr(LookupValue(elements, "Bits allocated"), 8) / 8);
        layout.BitsStored = static_cast<int>(IntegerOr(LookupValue(elements, "Bits stored"), 8));
        layout.Signed = IntegerOr(LookupValue(elements, "0028.0103"), 0) == 1;
        layout.Photometric = std::string(Trim(LookupValue(elements, "Photometric Interpretation")));
        layout.PlanarConfiguration = static_cast<int>(IntegerOr(LookupValue(elements, "0028.0006"), 0));
        return layout;
    }

    // Uncompressed pixels: words to the host's order, colour planes interleaved, YBR to RGB.
    void StoreNative(std::uint64_t imageSize) {
        Store(reader_.Pixels(), imageSize);
        const TFrameLayout layout = Layout();
        TByteBuffer& pixels = file_.pixelData_;
        if (reader_.BigEndian() && layout.BytesPerSample > 1) SwapWords(pixels.span(), layout.BytesPerSample);
        if (layout.Samples != 3 || layout.BytesPerSample > 2) return;
        const std::size_t frameBytes = layout.FrameBytes();
        if (frameBytes == 0) return;
        const std::size_t frames = std::min<std::size_t>(file_.frameCount_, pixels.size() / frameBytes);
        if (layout.Photometric == "YBR_FULL_422" && layout.BytesPerSample == 1) {
            // Two luma samples share one pair of chroma samples: 2 bytes a pixel, in pairs per row.
            const std::size_t packed = Ybr422FrameBytes(layout.Columns, layout.Rows);
            const std::string source(reinterpret_cast<const char*>(pixels.data()),
                                     std::min(pixels.size(), packed * frames));
            for (std::size_t f = 0; f < frames && (f + 1) * packed <= source.size(); ++f)
                Ybr422ToRgb(Bytes(source).subspan(f * packed, packed), layout.Columns, layout.Rows,
                            pixels.span().subspan(f * frameBytes, frameBytes));
            return;
        }
        for (std::size_t f = 0; f < frames; ++f)
            FinishColour(layout, pixels.span().subspan(f * frameBytes, frameBytes));
    }

    // A stored colour frame: planes interleaved, YBR_FULL to RGB.
    static void FinishColour(const TFrameLayout& layout, std::span<std::uint8_t> frame) {
        if (layout.Samples != 3) return;
        if (layout.PlanarConfiguration == 1) PlanarToInterleaved(frame, layout.BytesPerSample);
        if (layout.Photometric == "YBR_FULL" && layout.BytesPerSample == 1) YbrFullToRgb(frame);
    }

    // Samples of a big endian data set to the host's order.
    static void SwapWords(std::span<std::uint8_t> bytes, int size) {
        const std::size_t step = static_cast<std::size_t>(size);
        for (std::size_t i = 0; i + step <= bytes.size(); i += step)
            std::reverse(&bytes[i], &bytes[i] + step);
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
            // Pixels of an inflated data set lie elsewhere and may be larger than the file.
            if (piece >= begin && size <= owned_->size() && piece - begin <= owned_->size() - size) {
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

    // The frames of encapsulated pixel data; of pixel data read as one value, when that value holds
    // items; else nothing.
    std::vector<std::string_view> FrameStreams(std::deque<std::string>& joined) const {
        const TPixelPieces& pixels = reader_.Pixels();
        if (pixels.Encapsulated)
            return CutEncapsulatedFrames({pixels.Pieces, reader_.ExtendedOffsets()}, file_.frameCount_,
                                         joined);
        std::vector<std::string_view> items = ItemsOfValue(pixels.Pieces.size() == 1 ? pixels.Pieces[0] : "");
        if (items.size() < 2) return {};
        return CutEncapsulatedFrames({std::move(items), reader_.ExtendedOffsets()}, file_.frameCount_,
                                     joined);
    }

    // Lossless JPEG and JPEG-LS, whose decoders also take the pixel data as one stream.
    void Decode(bool lossless, int bytesPerPixel, std::uint64_t frameSize, std::uint64_t imageSize) {
        const TPixelPieces& pixels = reader_.Pixels();
        const int columns = file_.width_;
        const int rows = file_.height_;
        const int frames = file_.frameCount_;
        if (!pixels.Encapsulated || pixels.Pieces.size() < 2) {
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

        std::deque<std::string> joined;
        const std::vector<std::string_view> streams = FrameStreams(joined);
        TByteBuffer buffer(imageSize);
        for (std::size_t f = 0; f < streams.size(); ++f) {
            const auto stream = Bytes(streams[f]);
            if (lossless)
                DecodeLosslessJpegInto(stream, buffer.span().subspan(f * frameSize, frameSize),
                                       &context_.Notices);
            else
                CopyFrame(buffer, f * frameSize, DecodeJpegLs(stream, bytesPerPixel, columns, rows, 1));
        }
        file_.pixelData_ = std::move(buffer);
    }

    using TFrameDecoder = void (*)(std::span<const std::uint8_t>, const TFrameLayout&,
                                   std::span<std::uint8_t>);

    static TFrameDecoder DecoderOf(TPixelCodec codec) {
        switch (codec) {
        case TPixelCodec::Jpeg:
            return &DecodeJpegFrame;
        case TPixelCodec::Jpeg2000:
            return &DecodeJpeg2000Frame;
        case TPixelCodec::Htj2k:
            return &DecodeHtj2kFrame;
        case TPixelCodec::Rle:
            return &DecodeRleFrame;
        case TPixelCodec::JpegXl:
            return &DecodeJpegXlFrame;
        default:
            return nullptr;
        }
    }

    // Every frame of an image in the other compressed syntaxes, each by its codec into its place.
    void DecodeFrames(TPixelCodec codec, std::uint64_t frameSize, std::uint64_t imageSize) {
        TFrameLayout layout = Layout();
        // RLE also keeps 32-bit samples (dose grids); the other codecs go to 16 bits.
        const int widest = codec == TPixelCodec::Rle ? 4 : 2;
        if (layout.FrameBytes() != frameSize || layout.BytesPerSample < 1 || layout.BytesPerSample > widest ||
            (layout.Samples != 1 && layout.Samples != 3))
            RaiseError("Invalid pixel size");
        const TPixelPieces& pixels = reader_.Pixels();
        std::deque<std::string> joined;
        std::vector<std::string_view> streams = FrameStreams(joined);
        if (streams.empty()) {
            // A single frame stored as a plain value is its own codestream.
            if (pixels.Encapsulated || file_.frameCount_ != 1 || pixels.Empty())
                RaiseError("Compressed pixel data holds no frames");
            streams.push_back(joined.emplace_back(pixels.Joined()));
        }

        const TFrameDecoder decoder = DecoderOf(codec);
        TByteBuffer buffer(imageSize);
        for (std::size_t f = 0; f < streams.size(); ++f) {
            const std::span<std::uint8_t> frame = buffer.span().subspan(f * frameSize, frameSize);
            try {
                decoder(Bytes(streams[f]), layout, frame);
            } catch (const WException& failure) {
                if (streams.size() == 1) throw;
                RaiseError("Frame " + std::to_string(f + 1) + " of " + std::to_string(streams.size()) + ": " +
                           failure.what());
            }
        }
        // RLE hands back what was stored: YBR_FULL as it is, always interleaved by the decoder.
        if (codec == TPixelCodec::Rle) {
            layout.PlanarConfiguration = 0;
            for (std::size_t f = 0; f < streams.size(); ++f)
                FinishColour(layout, buffer.span().subspan(f * frameSize, frameSize));
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
        if (LooksLikeUid(syntax) && !FindTransferSyntax(syntax))
            message = "Unsuported transfer syntax " + syntax;
        const std::size_t cursor = reader.Cursor();
        const std::string_view walked = reader.Data();
        elements_.push_back(reader.Key() + "=(" + std::to_string(cursor) + ") ERROR: " + message);

        static constexpr char digits[] = "0123456789ABCDEF";
        std::string dump = "DUMP=... ";
        const auto hex = [&](std::size_t i) {
            const auto byte = static_cast<unsigned char>(walked[i]);
            dump += digits[byte >> 4];
            dump += digits[byte & 0xF];
            dump += ' ';
        };
        const std::size_t at = std::min(cursor, walked.size());
        for (std::size_t i = at >= 8 ? at - 8 : 0; i < at; ++i) hex(i);
        dump += "# ";
        for (std::size_t i = at; i < walked.size() && i < at + 128; ++i) hex(i);
        elements_.push_back(std::move(dump));
        const std::string raised = message + "\r\nTag: " + reader.Key();
        if (dynamic_cast<const WRangeError*>(&failure)) throw WRangeError(raised);
        throw WException(raised);
    }
}

void TDicomFile::Clear() {
    pixelData_ = TByteBuffer();
    elements_.clear();
    lossy_ = {};
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

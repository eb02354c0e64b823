#include "volume/MovieFiles.h"

#include "util/Errors.h"
#include "util/PendingFiles.h"
#include "util/Strings.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace tarvicon {

namespace {

enum class TContainer { None, Mp4, WebM };

TContainer ContainerOf(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return TContainer::None;
    const std::string_view extension = std::string_view(path).substr(dot);
    if (EqualNoCase(extension, ".mp4")) return TContainer::Mp4;
    if (EqualNoCase(extension, ".webm")) return TContainer::WebM;
    return TContainer::None;
}

std::string AvMessage(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

struct TFormatFree {
    void operator()(AVFormatContext* format) const {
        avio_closep(&format->pb);
        avformat_free_context(format);
    }
};
struct TCodecFree {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct TFrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct TPacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct TScaleFree {
    void operator()(SwsContext* scale) const { sws_freeContext(scale); }
};
// Options for the encoder or the muxer; what they leave was not understood.
class TOptions {
public:
    TOptions() = default;
    TOptions(const TOptions&) = delete;
    TOptions& operator=(const TOptions&) = delete;
    ~TOptions() { av_dict_free(&options_); }
    void Set(const char* key, const char* value) { av_dict_set(&options_, key, value, 0); }
    AVDictionary** Get() { return &options_; }
    // The first option left, or empty.
    std::string Left() const {
        const AVDictionaryEntry* entry = av_dict_get(options_, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        return entry ? entry->key : "";
    }

private:
    AVDictionary* options_ = nullptr;
};

} // namespace

bool IsMovieName(const std::string& path) {
    return ContainerOf(path) != TContainer::None;
}

struct TMovieWriter::TState {
    std::string path;
    // Declared first, so the file is closed (the format below) before the temporary is removed.
    std::optional<TPendingFile> pending;
    std::unique_ptr<AVFormatContext, TFormatFree> format;
    std::unique_ptr<AVCodecContext, TCodecFree> codec;
    std::unique_ptr<AVFrame, TFrameFree> frame;
    std::unique_ptr<AVPacket, TPacketFree> packet;
    std::unique_ptr<SwsContext, TScaleFree> scale;
    AVStream* stream = nullptr; // the format's
    int width = 0, height = 0;  // of the pictures; the frames may be one larger
    std::vector<std::uint32_t> padded;
    int frames = 0;
    bool finished = false;

    [[noreturn]] void Raise(const std::string& reason) const {
        RaiseError("Cannot write file \"" + path + "\". " + reason);
    }
    void Check(int result) const {
        if (result < 0) Raise(AvMessage(result));
    }

    // Sends a frame (or, with none, the end) and writes every packet the encoder gives back.
    void Encode(const AVFrame* input) {
        Check(avcodec_send_frame(codec.get(), input));
        for (;;) {
            const int result = avcodec_receive_packet(codec.get(), packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
            Check(result);
            // Every frame lasts one tick of the time base. The encoders leave the duration
            // out, and without it the MP4 muxer cuts the last frame off the edit list.
            if (packet->duration <= 0) packet->duration = 1;
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            // Takes the packet's data and leaves it blank.
            Check(av_interleaved_write_frame(format.get(), packet.get()));
        }
    }
};

TMovieWriter::TMovieWriter(const std::string& path, int width, int height, int framesPerSecond)
    : state_(std::make_unique<TState>()) {
    const TContainer container = ContainerOf(path);
    if (container == TContainer::None) RaiseError("Unknown movie file extension: " + path);
    if (width <= 0 || height <= 0) RaiseError("The picture is empty");
    // FFmpeg's own console messages stay quiet: its errors reach the user as ours.
    av_log_set_level(AV_LOG_QUIET);
    const bool mp4 = container == TContainer::Mp4;
    const int fps = std::max(1, framesPerSecond);
    TState& s = *state_;
    s.path = path;
    s.width = width;
    s.height = height;
    s.pending.emplace(path);
    const char* const temporary = s.pending->TemporaryPath().c_str();

    AVFormatContext* format = nullptr;
    s.Check(avformat_alloc_output_context2(&format, nullptr, mp4 ? "mp4" : "webm", temporary));
    s.format.reset(format);
    const AVCodec* encoder = avcodec_find_encoder_by_name(mp4 ? "libx264" : "libvpx-vp9");
    if (!encoder) s.Raise(mp4 ? "No H.264 encoder" : "No VP9 encoder");
    s.stream = avformat_new_stream(format, nullptr);
    s.codec.reset(avcodec_alloc_context3(encoder));
    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.stream || !s.codec || !s.frame || !s.packet) s.Check(AVERROR(ENOMEM));

    AVCodecContext& c = *s.codec;
    // 4:2:0 colour needs even sizes: an odd picture gets one black column or row.
    c.width = width + (width & 1);
    c.height = height + (height & 1);
    c.pix_fmt = AV_PIX_FMT_YUV420P;
    c.time_base = AVRational{1, fps};
    c.framerate = AVRational{fps, 1};
    c.gop_size = 2 * fps;
    // Said in the stream, so players convert back as the frames were converted (BT.709).
    c.color_range = AVCOL_RANGE_MPEG;
    c.colorspace = AVCOL_SPC_BT709;
    c.color_primaries = AVCOL_PRI_BT709;
    c.color_trc = AVCOL_TRC_BT709;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    TOptions codecOptions;
    if (mp4) {
        codecOptions.Set("preset", "veryfast");
        codecOptions.Set("crf", "18");
    } else {
        // Constant quality (no bit rate), as fast as libvpx goes.
        codecOptions.Set("deadline", "realtime");
        codecOptions.Set("cpu-used", "8");
        codecOptions.Set("row-mt", "1");
        codecOptions.Set("crf", "30");
        codecOptions.Set("b", "0");
    }
    s.Check(avcodec_open2(&c, encoder, codecOptions.Get()));
    if (!codecOptions.Left().empty()) s.Raise("The encoder has no option " + codecOptions.Left());
    s.Check(avcodec_parameters_from_context(s.stream->codecpar, &c));
    s.stream->time_base = c.time_base;
    s.Check(avio_open(&format->pb, temporary, AVIO_FLAG_WRITE));
    TOptions formatOptions;
    // The index before the frames: players can start before the whole file has arrived.
    if (mp4) formatOptions.Set("movflags", "+faststart");
    s.Check(avformat_write_header(format, formatOptions.Get()));
    if (!formatOptions.Left().empty()) s.Raise("The muxer has no option " + formatOptions.Left());

    s.frame->format = c.pix_fmt;
    s.frame->width = c.width;
    s.frame->height = c.height;
    s.Check(av_frame_get_buffer(s.frame.get(), 0));
    s.scale.reset(sws_getContext(c.width, c.height, AV_PIX_FMT_BGRA, c.width, c.height, c.pix_fmt,
                                 SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr,
                                 nullptr));
    if (!s.scale) s.Raise("No colour conversion from BGRA");
    const int* const bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(s.scale.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    if (c.width != width || c.height != height)
        s.padded.assign(std::size_t(c.width) * std::size_t(c.height), 0xFF000000u);
}

TMovieWriter::~TMovieWriter() = default;

int TMovieWriter::FrameCount() const {
    return state_->frames;
}

void TMovieWriter::AddFrame(const TBitmap32& picture) {
    TState& s = *state_;
    if (s.finished) s.Raise("The movie is finished");
    if (picture.Width() != s.width || picture.Height() != s.height) RaiseError("Movie frames differ in size");
    const std::uint32_t* source = picture.Bits();
    int stride = s.width * 4;
    if (!s.padded.empty()) {
        // The padding column and row stay black from the start.
        const int width = s.codec->width;
        for (int y = 0; y < s.height; ++y)
            std::memcpy(s.padded.data() + std::size_t(y) * std::size_t(width),
                        picture.Bits() + std::size_t(y) * std::size_t(s.width), std::size_t(s.width) * 4);
        source = s.padded.data();
        stride = width * 4;
    }
    // The encoder may still hold the last frame's buffers.
    s.Check(av_frame_make_writable(s.frame.get()));
    const std::uint8_t* const planes[1] = {reinterpret_cast<const std::uint8_t*>(source)};
    const int strides[1] = {stride};
    sws_scale(s.scale.get(), planes, strides, 0, s.codec->height, s.frame->data, s.frame->linesize);
    s.frame->pts = s.frames;
    s.Encode(s.frame.get());
    ++s.frames;
}

void TMovieWriter::Finish() {
    TState& s = *state_;
    if (s.finished) return;
    s.Encode(nullptr);
    s.Check(av_write_trailer(s.format.get()));
    s.Check(avio_closep(&s.format->pb));
    s.pending->Commit();
    s.finished = true;
}

} // namespace tarvicon

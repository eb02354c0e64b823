#include "volume/MovieFiles.h"

#include "util/Errors.h"
#include "util/PendingFiles.h"
#include "util/Strings.h"

#include <algorithm>
#include <cstring>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace tarvicon {

namespace {

std::string Extension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return UpperCase(path.substr(dot));
}

std::string AvMessage(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

struct TCodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TScaleFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct TFormatFree {
    void operator()(AVFormatContext* f) const {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};

} // namespace

bool IsMovieName(const std::string& path) {
    const std::string extension = Extension(path);
    return extension == ".MP4" || extension == ".WEBM";
}

struct TMovieWriter::TState {
    std::string path;
    std::optional<TPendingFile> pending;
    std::unique_ptr<AVFormatContext, TFormatFree> format;
    std::unique_ptr<AVCodecContext, TCodecFree> codec;
    std::unique_ptr<AVFrame, TFrameFree> frame;
    std::unique_ptr<AVPacket, TPacketFree> packet;
    std::unique_ptr<SwsContext, TScaleFree> scale;
    AVStream* stream = nullptr;
    int width = 0, height = 0;
    int frames = 0;
    bool finished = false;

    void Check(int result) const {
        if (result < 0) RaiseError("Cannot write file \"" + path + "\". " + AvMessage(result));
    }

    // Sends a frame (or, with none, the end) and writes every packet the encoder gives back.
    void Encode(AVFrame* input) {
        Check(avcodec_send_frame(codec.get(), input));
        for (;;) {
            const int result = avcodec_receive_packet(codec.get(), packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
            Check(result);
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            Check(av_interleaved_write_frame(format.get(), packet.get()));
        }
    }
};

TMovieWriter::TMovieWriter(const std::string& path, int width, int height, int framesPerSecond)
    : state_(std::make_unique<TState>()) {
    TState& s = *state_;
    s.path = path;
    const std::string extension = Extension(path);
    if (!IsMovieName(path)) RaiseError("Unknown movie file extension: " + path);
    if (width <= 0 || height <= 0) RaiseError("The picture is empty");
    av_log_set_level(AV_LOG_QUIET);
    s.width = width;
    s.height = height;
    s.pending.emplace(path);

    const bool mp4 = extension == ".MP4";
    AVFormatContext* format = nullptr;
    s.Check(avformat_alloc_output_context2(&format, nullptr, mp4 ? "mp4" : "webm",
                                           s.pending->TemporaryPath().c_str()));
    s.format.reset(format);
    const AVCodec* encoder = avcodec_find_encoder_by_name(mp4 ? "libx264" : "libvpx-vp9");
    if (!encoder) encoder = avcodec_find_encoder(mp4 ? AV_CODEC_ID_H264 : AV_CODEC_ID_VP9);
    if (!encoder) RaiseError("Cannot write file \"" + path + "\". No encoder for " + extension);
    s.stream = avformat_new_stream(format, nullptr);
    s.codec.reset(avcodec_alloc_context3(encoder));
    if (!s.stream || !s.codec) RaiseError("Cannot write file \"" + path + "\". Out of memory");
    AVCodecContext& c = *s.codec;
    // 4:2:0 colour needs even sizes: an odd picture gets one black column or row.
    c.width = (width + 1) & ~1;
    c.height = (height + 1) & ~1;
    c.pix_fmt = AV_PIX_FMT_YUV420P;
    c.time_base = AVRational{1, std::max(1, framesPerSecond)};
    c.framerate = AVRational{std::max(1, framesPerSecond), 1};
    c.gop_size = 2 * std::max(1, framesPerSecond);
    if (format->oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (mp4) {
        av_opt_set(c.priv_data, "preset", "veryfast", 0);
        av_opt_set(c.priv_data, "crf", "18", 0);
    } else {
        av_opt_set(c.priv_data, "deadline", "realtime", 0);
        av_opt_set_int(c.priv_data, "cpu-used", 8, 0);
        av_opt_set_int(c.priv_data, "row-mt", 1, 0);
        av_opt_set(c.priv_data, "crf", "30", 0);
        c.bit_rate = 0;
    }
    s.Check(avcodec_open2(&c, encoder, nullptr));
    s.Check(avcodec_parameters_from_context(s.stream->codecpar, &c));
    s.stream->time_base = c.time_base;
    s.Check(avio_open(&format->pb, s.pending->TemporaryPath().c_str(), AVIO_FLAG_WRITE));
    s.Check(avformat_write_header(format, nullptr));

    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.frame || !s.packet) RaiseError("Cannot write file \"" + path + "\". Out of memory");
    s.frame->format = c.pix_fmt;
    s.frame->width = c.width;
    s.frame->height = c.height;
    s.Check(av_frame_get_buffer(s.frame.get(), 0));
    s.scale.reset(sws_getContext(c.width, c.height, AV_PIX_FMT_BGRA, c.width, c.height, c.pix_fmt,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!s.scale) RaiseError("Cannot write file \"" + path + "\". No colour conversion");
}

TMovieWriter::~TMovieWriter() = default;

int TMovieWriter::FrameCount() const {
    return state_->frames;
}

void TMovieWriter::AddFrame(const TBitmap32& picture) {
    TState& s = *state_;
    if (s.finished) RaiseError("Cannot write file \"" + s.path + "\". The movie is finished");
    if (picture.Width() != s.width || picture.Height() != s.height) RaiseError("Movie frames differ in size");
    const int width = s.codec->width, height = s.codec->height;
    const std::uint8_t* source = reinterpret_cast<const std::uint8_t*>(picture.Bits());
    int stride = picture.Width() * 4;
    std::vector<std::uint32_t> padded;
    if (width != s.width || height != s.height) {
        padded.assign(std::size_t(width) * std::size_t(height), 0xFF000000u);
        for (int y = 0; y < s.height; ++y)
            std::memcpy(padded.data() + std::size_t(y) * std::size_t(width),
                        picture.Bits() + std::size_t(y) * std::size_t(s.width), std::size_t(s.width) * 4);
        source = reinterpret_cast<const std::uint8_t*>(padded.data());
        stride = width * 4;
    }
    s.Check(av_frame_make_writable(s.frame.get()));
    const std::uint8_t* planes[1] = {source};
    const int strides[1] = {stride};
    sws_scale(s.scale.get(), planes, strides, 0, height, s.frame->data, s.frame->linesize);
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
    s.finished = true;
    s.pending->Commit();
}

} // namespace tarvicon

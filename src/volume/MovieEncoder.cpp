// The FFmpeg side of videos, built as the module libtarvicon_movies.so (MovieEncoders.h).

#include "volume/MovieEncoders.h"

#include <memory>
#include <new>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace tarvicon {

namespace {

// Leaves a function of the encoder with the reason it failed.
struct TFailure {
    std::string Reason;
};

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

class TFfmpegEncoder final : public IMovieEncoder {
public:
    TFfmpegEncoder(const char* path, bool mp4, int width, int height, int framesPerSecond);

    std::string AddFrame(const std::uint32_t* pixels, int stride) override {
        return Guarded([&] {
            // The encoder may still hold the last frame's buffers.
            Check(av_frame_make_writable(frame_.get()));
            const std::uint8_t* const planes[1] = {reinterpret_cast<const std::uint8_t*>(pixels)};
            const int strides[1] = {stride};
            sws_scale(scale_.get(), planes, strides, 0, codec_->height, frame_->data, frame_->linesize);
            frame_->pts = frames_++;
            Encode(frame_.get());
        });
    }

    std::string Finish() override {
        return Guarded([&] {
            Encode(nullptr);
            Check(av_write_trailer(format_.get()));
            Check(avio_closep(&format_->pb));
        });
    }

    template <typename Work>
    static std::string Guarded(const Work& work) {
        try {
            work();
            return {};
        } catch (const TFailure& failure) {
            return failure.Reason;
        } catch (const std::bad_alloc&) {
            return AvMessage(AVERROR(ENOMEM));
        }
    }

private:
    static void Check(int result) {
        if (result < 0) throw TFailure{AvMessage(result)};
    }

    // Sends a frame (or, with none, the end) and writes every packet the encoder gives back.
    void Encode(const AVFrame* input) {
        Check(avcodec_send_frame(codec_.get(), input));
        for (;;) {
            const int result = avcodec_receive_packet(codec_.get(), packet_.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
            Check(result);
            // Every frame lasts one tick of the time base. The encoders leave the duration
            // out, and without it the MP4 muxer cuts the last frame off the edit list.
            if (packet_->duration <= 0) packet_->duration = 1;
            av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            // Takes the packet's data and leaves it blank.
            Check(av_interleaved_write_frame(format_.get(), packet_.get()));
        }
    }

    std::unique_ptr<AVFormatContext, TFormatFree> format_;
    std::unique_ptr<AVCodecContext, TCodecFree> codec_;
    std::unique_ptr<AVFrame, TFrameFree> frame_;
    std::unique_ptr<AVPacket, TPacketFree> packet_;
    std::unique_ptr<SwsContext, TScaleFree> scale_;
    AVStream* stream_ = nullptr; // the format's
    int frames_ = 0;
};

TFfmpegEncoder::TFfmpegEncoder(const char* path, bool mp4, int width, int height, int framesPerSecond) {
    // FFmpeg's own console messages stay quiet: its errors reach the user as ours.
    av_log_set_level(AV_LOG_QUIET);
    const int fps = framesPerSecond;
    AVFormatContext* format = nullptr;
    Check(avformat_alloc_output_context2(&format, nullptr, mp4 ? "mp4" : "webm", path));
    format_.reset(format);
    const AVCodec* encoder = avcodec_find_encoder_by_name(mp4 ? "libx264" : "libvpx-vp9");
    if (!encoder) throw TFailure{mp4 ? "No H.264 encoder" : "No VP9 encoder"};
    stream_ = avformat_new_stream(format, nullptr);
    codec_.reset(avcodec_alloc_context3(encoder));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!stream_ || !codec_ || !frame_ || !packet_) Check(AVERROR(ENOMEM));

    AVCodecContext& c = *codec_;
    c.width = width;
    c.height = height;
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
    Check(avcodec_open2(&c, encoder, codecOptions.Get()));
    if (!codecOptions.Left().empty()) throw TFailure{"The encoder has no option " + codecOptions.Left()};
    Check(avcodec_parameters_from_context(stream_->codecpar, &c));
    stream_->time_base = c.time_base;
    Check(avio_open(&format->pb, path, AVIO_FLAG_WRITE));
    TOptions formatOptions;
    // The index before the frames: players can start before the whole file has arrived.
    if (mp4) formatOptions.Set("movflags", "+faststart");
    Check(avformat_write_header(format, formatOptions.Get()));
    if (!formatOptions.Left().empty()) throw TFailure{"The muxer has no option " + formatOptions.Left()};

    frame_->format = c.pix_fmt;
    frame_->width = c.width;
    frame_->height = c.height;
    Check(av_frame_get_buffer(frame_.get(), 0));
    scale_.reset(sws_getContext(c.width, c.height, AV_PIX_FMT_BGRA, c.width, c.height, c.pix_fmt,
                                SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr,
                                nullptr));
    if (!scale_) throw TFailure{"No colour conversion from BGRA"};
    const int* const bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scale_.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
}

} // namespace

} // namespace tarvicon

extern "C" __attribute__((visibility("default"))) tarvicon::IMovieEncoder*
TarviconOpenMovieEncoder(const char* path, bool mp4, int width, int height, int framesPerSecond,
                         std::string* reason) {
    std::unique_ptr<tarvicon::IMovieEncoder> encoder;
    *reason = tarvicon::TFfmpegEncoder::Guarded([&] {
        encoder = std::make_unique<tarvicon::TFfmpegEncoder>(path, mp4, width, height, framesPerSecond);
    });
    return reason->empty() ? encoder.release() : nullptr;
}

// The FFmpeg back end, built as a plug-in (libquillomark_video.so) and
// loaded on first use: clips decoded through libavformat and libavcodec,
// frames converted by libswscale, encoded and muxed, with the audio and
// subtitle packets of a source clip copied across as they are.
//
// The libraries' log goes nowhere but into the messages of our errors: a
// damaged file is reported once, in the program's words, with the
// library's own reason.
#include "backends.h"
#include "file_bytes.h"
#include "video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/timecode.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <filesystem>
#include <mutex>

namespace corvane::media {

namespace {

const std::atomic<bool> *gCancel = nullptr; // the program's, given at loading

void throwIfCancelled()
{
    if (gCancel && gCancel->load())
        throw Cancelled();
}

std::mutex gLogMutex;
std::string gLastLog; // the libraries' last error line

void keepErrors(void *object, int level, const char *format, va_list args)
{
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    int prefix = 0;
    av_log_format_line2(object, level, format, args, line, sizeof line, &prefix);
    std::string text = line;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    const std::lock_guard<std::mutex> lock(gLogMutex);
    gLastLog = text;
}

// The library's reason for `code`: its last logged error when it gave one.
std::string why(int code)
{
    std::string logged;
    {
        const std::lock_guard<std::mutex> lock(gLogMutex);
        logged.swap(gLastLog);
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return logged.empty() ? std::string(text) : logged + " (" + text + ")";
}

// Owners of the libraries' objects, each released by its own function.
template <typename T, auto Free> struct Owned {
    T *p = nullptr;
    Owned() = default;
    explicit Owned(T *object) : p(object) {}
    ~Owned() { Free(&p); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
    T *operator->() const { return p; }
};
using CodecContext = Owned<AVCodecContext, avcodec_free_context>;
using Frame = Owned<AVFrame, av_frame_free>;
using Packet = Owned<AVPacket, av_packet_free>;
struct Scaler {
    SwsContext *p = nullptr;
    int space = -1, range = -1; // the colours it was set up for
    ~Scaler() { sws_freeContext(p); }
};
// A file being muxed; one not finished is closed as it stands, for the
// caller to discard.
struct Output {
    AVFormatContext *p = nullptr;
    ~Output()
    {
        if (p && p->pb)
            avio_closep(&p->pb);
        avformat_free_context(p);
    }
    AVFormatContext *operator->() const { return p; }
};

std::string lowerExtension(const std::string &path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

// A clip opened for demuxing; `what` begins each message ("cannot read video \"a.mov\"").
struct Input {
    AVFormatContext *ctx = nullptr;
    std::string what;

    Input(const std::string &path, std::string message) : what(std::move(message))
    {
        const RegularFile file(path); // refuses devices and FIFOs before the library opens them
        if (!file.ok())
            throw MediaError(what + ": " + file.error());
        if (const int ret = avformat_open_input(&ctx, path.c_str(), nullptr, nullptr); ret < 0)
            throw MediaError(what + ": " + why(ret));
        if (const int ret = avformat_find_stream_info(ctx, nullptr); ret < 0) {
            avformat_close_input(&ctx);
            throw MediaError(what + ": " + why(ret));
        }
    }
    ~Input() { avformat_close_input(&ctx); }
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;

    int videoStream() const
    {
        const int index = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0)
            throw MediaError(what + ": it holds no video stream");
        return index;
    }
    // Where frame `frame` of the video stream starts, in the time base of stream `to`.
    int64_t frameTime(int video, AVRational rate, int64_t frame, int to) const
    {
        const AVStream *v = ctx->streams[video];
        const int64_t start = v->start_time == AV_NOPTS_VALUE ? 0 : v->start_time;
        const AVRational tb = ctx->streams[to]->time_base;
        return av_rescale_q(start, v->time_base, tb) + av_rescale_q(frame, av_inv_q(rate), tb);
    }
};

// Video carries Rec. 709 colours when tagged so, and when untagged at HD
// sizes; smaller untagged frames are Rec. 601.
int coefficientsOf(AVColorSpace space, int height)
{
    switch (space) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return SWS_CS_ITU601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

AVPixelFormat rgbFormat(const ImageShape &shape)
{
    const bool deep = shape.type == PixelType::UInt16;
    if (shape.hasAlpha)
        return deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    return deep ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_RGB24;
}

bool isRgb(AVPixelFormat format)
{
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(format);
    return d && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

// Converts between a frame of the codec's pixels and an image's, keeping
// the colour matrix and range the video says.
void convert(Scaler &scaler, const AVFrame *from, AVPixelFormat fromFormat, uint8_t *const to[4], const int toStride[4],
             AVPixelFormat toFormat, int width, int height, bool toVideo, AVColorSpace space, AVColorRange range)
{
    // Bilinear chroma and the library's fast paths: a frame's conversion
    // costs a fraction of the exact one's, for differences of a code value
    // or so at colour edges.
    SwsContext *cached = sws_getCachedContext(scaler.p, width, height, fromFormat, width, height, toFormat,
                                              SWS_BILINEAR, nullptr, nullptr, nullptr);
    const bool fresh = cached != scaler.p;
    scaler.p = cached; // a context that did not fit is freed even when no new one comes
    if (!cached)
        throw MediaError("the pixel converter cannot take " + std::string(av_get_pix_fmt_name(fromFormat)));
    if (fresh || scaler.space != space || scaler.range != range) {
        const int *table = sws_getCoefficients(coefficientsOf(space, height));
        const int videoFull = range == AVCOL_RANGE_JPEG ? 1 : 0;
        // The RGB side is full range; the YUV side as the video says.
        sws_setColorspaceDetails(cached, table, toVideo ? 1 : videoFull, table, toVideo ? videoFull : 1, 0, 1 << 16,
                                 1 << 16);
        scaler.space = space;
        scaler.range = range;
    }
    sws_scale(scaler.p, from->data, from->linesize, 0, height, to, toStride);
}

class FfmpegReader final : public VideoReader {
public:
    explicit FfmpegReader(const std::string &path)
        : path_(path), input_(path, "cannot read video \"" + path + "\""), stream_(input_.videoStream())
    {
        AVStream *st = input_.ctx->streams[stream_];
        const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec)
            fail("no decoder for its " + std::string(avcodec_get_name(st->codecpar->codec_id)) + " video");
        decoder_.p = avcodec_alloc_context3(codec);
        if (!decoder_.p)
            throw std::bad_alloc();
        decoder_->thread_count = 0; // as many as the machine has
        if (int ret = avcodec_parameters_to_context(decoder_.p, st->codecpar); ret < 0)
            fail(why(ret));
        if (int ret = avcodec_open2(decoder_.p, codec, nullptr); ret < 0)
            fail(why(ret));
        rate_ = av_guess_frame_rate(input_.ctx, st, nullptr);
        if (rate_.num <= 0 || rate_.den <= 0)
            fail("its video has no frame rate");
        const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(st->codecpar->format));
        if (!d || st->codecpar->width < 1 || st->codecpar->height < 1)
            fail("its video stream has no frame size or pixel format");
        shape_.width = st->codecpar->width;
        shape_.height = st->codecpar->height;
        shape_.hasAlpha = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
        shape_.channels = shape_.hasAlpha ? 4 : 3;
        shape_.type = d->comp[0].depth > 8 ? PixelType::UInt16 : PixelType::UInt8;
        frames_ = st->nb_frames > 0 ? st->nb_frames : countFrames();
        if (frames_ < 1 || frames_ > INT32_MAX)
            fail("its video stream holds no frames");
        readTimecode();
    }

    const ImageShape &shape() const override { return shape_; }
    int32_t frameCount() const override { return static_cast<int32_t>(frames_); }
    FrameRate rate() const override { return {rate_.num, rate_.den}; }
    std::optional<int32_t> startTimecode() const override { return timecode_; }

    Image read(int32_t frame) override
    {
        if (frame < 0 || frame >= frames_)
            fail("it has no frame " + std::to_string(frame + 1) + " (it holds " + std::to_string(frames_) + ")");
        // Decoding on beats a seek over a short gap: a seek decodes from
        // the key frame before the target anyway.
        if (frame < next_ || frame > next_ + 24)
            seek(frame);
        for (;;) {
            if (!decodeNext())
                fail("frame " + std::to_string(frame + 1) + " is missing: the video ends after " +
                     std::to_string(next_) + " frames");
            const int64_t pts = frame_->best_effort_timestamp;
            const int64_t at = pts == AV_NOPTS_VALUE || next_ >= 0 ? next_ : indexOf(pts);
            next_ = (at < 0 ? 0 : at) + 1;
            if (at >= frame)
                return toImage();
        }
    }

private:
    [[noreturn]] void fail(const std::string &why) const { throw MediaError(input_.what + ": " + why); }

    int64_t indexOf(int64_t pts) const
    {
        const int64_t start = input_.frameTime(stream_, rate_, 0, stream_);
        return av_rescale_q_rnd(pts - start, input_.ctx->streams[stream_]->time_base, av_inv_q(rate_),
                                AV_ROUND_NEAR_INF);
    }

    // Containers without a frame count are counted packet by packet.
    int64_t countFrames()
    {
        Packet packet(av_packet_alloc());
        int64_t count = 0;
        int ret;
        while ((ret = av_read_frame(input_.ctx, packet.p)) >= 0) {
            count += packet->stream_index == stream_;
            av_packet_unref(packet.p);
        }
        if (ret != AVERROR_EOF)
            fail(why(ret));
        seek(0);
        return count;
    }

    void seek(int32_t frame)
    {
        const int64_t ts = input_.frameTime(stream_, rate_, frame, stream_);
        if (int ret = av_seek_frame(input_.ctx, stream_, ts, AVSEEK_FLAG_BACKWARD); ret < 0)
            fail("cannot seek to frame " + std::to_string(frame + 1) + ": " + why(ret));
        avcodec_flush_buffers(decoder_.p);
        draining_ = false;
        next_ = -1; // known again from the first frame's time
    }

    bool decodeNext()
    {
        for (;;) {
            throwIfCancelled();
            int ret = avcodec_receive_frame(decoder_.p, frame_.p);
            if (ret == 0)
                return true;
            if (ret == AVERROR_EOF)
                return false;
            if (ret != AVERROR(EAGAIN))
                fail("its video is damaged: " + why(ret));
            if (draining_)
                return false;
            ret = av_read_frame(input_.ctx, packet_.p);
            if (ret == AVERROR_EOF) {
                draining_ = true;
                avcodec_send_packet(decoder_.p, nullptr);
                continue;
            }
            if (ret < 0)
                fail(why(ret));
            if (packet_->stream_index == stream_)
                ret = avcodec_send_packet(decoder_.p, packet_.p);
            av_packet_unref(packet_.p);
            if (ret < 0 && ret != AVERROR(EAGAIN))
                fail("its video is damaged: " + why(ret));
        }
    }

    Image toImage()
    {
        if (frame_->width != shape_.width || frame_->height != shape_.height)
            fail("its frame size changes within the clip");
        Image image(shape_);
        uint8_t *data[4] = {reinterpret_cast<uint8_t *>(image.data())};
        const int stride[4] = {static_cast<int>(shape_.rowBytes())};
        convert(scaler_, frame_.p, static_cast<AVPixelFormat>(frame_->format), data, stride, rgbFormat(shape_),
                shape_.width, shape_.height, false, frame_->colorspace, frame_->color_range);
        av_frame_unref(frame_.p);
        return image;
    }

    void readTimecode()
    {
        const AVDictionaryEntry *tag = av_dict_get(input_.ctx->streams[stream_]->metadata, "timecode", nullptr, 0);
        if (!tag)
            tag = av_dict_get(input_.ctx->metadata, "timecode", nullptr, 0);
        for (unsigned i = 0; !tag && i < input_.ctx->nb_streams; ++i)
            tag = av_dict_get(input_.ctx->streams[i]->metadata, "timecode", nullptr, 0);
        AVTimecode tc;
        if (tag && av_timecode_init_from_string(&tc, rate_, tag->value, nullptr) == 0)
            timecode_ = static_cast<int32_t>(tc.start);
    }

    std::string path_;
    Input input_;
    int stream_;
    CodecContext decoder_;
    Frame frame_{av_frame_alloc()};
    Packet packet_{av_packet_alloc()};
    Scaler scaler_;
    AVRational rate_{};
    int64_t frames_ = 0, next_ = 0;
    bool draining_ = false;
    std::optional<int32_t> timecode_;
    ImageShape shape_;
};

// What a writer encodes with, chosen once for the check and the writer.
struct Encoding {
    const AVOutputFormat *container = nullptr;
    const AVCodec *codec = nullptr;
    AVPixelFormat pixels = AV_PIX_FMT_NONE;
    std::string words;
};

Encoding chooseEncoding(const std::string &formatPath, const ImageShape &shape, const VideoOptions &o)
{
    const std::string ext = lowerExtension(formatPath);
    const std::string what = "cannot write \"" + formatPath + "\": ";
    Encoding e;
    e.container = av_guess_format(nullptr, ("x" + ext).c_str(), nullptr);
    if (!e.container)
        throw MediaError(what + "the FFmpeg libraries write no " + ext + " files");
    // Text alone over nothing keeps its alpha in ProRes 4444, where the
    // container takes it; everything else is H.264, the one players all play.
    const std::string name = !o.codec.empty() ? o.codec : shape.hasAlpha && ext != ".mp4" ? "prores_ks" : "libx264";
    e.codec = avcodec_find_encoder_by_name(name.c_str());
    if (!e.codec)
        if (const AVCodecDescriptor *d = avcodec_descriptor_get_by_name(name.c_str()))
            e.codec = avcodec_find_encoder(d->id);
    if (!e.codec || e.codec->type != AVMEDIA_TYPE_VIDEO)
        throw MediaError(what + "no video encoder named \"" + name +
                         "\" (for example libx264, libx265, prores_ks, ffv1, mpeg4)");
    if (avformat_query_codec(e.container, e.codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw MediaError(what + std::string(e.container->long_name) + " files cannot hold " + e.codec->name +
                         " video; choose another --codec or container");
    const bool alpha = shape.hasAlpha && name != "libx264";
    const AVPixelFormat source = alpha ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGB48;
    if (name == "prores_ks")
        e.pixels = alpha ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV422P10LE;
    for (const AVPixelFormat *f = e.codec->pix_fmts; f && *f != AV_PIX_FMT_NONE && e.pixels == AV_PIX_FMT_NONE; ++f)
        if (*f == AV_PIX_FMT_YUV420P && !alpha)
            e.pixels = *f;
    if (e.pixels == AV_PIX_FMT_NONE && e.codec->pix_fmts)
        e.pixels = avcodec_find_best_pix_fmt_of_list(e.codec->pix_fmts, source, alpha, nullptr);
    if (e.pixels == AV_PIX_FMT_NONE)
        throw MediaError(what + "the " + e.codec->name + " encoder names no pixel format");
    const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(e.pixels);
    const int xStep = 1 << d->log2_chroma_w, yStep = 1 << d->log2_chroma_h;
    if (shape.width % xStep || shape.height % yStep)
        throw MediaError(what + e.codec->name + " in " + d->name + " takes frame sizes in steps of " +
                         std::to_string(xStep) + "x" + std::to_string(yStep) + ", and the frames are " +
                         std::to_string(shape.width) + "x" + std::to_string(shape.height));
    const AVClass *options = e.codec->priv_class;
    const bool hasCrf =
        options && av_opt_find(const_cast<AVClass **>(&options), "crf", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
    if (o.crf >= 0 && !hasCrf)
        throw MediaError(what + "the " + e.codec->name +
                         " encoder has no constant-quality setting (--crf); give --bitrate");
    if (o.crf >= 0 && o.bitrate > 0)
        throw MediaError(what + "give either a constant quality (--crf) or a bitrate (--bitrate), not both");
    e.words =
        std::string(e.codec->long_name ? e.codec->long_name : e.codec->name) + " (" + e.codec->name + ", " + d->name;
    if (o.bitrate > 0)
        e.words += ", " + std::to_string(o.bitrate / 1000) + " kbit/s";
    else if (hasCrf)
        e.words += ", CRF " + std::to_string(o.crf >= 0 ? o.crf : 18);
    e.words += ")";
    return e;
}

class FfmpegWriter final : public ImageWriter {
public:
    FfmpegWriter(const std::string &path, const std::string &formatPath, const ImageShape &shape,
                 const VideoOptions &options)
        : path_(path), what_("cannot write \"" + formatPath + "\": "), shape_(shape), options_(options)
    {
        const Encoding e = chooseEncoding(formatPath, shape, options);
        if (int ret = avformat_alloc_output_context2(&out_.p, e.container, nullptr, path.c_str()); ret < 0)
            fail(ret);
        encoder_.p = avcodec_alloc_context3(e.codec);
        if (!encoder_.p)
            throw std::bad_alloc();
        AVCodecContext *c = encoder_.p;
        c->width = shape.width;
        c->height = shape.height;
        c->pix_fmt = e.pixels;
        c->time_base = AVRational{options.rate.den, options.rate.num};
        c->framerate = AVRational{options.rate.num, options.rate.den};
        c->sample_aspect_ratio = AVRational{1, 1};
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_BT709;
        c->colorspace = AVCOL_SPC_BT709;
        c->color_range = isRgb(e.pixels) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        c->thread_count = 0;
        if (out_->oformat->flags & AVFMT_GLOBALHEADER)
            c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (options.bitrate > 0)
            c->bit_rate = options.bitrate;
        else if (av_opt_find(c->priv_data, "crf", nullptr, 0, 0))
            av_opt_set_int(c->priv_data, "crf", options.crf >= 0 ? options.crf : 18, 0);
        if (std::string(e.codec->name) == "prores_ks")
            av_opt_set(c->priv_data, "profile", av_pix_fmt_desc_get(e.pixels)->nb_components == 4 ? "4444" : "hq", 0);
        if (int ret = avcodec_open2(c, e.codec, nullptr); ret < 0)
            fail(ret);
        video_ = avformat_new_stream(out_.p, nullptr);
        if (!video_)
            throw std::bad_alloc();
        video_->time_base = c->time_base;
        video_->avg_frame_rate = c->framerate;
        if (int ret = avcodec_parameters_from_context(video_->codecpar, c); ret < 0)
            fail(ret);
        if (!options.copyFrom.empty())
            openCopies();
        if (int ret = avio_open(&out_->pb, path.c_str(), AVIO_FLAG_WRITE); ret < 0)
            fail(ret);
        if (int ret = avformat_write_header(out_.p, nullptr); ret < 0)
            fail(ret);
        frame_->format = c->pix_fmt;
        frame_->width = c->width;
        frame_->height = c->height;
        if (int ret = av_frame_get_buffer(frame_.p, 0); ret < 0)
            fail(ret);
    }

    void write(const Image &image) override
    {
        throwIfCancelled();
        const ImageShape &s = image.shape();
        if (s.width != shape_.width || s.height != shape_.height)
            throw MediaError(what_ + "the frame does not match the video's size");
        // The converter takes 8 or 16 bits, RGB or RGBA, straight.
        const bool deep = s.type != PixelType::UInt8;
        const Image *source = &image;
        Image converted;
        if ((s.type != PixelType::UInt8 && s.type != PixelType::UInt16) || s.colourChannels() != 3 ||
            (s.hasAlpha && s.alpha != AlphaMode::Straight)) {
            converted = image.converted(deep ? PixelType::UInt16 : PixelType::UInt8, s.hasAlpha, AlphaMode::Straight);
            source = &converted;
        }
        if (int ret = av_frame_make_writable(frame_.p); ret < 0)
            fail(ret);
        AVFrame rgb{};
        rgb.data[0] = reinterpret_cast<uint8_t *>(const_cast<std::byte *>(source->data()));
        rgb.linesize[0] = static_cast<int>(source->shape().rowBytes());
        convert(scaler_, &rgb, rgbFormat(source->shape()), frame_->data, frame_->linesize, encoder_->pix_fmt,
                shape_.width, shape_.height, true, encoder_->colorspace, encoder_->color_range);
        frame_->pts = frames_++;
        send(frame_.p);
    }

    void close() override
    {
        if (frames_ == 0)
            throw MediaError(what_ + "no frame was written");
        send(nullptr);
        copyUntil(INT64_MAX, AVRational{1, 1});
        if (int ret = av_write_trailer(out_.p); ret < 0)
            fail(ret);
        const int ioError = out_->pb->error;
        if (int ret = avio_closep(&out_->pb); ret < 0 || ioError < 0)
            fail(ret < 0 ? ret : ioError);
    }

private:
    [[noreturn]] void fail(int code) const { throw MediaError(what_ + why(code)); }

    void send(AVFrame *frame)
    {
        int ret = avcodec_send_frame(encoder_.p, frame);
        if (ret < 0)
            fail(ret);
        while ((ret = avcodec_receive_packet(encoder_.p, packet_.p)) == 0) {
            throwIfCancelled();
            // Every frame lasts one frame: without it a container's edit
            // list would end before the last frame.
            if (packet_->duration <= 0)
                packet_->duration = 1;
            av_packet_rescale_ts(packet_.p, encoder_->time_base, video_->time_base);
            packet_->stream_index = video_->index;
            copyUntil(packet_->dts == AV_NOPTS_VALUE ? packet_->pts : packet_->dts, video_->time_base);
            if ((ret = av_interleaved_write_frame(out_.p, packet_.p)) < 0)
                fail(ret);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            fail(ret);
    }

    // Audio and subtitle streams the container can hold get a stream each.
    void openCopies()
    {
        copy_ = std::make_unique<Input>(options_.copyFrom,
                                        what_ + "cannot copy the sound of \"" + options_.copyFrom + "\"");
        const int video = copy_->videoStream();
        const AVRational rate{options_.rate.num, options_.rate.den};
        for (unsigned i = 0; i < copy_->ctx->nb_streams; ++i) {
            AVStream *in = copy_->ctx->streams[i];
            const AVMediaType type = in->codecpar->codec_type;
            if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_SUBTITLE)
                continue;
            if (avformat_query_codec(out_->oformat, in->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
                if (options_.warn)
                    options_.warn(std::string(av_get_media_type_string(type)) + " stream " + std::to_string(i) + " (" +
                                  avcodec_get_name(in->codecpar->codec_id) + ") of \"" + options_.copyFrom +
                                  "\" is left out: " + out_->oformat->long_name + " files cannot hold it");
                continue;
            }
            AVStream *out = avformat_new_stream(out_.p, nullptr);
            if (!out)
                throw std::bad_alloc();
            if (int ret = avcodec_parameters_copy(out->codecpar, in->codecpar); ret < 0)
                fail(ret);
            out->codecpar->codec_tag = 0;
            out->time_base = in->time_base;
            out->disposition = in->disposition;
            av_dict_copy(&out->metadata, in->metadata, 0);
            Copied c{static_cast<int>(i), out->index, copy_->frameTime(video, rate, options_.copyFirst, i), INT64_MAX};
            if (options_.copyCount >= 0)
                c.end = copy_->frameTime(video, rate, int64_t{options_.copyFirst} + options_.copyCount, i);
            copied_.push_back(c);
        }
        // Before the output's first frame, all that precedes it goes too.
        whole_ = options_.copyFirst == 0 && options_.copyCount < 0;
        if (copied_.empty())
            copy_.reset();
    }

    // Copies the source's packets that come before `until` (in `base`).
    void copyUntil(int64_t until, AVRational base)
    {
        while (copy_) {
            if (!pendingFull_) {
                const int ret = av_read_frame(copy_->ctx, pending_.p);
                if (ret == AVERROR_EOF) {
                    copy_.reset();
                    return;
                }
                if (ret < 0)
                    throw MediaError(copy_->what + ": " + why(ret));
                pendingFull_ = true;
            }
            const auto c = std::find_if(copied_.begin(), copied_.end(),
                                        [&](const Copied &x) { return x.from == pending_->stream_index; });
            const int64_t t = pending_->dts != AV_NOPTS_VALUE ? pending_->dts : pending_->pts;
            if (c == copied_.end() || t == AV_NOPTS_VALUE || (!whole_ && (t < c->start || t >= c->end))) {
                av_packet_unref(pending_.p);
                pendingFull_ = false;
                continue;
            }
            const AVRational in = copy_->ctx->streams[c->from]->time_base;
            if (until != INT64_MAX && av_compare_ts(t - c->start, in, until, base) > 0)
                return;
            if (pending_->pts != AV_NOPTS_VALUE)
                pending_->pts -= c->start;
            if (pending_->dts != AV_NOPTS_VALUE)
                pending_->dts -= c->start;
            av_packet_rescale_ts(pending_.p, in, out_->streams[c->to]->time_base);
            pending_->stream_index = c->to;
            pending_->pos = -1;
            pendingFull_ = false;
            if (int ret = av_interleaved_write_frame(out_.p, pending_.p); ret < 0)
                fail(ret);
        }
    }

    struct Copied {
        int from, to;
        int64_t start, end; // in the source stream's time base
    };

    std::string path_, what_;
    ImageShape shape_;
    VideoOptions options_;
    Output out_;
    CodecContext encoder_;
    AVStream *video_ = nullptr;
    Frame frame_{av_frame_alloc()};
    Packet packet_{av_packet_alloc()};
    Scaler scaler_;
    int64_t frames_ = 0;
    std::unique_ptr<Input> copy_;
    std::vector<Copied> copied_;
    bool whole_ = false;
    Packet pending_{av_packet_alloc()};
    bool pendingFull_ = false;
};

class FfmpegBackend final : public VideoBackend {
public:
    std::unique_ptr<VideoReader> openReader(const std::string &path) override
    {
        return std::make_unique<FfmpegReader>(path);
    }
    std::string check(const std::string &formatPath, const ImageShape &shape, const VideoOptions &options) override
    {
        return chooseEncoding(formatPath, shape, options).words;
    }
    std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &formatPath,
                                            const ImageShape &shape, const VideoOptions &options) override
    {
        return std::make_unique<FfmpegWriter>(path, formatPath, shape, options);
    }
};

} // namespace

} // namespace corvane::media

extern "C" __attribute__((visibility("default"))) corvane::media::VideoBackend *
quillomark_video_backend(const std::atomic<bool> *cancel)
{
    corvane::media::gCancel = cancel;
    av_log_set_callback(corvane::media::keepErrors);
    static corvane::media::FfmpegBackend backend;
    return &backend;
}

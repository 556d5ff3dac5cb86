#include "clip_maker.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <stdexcept>

namespace cliptest {

namespace {

void check(int ret, const char *what)
{
    if (ret < 0)
        throw std::runtime_error(std::string("making a test clip: ") + what + " failed");
}

// Encodes `frame` (null: drains) and muxes what comes out.
void encode(AVFormatContext *out, AVCodecContext *c, AVStream *st, AVFrame *frame)
{
    check(avcodec_send_frame(c, frame), "encoding");
    AVPacket *pkt = av_packet_alloc();
    while (avcodec_receive_packet(c, pkt) == 0) {
        if (c->codec_type == AVMEDIA_TYPE_VIDEO)
            pkt->duration = 1;
        av_packet_rescale_ts(pkt, c->time_base, st->time_base);
        pkt->stream_index = st->index;
        check(av_interleaved_write_frame(out, pkt), "muxing");
    }
    av_packet_free(&pkt);
}

AVCodecContext *openEncoder(const char *name, AVFormatContext *out, AVStream **st)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    AVCodecContext *c = avcodec_alloc_context3(codec);
    *st = avformat_new_stream(out, nullptr);
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return c;
}

} // namespace

uint8_t greyOf(int frame)
{
    return static_cast<uint8_t>(20 + 20 * frame);
}

void makeClip(const std::string &path, const ClipSetup &shape)
{
    AVFormatContext *out = nullptr;
    av_log_set_level(AV_LOG_ERROR);
    check(avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()), "choosing the container");
    AVStream *vs = nullptr, *as = nullptr;
    AVCodecContext *v = openEncoder("libx264", out, &vs);
    v->width = shape.width;
    v->height = shape.height;
    v->pix_fmt = AV_PIX_FMT_YUV420P;
    v->time_base = {shape.rateDen, shape.rateNum};
    v->framerate = {shape.rateNum, shape.rateDen};
    check(avcodec_open2(v, v->codec, nullptr), "opening H.264");
    check(avcodec_parameters_from_context(vs->codecpar, v), "describing the video");
    vs->time_base = v->time_base;
    vs->avg_frame_rate = v->framerate;
    if (!shape.timecode.empty())
        av_dict_set(&out->metadata, "timecode", shape.timecode.c_str(), 0);
    AVCodecContext *a = nullptr;
    if (shape.audio) {
        a = openEncoder("aac", out, &as);
        a->sample_fmt = AV_SAMPLE_FMT_FLTP;
        a->sample_rate = 48000;
        av_channel_layout_default(&a->ch_layout, 1);
        a->time_base = {1, 48000};
        check(avcodec_open2(a, a->codec, nullptr), "opening AAC");
        check(avcodec_parameters_from_context(as->codecpar, a), "describing the sound");
        as->time_base = a->time_base;
    }
    check(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), "opening the file");
    check(avformat_write_header(out, nullptr), "writing the header");

    AVFrame *f = av_frame_alloc();
    f->format = v->pix_fmt;
    f->width = v->width;
    f->height = v->height;
    check(av_frame_get_buffer(f, 0), "allocating a frame");
    for (int i = 0; i < shape.frames; ++i) {
        check(av_frame_make_writable(f), "a writable frame");
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? shape.height / 2 : shape.height); ++y)
                std::fill_n(f->data[p] + y * f->linesize[p], p ? shape.width / 2 : shape.width,
                            p ? uint8_t{128} : static_cast<uint8_t>(16 + greyOf(i) * 219 / 255));
        f->pts = i;
        encode(out, v, vs, f);
    }
    encode(out, v, vs, nullptr);
    av_frame_free(&f);

    if (a) {
        const int64_t samples = int64_t{48000} * shape.frames * shape.rateDen / shape.rateNum;
        AVFrame *s = av_frame_alloc();
        for (int64_t done = 0; done < samples; done += a->frame_size) {
            s->format = a->sample_fmt;
            s->nb_samples = a->frame_size;
            check(av_channel_layout_copy(&s->ch_layout, &a->ch_layout), "a sound layout");
            check(av_frame_get_buffer(s, 0), "allocating sound");
            auto *data = reinterpret_cast<float *>(s->data[0]);
            for (int k = 0; k < a->frame_size; ++k)
                data[k] = 0.3f * std::sin(static_cast<float>(done + k) * 0.0575f);
            s->pts = done;
            encode(out, a, as, s);
            av_frame_unref(s);
        }
        encode(out, a, as, nullptr);
        av_frame_free(&s);
        avcodec_free_context(&a);
    }
    check(av_write_trailer(out), "writing the index");
    avio_closep(&out->pb);
    avcodec_free_context(&v);
    avformat_free_context(out);
}

ClipFacts clipFacts(const std::string &path)
{
    ClipFacts facts;
    AVFormatContext *in = nullptr;
    check(avformat_open_input(&in, path.c_str(), nullptr, nullptr), "opening a clip");
    check(avformat_find_stream_info(in, nullptr), "reading a clip's streams");
    const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int audio = av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (video >= 0) {
        facts.rateNum = in->streams[video]->avg_frame_rate.num;
        facts.rateDen = in->streams[video]->avg_frame_rate.den;
    }
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(in, pkt) >= 0) {
        if (pkt->stream_index == video)
            ++facts.videoFrames;
        else if (pkt->stream_index == audio)
            facts.audioPackets.emplace_back(reinterpret_cast<const char *>(pkt->data), pkt->size);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&in);
    return facts;
}

} // namespace cliptest

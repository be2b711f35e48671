// FFmpeg, loaded when first used. Debian's FFmpeg libraries pull in more than
// a hundred other shared libraries; linked directly, the dynamic loader maps
// and relocates all of them before main, at every start, though nothing is
// decoded until a station plays. The application links none of them: this
// file defines the FFmpeg functions the decoder and the resampler call, and
// each one forwards to the real library, opened (with everything it needs)
// on the first call. The definitions are checked against FFmpeg's own
// headers, so a library whose interface differs fails the build.
//
// A library that cannot be opened does not end the process: the loader's
// reason goes to standard error once, and from then on every FFmpeg function
// fails as FFmpeg's own functions fail (no object, or an error code), so a
// stream that needs them ends with its decoding failure.
#include "streaming/DlopenNote.h"
#include "streaming/FFmpegLibraries.h"
#include "streaming/LoadedLibraries.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <cerrno>
#include <string>

namespace {

enum Library { Util, Codec, Format, Resample };

// Every function forwarded, with the library that defines it.
#define VANTULI_FFMPEG_FUNCTIONS(X)                                                                                    \
    X(Util, av_channel_layout_copy)                                                                                    \
    X(Util, av_channel_layout_default)                                                                                 \
    X(Util, av_channel_layout_uninit)                                                                                  \
    X(Util, av_frame_alloc)                                                                                            \
    X(Util, av_frame_free)                                                                                             \
    X(Util, av_frame_unref)                                                                                            \
    X(Util, av_free)                                                                                                   \
    X(Util, av_freep)                                                                                                  \
    X(Util, av_get_bytes_per_sample)                                                                                   \
    X(Util, av_log_set_level)                                                                                          \
    X(Util, av_malloc)                                                                                                 \
    X(Util, av_sample_fmt_is_planar)                                                                                   \
    X(Util, av_strdup)                                                                                                 \
    X(Codec, av_get_bits_per_sample)                                                                                   \
    X(Codec, av_packet_alloc)                                                                                          \
    X(Codec, av_packet_free)                                                                                           \
    X(Codec, av_packet_move_ref)                                                                                       \
    X(Codec, av_packet_unref)                                                                                          \
    X(Codec, av_parser_close)                                                                                          \
    X(Codec, av_parser_init)                                                                                           \
    X(Codec, av_parser_parse2)                                                                                         \
    X(Codec, avcodec_alloc_context3)                                                                                   \
    X(Codec, avcodec_find_decoder)                                                                                     \
    X(Codec, avcodec_free_context)                                                                                     \
    X(Codec, avcodec_open2)                                                                                            \
    X(Codec, avcodec_parameters_alloc)                                                                                 \
    X(Codec, avcodec_parameters_copy)                                                                                  \
    X(Codec, avcodec_parameters_free)                                                                                  \
    X(Codec, avcodec_parameters_to_context)                                                                            \
    X(Codec, avcodec_receive_frame)                                                                                    \
    X(Codec, avcodec_send_packet)                                                                                      \
    X(Format, av_find_best_stream)                                                                                     \
    X(Format, av_probe_input_format3)                                                                                  \
    X(Format, av_read_frame)                                                                                           \
    X(Format, avformat_alloc_context)                                                                                  \
    X(Format, avformat_close_input)                                                                                    \
    X(Format, avformat_free_context)                                                                                   \
    X(Format, avformat_open_input)                                                                                     \
    X(Format, avio_alloc_context)                                                                                      \
    X(Format, avio_context_free)                                                                                       \
    X(Format, avio_seek)                                                                                               \
    X(Resample, swr_alloc_set_opts2)                                                                                   \
    X(Resample, swr_close)                                                                                             \
    X(Resample, swr_convert)                                                                                           \
    X(Resample, swr_free)                                                                                              \
    X(Resample, swr_init)                                                                                              \
    X(Resample, swr_is_initialized)                                                                                    \
    X(Resample, swr_set_matrix)

#define VANTULI_FFMPEG_INDEX(library, name) name##_index,
enum Function { VANTULI_FFMPEG_FUNCTIONS(VANTULI_FFMPEG_INDEX) functionCount };
#define VANTULI_FFMPEG_SYMBOL(library, name) {library, #name},

#define VANTULI_STRING(x) #x
#define VANTULI_SONAME(name, major) "lib" name ".so." VANTULI_STRING(major)

#define VANTULI_FFMPEG_NOTE(name, major)                                                                               \
    "{\"feature\":\"decoding\",\"description\":\"Reads and decodes station audio (FFmpeg)\",\"priority\":\"required\"," \
    "\"soname\":[\"" VANTULI_SONAME(name, major) "\"]}"
VANTULI_DLOPEN_NOTE(ffmpegNote, "[" VANTULI_FFMPEG_NOTE("avutil", LIBAVUTIL_VERSION_MAJOR) "," VANTULI_FFMPEG_NOTE(
                                    "avcodec", LIBAVCODEC_VERSION_MAJOR) "," VANTULI_FFMPEG_NOTE("avformat", LIBAVFORMAT_VERSION_MAJOR)
                                    "," VANTULI_FFMPEG_NOTE("swresample", LIBSWRESAMPLE_VERSION_MAJOR) "]");

// The four libraries (the versions the headers describe).
struct Functions : vantuli::loading::LoadedLibraries<4, functionCount> {
    explicit Functions(const std::string &folder)
        : LoadedLibraries("FFmpeg", folder,
                          {
                              VANTULI_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
                              VANTULI_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
                              VANTULI_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
                              VANTULI_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR),
                          },
                          {VANTULI_FFMPEG_FUNCTIONS(VANTULI_FFMPEG_SYMBOL)})
    {
    }
};

// What a function that gives a number answers when FFmpeg could not be
// loaded: what FFmpeg's own function answers when it cannot do its work.
struct Unavailable {
    template <typename Result>
    static Result of() { return Result(AVERROR(ENOSYS)); }
};

using Loaded = vantuli::loading::Loader<Functions, Unavailable>;

#define VANTULI_REAL(name) Loaded::real<decltype(&::name)>(name##_index)

} // namespace

namespace vantuli::ffmpeg {

bool loaded()
{
    return Loaded::libraries().complete;
}

void setLibraryFolder(const std::string &folder)
{
    Loaded::folder() = folder;
}

} // namespace vantuli::ffmpeg

extern "C" {

// libavutil
int av_channel_layout_copy(AVChannelLayout *dst, const AVChannelLayout *src)
{
    return VANTULI_REAL(av_channel_layout_copy)(dst, src);
}
void av_channel_layout_default(AVChannelLayout *ch_layout, int nb_channels)
{
    VANTULI_REAL(av_channel_layout_default)(ch_layout, nb_channels);
}
void av_channel_layout_uninit(AVChannelLayout *channel_layout)
{
    VANTULI_REAL(av_channel_layout_uninit)(channel_layout);
}
AVFrame *av_frame_alloc(void)
{
    return VANTULI_REAL(av_frame_alloc)();
}
void av_frame_free(AVFrame **frame)
{
    VANTULI_REAL(av_frame_free)(frame);
}
void av_frame_unref(AVFrame *frame)
{
    VANTULI_REAL(av_frame_unref)(frame);
}
void av_free(void *ptr)
{
    VANTULI_REAL(av_free)(ptr);
}
void av_freep(void *ptr)
{
    VANTULI_REAL(av_freep)(ptr);
}
int av_get_bytes_per_sample(enum AVSampleFormat sample_fmt)
{
    return VANTULI_REAL(av_get_bytes_per_sample)(sample_fmt);
}
void av_log_set_level(int level)
{
    VANTULI_REAL(av_log_set_level)(level);
}
void *av_malloc(size_t size)
{
    return VANTULI_REAL(av_malloc)(size);
}
int av_sample_fmt_is_planar(enum AVSampleFormat sample_fmt)
{
    return VANTULI_REAL(av_sample_fmt_is_planar)(sample_fmt);
}
char *av_strdup(const char *s)
{
    return VANTULI_REAL(av_strdup)(s);
}

// libavcodec
int av_get_bits_per_sample(enum AVCodecID codec_id)
{
    return VANTULI_REAL(av_get_bits_per_sample)(codec_id);
}
AVPacket *av_packet_alloc(void)
{
    return VANTULI_REAL(av_packet_alloc)();
}
void av_packet_free(AVPacket **pkt)
{
    VANTULI_REAL(av_packet_free)(pkt);
}
void av_packet_move_ref(AVPacket *dst, AVPacket *src)
{
    VANTULI_REAL(av_packet_move_ref)(dst, src);
}
void av_packet_unref(AVPacket *pkt)
{
    VANTULI_REAL(av_packet_unref)(pkt);
}
void av_parser_close(AVCodecParserContext *s)
{
    VANTULI_REAL(av_parser_close)(s);
}
AVCodecParserContext *av_parser_init(int codec_id)
{
    return VANTULI_REAL(av_parser_init)(codec_id);
}
int av_parser_parse2(AVCodecParserContext *s, AVCodecContext *avctx, uint8_t **poutbuf, int *poutbuf_size,
                     const uint8_t *buf, int buf_size, int64_t pts, int64_t dts, int64_t pos)
{
    return VANTULI_REAL(av_parser_parse2)(s, avctx, poutbuf, poutbuf_size, buf, buf_size, pts, dts, pos);
}
AVCodecContext *avcodec_alloc_context3(const AVCodec *codec)
{
    return VANTULI_REAL(avcodec_alloc_context3)(codec);
}
const AVCodec *avcodec_find_decoder(enum AVCodecID id)
{
    return VANTULI_REAL(avcodec_find_decoder)(id);
}
void avcodec_free_context(AVCodecContext **avctx)
{
    VANTULI_REAL(avcodec_free_context)(avctx);
}
int avcodec_open2(AVCodecContext *avctx, const AVCodec *codec, AVDictionary **options)
{
    return VANTULI_REAL(avcodec_open2)(avctx, codec, options);
}
AVCodecParameters *avcodec_parameters_alloc(void)
{
    return VANTULI_REAL(avcodec_parameters_alloc)();
}
int avcodec_parameters_copy(AVCodecParameters *dst, const AVCodecParameters *src)
{
    return VANTULI_REAL(avcodec_parameters_copy)(dst, src);
}
void avcodec_parameters_free(AVCodecParameters **par)
{
    VANTULI_REAL(avcodec_parameters_free)(par);
}
int avcodec_parameters_to_context(AVCodecContext *codec, const AVCodecParameters *par)
{
    return VANTULI_REAL(avcodec_parameters_to_context)(codec, par);
}
int avcodec_receive_frame(AVCodecContext *avctx, AVFrame *frame)
{
    return VANTULI_REAL(avcodec_receive_frame)(avctx, frame);
}
int avcodec_send_packet(AVCodecContext *avctx, const AVPacket *avpkt)
{
    return VANTULI_REAL(avcodec_send_packet)(avctx, avpkt);
}

// libavformat
int av_find_best_stream(AVFormatContext *ic, enum AVMediaType type, int wanted_stream_nb, int related_stream,
                        const AVCodec **decoder_ret, int flags)
{
    return VANTULI_REAL(av_find_best_stream)(ic, type, wanted_stream_nb, related_stream, decoder_ret, flags);
}
const AVInputFormat *av_probe_input_format3(const AVProbeData *pd, int is_opened, int *score_ret)
{
    return VANTULI_REAL(av_probe_input_format3)(pd, is_opened, score_ret);
}
int av_read_frame(AVFormatContext *s, AVPacket *pkt)
{
    return VANTULI_REAL(av_read_frame)(s, pkt);
}
AVFormatContext *avformat_alloc_context(void)
{
    return VANTULI_REAL(avformat_alloc_context)();
}
void avformat_close_input(AVFormatContext **s)
{
    VANTULI_REAL(avformat_close_input)(s);
}
void avformat_free_context(AVFormatContext *s)
{
    VANTULI_REAL(avformat_free_context)(s);
}
int avformat_open_input(AVFormatContext **ps, const char *url, const AVInputFormat *fmt, AVDictionary **options)
{
    return VANTULI_REAL(avformat_open_input)(ps, url, fmt, options);
}
AVIOContext *avio_alloc_context(unsigned char *buffer, int buffer_size, int write_flag, void *opaque,
                                int (*read_packet)(void *opaque, uint8_t *buf, int buf_size),
                                int (*write_packet)(void *opaque, uint8_t *buf, int buf_size),
                                int64_t (*seek)(void *opaque, int64_t offset, int whence))
{
    return VANTULI_REAL(avio_alloc_context)(buffer, buffer_size, write_flag, opaque, read_packet, write_packet, seek);
}
void avio_context_free(AVIOContext **s)
{
    VANTULI_REAL(avio_context_free)(s);
}
int64_t avio_seek(AVIOContext *s, int64_t offset, int whence)
{
    return VANTULI_REAL(avio_seek)(s, offset, whence);
}

// libswresample
int swr_alloc_set_opts2(struct SwrContext **ps, AVChannelLayout *out_ch_layout, enum AVSampleFormat out_sample_fmt,
                        int out_sample_rate, AVChannelLayout *in_ch_layout, enum AVSampleFormat in_sample_fmt,
                        int in_sample_rate, int log_offset, void *log_ctx)
{
    return VANTULI_REAL(swr_alloc_set_opts2)(ps, out_ch_layout, out_sample_fmt, out_sample_rate, in_ch_layout,
                                             in_sample_fmt, in_sample_rate, log_offset, log_ctx);
}
void swr_close(struct SwrContext *s)
{
    VANTULI_REAL(swr_close)(s);
}
int swr_convert(struct SwrContext *s, uint8_t **out, int out_count, const uint8_t **in, int in_count)
{
    return VANTULI_REAL(swr_convert)(s, out, out_count, in, in_count);
}
void swr_free(struct SwrContext **s)
{
    VANTULI_REAL(swr_free)(s);
}
int swr_init(struct SwrContext *s)
{
    return VANTULI_REAL(swr_init)(s);
}
int swr_is_initialized(struct SwrContext *s)
{
    return VANTULI_REAL(swr_is_initialized)(s);
}
int swr_set_matrix(struct SwrContext *s, const double *matrix, int stride)
{
    return VANTULI_REAL(swr_set_matrix)(s, matrix, stride);
}

} // extern "C"

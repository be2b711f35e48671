#include "streaming/RadioDecoder.h"

#include "streaming/FFmpegLibraries.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

namespace vantuli {

static_assert(RadioDecoder::invalidData == AVERROR_INVALIDDATA);

namespace {

// Identification probes the bytes after any leading ID3v2 tags at these sizes;
// the last attempt takes the best guess that FFmpeg's probe still trusts.
constexpr qsizetype firstProbeSize = 2048;
constexpr qsizetype lastProbeSize = 32768;
constexpr int lastProbeScore = AVPROBE_SCORE_RETRY / 2;

// The packed-audio path hands the codec parser slices of at most this size.
constexpr qsizetype parserSlice = 65536;

// Inside a container one frame may be large (FLAC frames of multichannel
// high-rate audio), and the demuxer reads ahead; a run without any packet is
// allowed to grow this far before the stream counts as undecodable.
constexpr qint64 containerRunLimit = 16 * RadioDecoder::invalidRunLimit;

constexpr int ioBufferSize = 4096;

constexpr int id3HeaderSize = 10;

// What a station's bytes may be: MP3 and AAC in ADTS frames (split by the
// codec parsers), Ogg with Opus or Vorbis, FLAC, and WAV with linear PCM.
// Nothing else FFmpeg knows (game music, trackers, images, subtitles,
// playlists, ...) is ever opened on them: some of those demuxers gather the
// whole input and unpack it in memory.
constexpr const char *allowedFormats = "mp3,aac,ogg,flac,wav";
constexpr const char *allowedDecoders = "mp3float,mp3,mp2float,mp2,mp1float,mp1,aac,aac_fixed,opus,libopus,vorbis,"
                                        "libvorbis,flac,pcm_s16le,pcm_s24le,pcm_s32le,pcm_u8,pcm_f32le";

// Whether a name is one of the comma-separated names of a list.
bool listed(const char *name, std::string_view list)
{
    const std::string_view wanted(name);
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (list.substr(0, comma) == wanted)
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

// The size of an ID3v2 tag whose header starts `bytes`, footer included;
// 0 when the bytes are no tag header.
qint64 id3TagSize(const char *bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    if (b[0] != 'I' || b[1] != 'D' || b[2] != '3' || b[3] == 0xFF || b[4] == 0xFF)
        return 0;
    if ((b[6] | b[7] | b[8] | b[9]) & 0x80)
        return 0;
    const qint64 body = (qint64(b[6]) << 21) | (qint64(b[7]) << 14) | (qint64(b[8]) << 7) | qint64(b[9]);
    const bool footer = (b[5] & 0x10) != 0;
    return id3HeaderSize + body + (footer ? id3HeaderSize : 0);
}

// The size of an ID3v2 tag met between the frames of a packed-audio stream,
// footer included; 0 when the ten bytes are no tag header. Audio data may
// contain "ID3" by chance, so only a header as taggers write it counts:
// version 2 to 4, revision 0, no undefined flag set.
qint64 midStreamTagSize(const char *bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes);
    if (b[3] < 2 || b[3] > 4 || b[4] != 0 || (b[5] & 0x0F) != 0)
        return 0;
    return id3TagSize(bytes);
}

bool isMpegSync(const unsigned char *b)
{
    return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0;
}

bool isPackedAudio(const AVInputFormat *format)
{
    return std::strcmp(format->name, "mp3") == 0 || std::strcmp(format->name, "aac") == 0;
}

// What the probe made of the first bytes: an allowed format; or none, and
// whether they are clearly something else (refused) or do not tell yet.
struct Probed {
    const AVInputFormat *format = nullptr;
    bool refused = false;
};

Probed probeFormat(const QByteArray &data, bool last)
{
    const qsizetype size = std::min(data.size(), lastProbeSize);
    std::vector<unsigned char> buffer(size_t(size) + AVPROBE_PADDING_SIZE, 0);
    std::memcpy(buffer.data(), data.constData(), size_t(size));
    const int threshold = last ? lastProbeScore : AVPROBE_SCORE_RETRY;

    AVProbeData probe{};
    probe.filename = "";
    probe.buf = buffer.data();
    probe.buf_size = int(size);
    int score = 0;
    const AVInputFormat *format = av_probe_input_format3(&probe, 1, &score);
    const bool refused = format && score > threshold && !listed(format->name, allowedFormats);
    if (format && score > threshold && !refused)
        return {format};

    // A stream joined mid-way starts inside a frame; packed audio is looked
    // for again from the first frame sync on.
    for (qsizetype i = 1; i + 1 < size; ++i) {
        if (!isMpegSync(buffer.data() + i))
            continue;
        probe.buf = buffer.data() + i;
        probe.buf_size = int(size - i);
        score = 0;
        format = av_probe_input_format3(&probe, 1, &score);
        if (format && score > threshold && isPackedAudio(format))
            return {format};
        break;
    }
    return {nullptr, refused};
}

// The MPEG audio decoder for the layer a frame header names; none when the
// packet does not start with a frame header.
AVCodecID mpegDecoderFor(const AVPacket *packet)
{
    if (packet->size < 4 || !isMpegSync(packet->data))
        return AV_CODEC_ID_NONE;
    switch ((packet->data[1] >> 1) & 3) {
    case 1:
        return AV_CODEC_ID_MP3;
    case 2:
        return AV_CODEC_ID_MP2;
    case 3:
        return AV_CODEC_ID_MP1;
    default:
        return AV_CODEC_ID_NONE;
    }
}

void quietenLibraries()
{
    // A live stream with damaged frames would otherwise fill the console with
    // FFmpeg's messages; failures reach the caller as status codes.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

} // namespace

// Runs one of FFmpeg's demuxers over a live byte stream. A demuxer pulls its
// bytes and cannot be resumed after a read comes back empty, so it runs on a
// thread of its own that strictly takes turns with the caller: feed() hands
// the worker the turn and gets it back when the worker has used every byte so
// far (or has a batch of packets waiting). The read callback then waits for
// the next feed() instead of reporting an end. Only one side runs at any
// moment, and packets are decoded on the caller's thread, a whole batch per
// turn: taking turns costs two thread switches, far more than a packet of
// Opus or Vorbis takes to decode.
class RadioDecoder::ContainerReader {
public:
    explicit ContainerReader(const AVInputFormat *format) : format(format) {}

    ~ContainerReader()
    {
        if (worker.joinable()) {
            // The worker gives up at its next read or packet once cancelled.
            cancelled = true;
            while (!finished)
                resume();
            worker.join();
        }
        for (Packet &p : packets)
            av_packet_free(&p.packet);
        avcodec_parameters_free(&parameters);
    }

    ContainerReader(const ContainerReader &) = delete;
    ContainerReader &operator=(const ContainerReader &) = delete;

    // Makes the bytes available and runs the demuxer until it has used them
    // all; packets of the audio stream are decoded by `owner` on the way.
    // Answers 0, or the demuxer's failure.
    std::int32_t feed(const char *bytes, qsizetype length, RadioDecoder &owner)
    {
        if (finished)
            return result;
        if (position > 0) {
            input.remove(0, position);
            position = 0;
        }
        input.append(bytes, length);
        if (!worker.joinable()) {
            try {
                worker = std::thread([this] { run(); });
            } catch (const std::system_error &) {
                finished = true;
                result = AVERROR(EAGAIN);
                return result;
            }
        }
        resume();
        for (;;) {
            // The packets of this turn, each counted up to the bytes the
            // demuxer had read when it came out.
            while (!packets.empty()) {
                Packet next = packets.front();
                packets.pop_front();
                owner.bytesWithoutAudio += next.servedAt - counted;
                counted = next.servedAt;
                owner.decode(parameters, parameters->codec_id, next.packet);
                av_packet_free(&next.packet);
                if (owner.error)
                    return 0;
                if (owner.bytesWithoutAudio > invalidRunLimit)
                    return invalidData;
            }
            if (counted >= 0) {
                owner.bytesWithoutAudio += served - counted;
                counted = served;
            }
            switch (reason) {
            case Pause::finished:
                return result;
            case Pause::starved:
                return owner.bytesWithoutAudio > containerRunLimit ? invalidData : 0;
            case Pause::packets:
                resume();
                break;
            }
        }
    }

private:
    enum class Pause { starved, packets, finished };

    // A demuxed packet of the audio stream and the bytes read when it came out.
    struct Packet {
        AVPacket *packet = nullptr;
        qint64 servedAt = 0;
    };
    // A turn hands over at most this many packets, so a large chunk of input
    // does not pile up its packets before any is decoded.
    static constexpr size_t batchLimit = 256;

    // Caller side: give the worker the turn and wait until it hands it back.
    void resume()
    {
        std::unique_lock<std::mutex> guard(lock);
        workerTurn = true;
        turn.notify_all();
        turn.wait(guard, [this] { return !workerTurn; });
    }

    // Worker side: hand the turn to the caller and wait until it comes back.
    void pause(Pause why)
    {
        std::unique_lock<std::mutex> guard(lock);
        reason = why;
        workerTurn = false;
        turn.notify_all();
        turn.wait(guard, [this] { return workerTurn; });
    }

    void run()
    {
        {
            std::unique_lock<std::mutex> guard(lock);
            turn.wait(guard, [this] { return workerTurn; });
        }
        const std::int32_t status = demux();
        std::unique_lock<std::mutex> guard(lock);
        result = status != 0 ? status : invalidData;
        finished = true;
        reason = Pause::finished;
        workerTurn = false;
        turn.notify_all();
    }

    std::int32_t demux()
    {
        auto *ioBuffer = static_cast<unsigned char *>(av_malloc(ioBufferSize));
        AVIOContext *io = ioBuffer ? avio_alloc_context(ioBuffer, ioBufferSize, 0, this, &readBytes, nullptr, nullptr)
                                   : nullptr;
        AVFormatContext *context = avformat_alloc_context();
        if (!io || !context) {
            if (io)
                av_freep(&io->buffer);
            else
                av_free(ioBuffer);
            avio_context_free(&io);
            avformat_free_context(context);
            return AVERROR(ENOMEM);
        }
        context->pb = io;
        // FFmpeg refuses to open any other demuxer, or any other decoder
        // inside it, on these bytes.
        context->format_whitelist = av_strdup(allowedFormats);
        context->codec_whitelist = av_strdup(allowedDecoders);
        if (!context->format_whitelist || !context->codec_whitelist) {
            av_freep(&io->buffer);
            avio_context_free(&io);
            avformat_free_context(context);
            return AVERROR(ENOMEM);
        }
        context->interrupt_callback.callback = &interrupted;
        context->interrupt_callback.opaque = this;
        // Demuxers that look into their packets for the real codec (PCM that
        // may hide S/PDIF, for instance) would otherwise hold back up to 2500
        // packets of a live stream before the first one comes out.
        context->max_probe_packets = 4;

        int status = avformat_open_input(&context, "", format, nullptr); // frees the context on failure
        if (status >= 0) {
            counted = served;
            const int index = audioStream(context);
            if (index < 0) {
                status = unsupportedFileType;
            } else {
                AVPacket *read = av_packet_alloc();
                status = read ? 0 : AVERROR(ENOMEM);
                std::int64_t failedAt = -1;
                while (read && !cancelled) {
                    const int r = av_read_frame(context, read);
                    if (r < 0) {
                        // A damaged page or frame is skipped when the demuxer
                        // moved past it; a failure that makes no progress ends it.
                        const std::int64_t at = avio_tell(context->pb);
                        if (r == AVERROR_EXIT || r == AVERROR_EOF || at == failedAt) {
                            status = r;
                            break;
                        }
                        failedAt = at;
                        continue;
                    }
                    if (read->stream_index == index && !cancelled) {
                        // The caller may decode after the demuxer is gone: it
                        // gets its own copies of the packet and the parameters.
                        if (!parameters) {
                            parameters = avcodec_parameters_alloc();
                            if (!parameters
                                || avcodec_parameters_copy(parameters, context->streams[index]->codecpar) < 0) {
                                status = AVERROR(ENOMEM);
                                break;
                            }
                        }
                        AVPacket *kept = av_packet_alloc();
                        if (!kept) {
                            status = AVERROR(ENOMEM);
                            break;
                        }
                        av_packet_move_ref(kept, read);
                        packets.push_back({kept, served});
                        if (packets.size() >= batchLimit)
                            pause(Pause::packets);
                    }
                    av_packet_unref(read);
                }
                av_packet_free(&read);
            }
            avformat_close_input(&context);
        }
        av_freep(&io->buffer);
        avio_context_free(&io);
        return status;
    }

    // The stream to decode. Without a stream-info pass some demuxers (FLAC)
    // leave the rate and channel count to the decoder, which makes FFmpeg's
    // own choice pass such streams over; the first audio stream serves then.
    static int audioStream(const AVFormatContext *context)
    {
        const int best = av_find_best_stream(const_cast<AVFormatContext *>(context), AVMEDIA_TYPE_AUDIO, -1, -1,
                                             nullptr, 0);
        if (best >= 0)
            return best;
        for (unsigned i = 0; i < context->nb_streams; ++i) {
            if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                return int(i);
        }
        return -1;
    }

    // Serves the bytes fed so far; with none left it hands the turn back to
    // the caller and waits for more, so the demuxer never sees an end.
    static int readBytes(void *opaque, uint8_t *buffer, int size)
    {
        auto *self = static_cast<ContainerReader *>(opaque);
        while (self->position >= self->input.size()) {
            if (self->cancelled)
                return AVERROR_EXIT;
            self->pause(Pause::starved);
        }
        if (self->cancelled)
            return AVERROR_EXIT;
        const qsizetype n = std::min<qsizetype>(size, self->input.size() - self->position);
        std::memcpy(buffer, self->input.constData() + self->position, size_t(n));
        self->position += n;
        self->served += n;
        return int(n);
    }

    static int interrupted(void *opaque)
    {
        return static_cast<ContainerReader *>(opaque)->cancelled ? 1 : 0;
    }

    const AVInputFormat *format;
    std::thread worker;
    std::mutex lock;
    std::condition_variable turn;
    bool workerTurn = false;

    // Touched by whichever side holds the turn.
    bool cancelled = false;
    bool finished = false;
    Pause reason = Pause::starved;
    std::int32_t result = 0;
    QByteArray input;            // bytes fed and not yet read, from `position` on
    qsizetype position = 0;
    qint64 served = 0;           // bytes read by the demuxer so far
    qint64 counted = -1;         // bytes already counted for the decoder; -1 while the header is read
    std::deque<Packet> packets;  // demuxed, waiting for the caller
    AVCodecParameters *parameters = nullptr; // of the audio stream, copied at its first packet
};

// The stream parser: skips leading ID3v2 tags, identifies the stream (from
// the hint, or with FFmpeg's probe) and then splits it into packets, which go
// to the decoder's decode() as they complete.
class RadioDecoder::StreamParser {
public:
    StreamParser(RadioDecoder &owner, std::uint32_t hint) : owner(owner), hint(hint) {}

    ~StreamParser()
    {
        container.reset();
        av_parser_close(splitter);
        avcodec_free_context(&splitterContext);
        av_packet_free(&packet);
    }

    StreamParser(const StreamParser &) = delete;
    StreamParser &operator=(const StreamParser &) = delete;

    // Answers 0 while parsing goes on (more bytes may be needed),
    // unsupportedFileType when the stream cannot be identified, or a failure.
    std::int32_t parse(const char *bytes, qsizetype length)
    {
        switch (stage) {
        case Stage::packed:
            return feedPacked(bytes, length);
        case Stage::container:
            return container->feed(bytes, length, owner);
        case Stage::identifying:
            break;
        }

        if (tagRemaining >= length) {
            tagRemaining -= length;
            return 0;
        }
        pending.append(bytes + tagRemaining, length - tagRemaining);
        tagRemaining = 0;
        while (true) {
            if (pending.size() < id3HeaderSize) {
                if (std::strncmp(pending.constData(), "ID3", size_t(std::min<qsizetype>(3, pending.size()))) == 0)
                    return 0; // perhaps the start of a tag
                break;
            }
            const qint64 tag = id3TagSize(pending.constData());
            if (tag == 0)
                break;
            if (tag >= pending.size()) {
                tagRemaining = tag - pending.size();
                pending.clear();
                return 0;
            }
            pending.remove(0, qsizetype(tag));
        }
        return identify();
    }

private:
    enum class Stage { identifying, packed, container };

    std::int32_t identify()
    {
        if (hint == mpegLayer3Hint)
            return startPacked(AV_CODEC_ID_MP3);
        if (hint == adtsHint)
            return startPacked(AV_CODEC_ID_AAC);

        if (pending.size() < nextProbe && pending.size() < lastProbeSize)
            return 0;
        const bool last = pending.size() >= lastProbeSize;
        const auto [format, refused] = probeFormat(pending, last);
        if (refused)
            return unsupportedFileType;
        if (!format) {
            if (last)
                return unsupportedFileType;
            while (nextProbe <= pending.size())
                nextProbe *= 2;
            return 0;
        }
        if (std::strcmp(format->name, "mp3") == 0)
            return startPacked(AV_CODEC_ID_MP3);
        if (std::strcmp(format->name, "aac") == 0)
            return startPacked(AV_CODEC_ID_AAC);

        stage = Stage::container;
        container = std::make_unique<ContainerReader>(format);
        const QByteArray held = std::exchange(pending, QByteArray());
        return container->feed(held.constData(), held.size(), owner);
    }

    std::int32_t startPacked(AVCodecID codec)
    {
        stage = Stage::packed;
        splitter = av_parser_init(codec);
        splitterContext = avcodec_alloc_context3(nullptr);
        packet = av_packet_alloc();
        if (!splitter || !splitterContext || !packet)
            return AVERROR(ENOMEM);
        codecId = codec;
        const QByteArray first = std::exchange(pending, QByteArray());
        return feedPacked(first.constData(), first.size());
    }

    // Packed audio with the ID3v2 tags that stations send between frames
    // (titles, artwork) cut out, wherever they fall in the chunks.
    std::int32_t feedPacked(const char *bytes, qsizetype length)
    {
        QByteArray joined;
        if (!held.isEmpty()) {
            // The start of a tag header came at the end of the last chunk.
            joined = std::exchange(held, QByteArray());
            joined.append(bytes, length);
            bytes = joined.constData();
            length = joined.size();
        }
        const QByteArrayView data(bytes, length);
        qsizetype at = 0;
        while (at < length) {
            if (tagRemaining > 0) {
                const qsizetype skip = qsizetype(std::min<qint64>(tagRemaining, length - at));
                tagRemaining -= skip;
                at += skip;
                continue;
            }
            const qsizetype tag = data.indexOf(QByteArrayView("ID3"), at);
            if (tag < 0) {
                // Keep a trailing "I" or "ID": it may begin a tag.
                qsizetype keep = 0;
                if (data.endsWith("ID"))
                    keep = 2;
                else if (data.endsWith("I"))
                    keep = 1;
                keep = std::min(keep, length - at);
                held = QByteArray(bytes + length - keep, keep);
                return parsePacked(bytes + at, length - at - keep);
            }
            if (length - tag < id3HeaderSize) {
                held = QByteArray(bytes + tag, length - tag);
                return parsePacked(bytes + at, tag - at);
            }
            const qint64 size = midStreamTagSize(bytes + tag);
            const qsizetype upTo = size > 0 ? tag : tag + 1;
            if (const std::int32_t s = parsePacked(bytes + at, upTo - at); s != 0 || owner.error)
                return s;
            at = upTo;
            tagRemaining = size;
        }
        return 0;
    }

    std::int32_t parsePacked(const char *bytes, qsizetype length)
    {
        if (!splitter)
            return AVERROR(ENOMEM);
        // The parser may read a little past its input, as FFmpeg's buffers allow.
        if (!padded)
            padded = std::make_unique<uint8_t[]>(size_t(parserSlice) + AV_INPUT_BUFFER_PADDING_SIZE);
        while (length > 0) {
            const qsizetype slice = std::min(length, parserSlice);
            std::memcpy(padded.get(), bytes, size_t(slice));
            std::memset(padded.get() + slice, 0, AV_INPUT_BUFFER_PADDING_SIZE);
            bytes += slice;
            length -= slice;

            const uint8_t *data = padded.get();
            int remaining = int(slice);
            while (remaining > 0) {
                uint8_t *out = nullptr;
                int outSize = 0;
                const int used = av_parser_parse2(splitter, splitterContext, &out, &outSize, data, remaining,
                                                  AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
                if (used < 0)
                    return used;
                data += used;
                remaining -= used;
                owner.bytesWithoutAudio += used;
                if (outSize > 0) {
                    packet->data = out;
                    packet->size = outSize;
                    owner.decode(nullptr, codecId, packet);
                    packet->data = nullptr;
                    packet->size = 0;
                    if (owner.error)
                        return 0;
                }
                if (owner.bytesWithoutAudio > invalidRunLimit)
                    return invalidData;
                if (used == 0 && outSize == 0)
                    break; // no progress; never spin
            }
        }
        return 0;
    }

    RadioDecoder &owner;
    const std::uint32_t hint;
    Stage stage = Stage::identifying;

    QByteArray pending;          // bytes held until the stream is identified
    qint64 tagRemaining = 0;     // bytes of an ID3v2 tag still to skip
    QByteArray held;             // packed audio: a possible tag header cut by the chunk's end
    qsizetype nextProbe = firstProbeSize;

    AVCodecParserContext *splitter = nullptr;
    AVCodecContext *splitterContext = nullptr;
    AVPacket *packet = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    std::unique_ptr<uint8_t[]> padded;

    std::unique_ptr<ContainerReader> container;
};

RadioDecoder::RadioDecoder(const std::optional<QString> &contentType, Handler handler)
    : handler(std::move(handler))
{
    if (!ffmpeg::loaded()) {
        error = librariesMissing;
        return;
    }
    quietenLibraries();
    hint = hintForContentType(contentType);
    if (hint != 0)
        prefix = QByteArray();
    // The parser is always opened without the hint: the hint is used only
    // when the stream cannot be identified from its own bytes.
    stream = std::make_unique<StreamParser>(*this, 0);
    error = 0;
}

RadioDecoder::~RadioDecoder()
{
    avcodec_free_context(&converter);
    swr_free(&resampler);
    av_frame_free(&frame);
    stream.reset();
}

std::uint32_t RadioDecoder::hintForContentType(const std::optional<QString> &contentType)
{
    if (!contentType)
        return 0;
    const QString type = contentType->toLower();
    if (type == u"audio/mpeg" || type == u"audio/mp3")
        return mpegLayer3Hint;
    if (type == u"audio/aac" || type == u"audio/aacp" || type == u"audio/x-aac")
        return adtsHint;
    return 0;
}

std::int32_t RadioDecoder::appendData(const char *bytes, qsizetype length)
{
    if (length <= 0 || !bytes)
        return error;
    if (length > qsizetype(0xFFFFFFFFLL)) {
        error = paramError;
        return error;
    }
    if (error != 0)
        return error;

    std::int32_t s = stream->parse(bytes, length);
    if (s == unsupportedFileType) {
        if (hint == 0 || converter || error != 0) {
            hint = 0;
            prefix.reset();
            error = unsupportedFileType;
            return error;
        }
        // Open again, this time trusting the hint, and replay what came so far.
        stream = std::make_unique<StreamParser>(*this, hint);
        s = 0;
        if (prefix && !prefix->isEmpty())
            s = stream->parse(prefix->constData(), prefix->size());
        if (s == 0 && error == 0)
            s = stream->parse(bytes, length);
    } else if (hint != 0 && s == 0 && !converter) {
        if (prefix->size() + length <= prefixLimit) {
            prefix->append(bytes, length);
            return error;
        }
    }
    hint = 0;
    prefix.reset();
    if (s != 0 && error == 0)
        error = s;
    return error;
}

bool RadioDecoder::openCodec(const AVCodecParameters *parameters, int codecId, const AVPacket *packet)
{
    auto id = AVCodecID(codecId);
    if (parameters) {
        // A source that states its format in its header is checked before decoding.
        const int channels = parameters->ch_layout.nb_channels;
        const int rate = parameters->sample_rate;
        if (channels < 0 || channels > maxChannels || rate < 0 || rate > maxSampleRate) {
            error = paramError;
            return false;
        }
        // Codecs whose packets all have one size need that size; zero bytes
        // per packet would hand the decoder nothing.
        if (av_get_bits_per_sample(parameters->codec_id) > 0 && parameters->block_align <= 0) {
            error = paramError;
            return false;
        }
    } else if (id == AV_CODEC_ID_MP3) {
        // MPEG audio streams carry layer I, II or III; the frame header says which.
        id = mpegDecoderFor(packet);
        if (id == AV_CODEC_ID_NONE)
            return false; // not at a frame yet: the packet is skipped
    }

    const AVCodec *codec = avcodec_find_decoder(id);
    if (!codec) {
        error = AVERROR_DECODER_NOT_FOUND;
        return false;
    }
    converter = avcodec_alloc_context3(codec);
    frame = av_frame_alloc();
    if (converter)
        converter->codec_whitelist = av_strdup(allowedDecoders);
    if (!converter || !frame || !converter->codec_whitelist) {
        error = AVERROR(ENOMEM);
        return false;
    }
    int status = parameters ? avcodec_parameters_to_context(converter, parameters) : 0;
    if (status >= 0)
        status = avcodec_open2(converter, codec, nullptr);
    if (status < 0) {
        error = status;
        return false;
    }
    return true;
}

void RadioDecoder::decode(const AVCodecParameters *parameters, int codecId, AVPacket *packet)
{
    // An empty packet carries no audio, and handing one to the codec would
    // start draining it.
    if (error != 0 || packet->size <= 0)
        return;
    if (!converter && !openCodec(parameters, codecId, packet))
        return;
    if (avcodec_send_packet(converter, packet) < 0)
        return; // undecodable: skipped
    while (avcodec_receive_frame(converter, frame) >= 0) {
        deliver(frame);
        av_frame_unref(frame);
        if (error != 0)
            return;
    }
}

void RadioDecoder::deliver(const AVFrame *decoded)
{
    const int channels = decoded->ch_layout.nb_channels;
    const int rate = decoded->sample_rate;
    if (channels < 1 || channels > maxChannels || rate < 1 || rate > maxSampleRate) {
        error = paramError;
        return;
    }
    if (decoded->nb_samples <= 0)
        return;

    if (!resampler || resamplerFormat != decoded->format || resamplerRate != rate || resamplerChannels != channels) {
        swr_free(&resampler);
        AVChannelLayout layout{};
        if (decoded->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&layout, channels);
        else
            av_channel_layout_copy(&layout, &decoded->ch_layout);
        int status = swr_alloc_set_opts2(&resampler, &layout, AV_SAMPLE_FMT_FLT, rate, &layout,
                                         AVSampleFormat(decoded->format), rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (status >= 0)
            status = swr_init(resampler);
        if (status < 0) {
            swr_free(&resampler);
            error = status;
            return;
        }
        resamplerFormat = decoded->format;
        resamplerRate = rate;
        resamplerChannels = channels;
    }
    if (pcm.size() < size_t(channels) * maxFramesPerCall)
        pcm.assign(size_t(channels) * maxFramesPerCall, 0.0f);

    const auto format = AVSampleFormat(decoded->format);
    const int sampleBytes = av_get_bytes_per_sample(format);
    const bool planar = av_sample_fmt_is_planar(format);
    const uint8_t *input[maxChannels] = {};
    for (int offset = 0; offset < decoded->nb_samples; offset += maxFramesPerCall) {
        const int n = std::min(maxFramesPerCall, decoded->nb_samples - offset);
        if (planar) {
            for (int c = 0; c < channels; ++c)
                input[c] = decoded->extended_data[c] + size_t(offset) * sampleBytes;
        } else {
            input[0] = decoded->extended_data[0] + size_t(offset) * sampleBytes * channels;
        }
        auto *output = reinterpret_cast<uint8_t *>(pcm.data());
        const int frames = swr_convert(resampler, &output, maxFramesPerCall, input, n);
        if (frames < 0) {
            error = frames;
            return;
        }
        if (frames > 0) {
            bytesWithoutAudio = 0;
            if (handler)
                handler(pcm.data(), std::uint64_t(frames), double(rate), std::uint32_t(channels));
        }
    }
}

} // namespace vantuli

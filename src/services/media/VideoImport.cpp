// Videos through the FFmpeg libraries: probed from the picked file's descriptor,
// kept byte for byte when they already are MP4 with H.264 or HEVC video, else
// converted to H.264/AAC MP4 (moov first) through a short-lived temporary file;
// the poster frame is decoded from the source with its rotation applied.

#include "services/media/MediaImportSteps.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <QTransform>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/display.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace MediaImport {
namespace {

// The conversion's settings; the benchmark runs the ffmpeg tool with the same.
constexpr const char *kX264Preset = "fast";
constexpr const char *kX264Crf = "20";
// Threads and look-ahead frames bound the conversion's memory (each 1080p frame
// held costs megabytes); past four threads a conversion gains little.
constexpr int kCodingThreads = 4;
constexpr const char *kX264Lookahead = "10";
constexpr int kAudioBitRatePerChannel = 96'000;
constexpr int kLongestEncodedSide = 8192;
// Bounds on the work a poster frame may take in a hostile file.
constexpr int kPosterPacketBudget = 4000;
constexpr int kIoBufferSize = 64 * 1024;
// The containers a video may come in; nothing else is even probed.
constexpr const char *kDemuxers = "mov,mp4,matroska,webm,avi,mpegts,mpeg,flv,asf,ogg";

struct FormatClose {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct IoFree {
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct OutputFree {
    void operator()(AVFormatContext *f) const
    {
        if (f->pb)
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
struct CodecFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
struct SwrFree {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
struct FifoFree {
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

FramePtr newFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

PacketPtr newPacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

// The source, demuxed from the descriptor opened at import with positioned reads.
class Input {
public:
    Input(const SourceFile &file, Format format) : m_fd(file.fd), m_size(file.size)
    {
        auto *buffer = static_cast<uint8_t *>(av_malloc(kIoBufferSize));
        if (!buffer)
            throw std::bad_alloc();
        m_io.reset(avio_alloc_context(buffer, kIoBufferSize, 0, this, &Input::read, nullptr, &Input::seek));
        if (!m_io) {
            av_free(buffer);
            throw std::bad_alloc();
        }
        AVFormatContext *context = avformat_alloc_context();
        if (!context)
            throw std::bad_alloc();
        context->pb = m_io.get();
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVDictionary *options = nullptr;
        av_dict_set(&options, "format_whitelist", kDemuxers, 0);
        const AVInputFormat *forced = format == Format::mpeg4 ? av_find_input_format("mp4") : nullptr;
        const int opened = avformat_open_input(&context, "", forced, &options); // frees `context` on failure
        av_dict_free(&options);
        if (opened < 0)
            throw MediaImportError::unreadable(file.name);
        m_format.reset(context);
        if (avformat_find_stream_info(context, nullptr) < 0)
            throw MediaImportError::unreadable(file.name);
    }

    AVFormatContext *format() const { return m_format.get(); }
    qint64 size() const { return m_size; }
    bool isIsoMovie() const { return std::strncmp(m_format->iformat->name, "mov", 3) == 0; }

private:
    static int read(void *opaque, uint8_t *buffer, int size)
    {
        auto *self = static_cast<Input *>(opaque);
        const qint64 want = std::min<qint64>(size, self->m_size - self->m_pos);
        if (want <= 0)
            return AVERROR_EOF;
        ssize_t n;
        do {
            n = ::pread(self->m_fd, buffer, size_t(want), off_t(self->m_pos));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            return AVERROR_EOF; // the file shrank since it was opened
        self->m_pos += n;
        return int(n);
    }

    static int64_t seek(void *opaque, int64_t offset, int whence)
    {
        auto *self = static_cast<Input *>(opaque);
        if (whence & AVSEEK_SIZE)
            return self->m_size;
        qint64 position;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            position = offset;
            break;
        case SEEK_CUR:
            position = self->m_pos + offset;
            break;
        case SEEK_END:
            position = self->m_size + offset;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (position < 0)
            return AVERROR(EINVAL);
        self->m_pos = position;
        return position;
    }

    int m_fd;
    qint64 m_size;
    qint64 m_pos = 0;
    std::unique_ptr<AVIOContext, IoFree> m_io; // outlives the demuxer that reads it
    std::unique_ptr<AVFormatContext, FormatClose> m_format;
};

// How the track is meant to be shown: quarter turns clockwise, after a mirror.
struct Orientation {
    int quarterTurns = 0;
    bool mirrored = false;
    std::optional<QByteArray> matrix; // the display matrix, carried into a conversion
};

Orientation orientationOf(const AVStream *stream)
{
    Orientation o;
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t))
        return o;
    int32_t matrix[9];
    std::memcpy(matrix, data, sizeof matrix);
    o.matrix = QByteArray(reinterpret_cast<const char *>(data), qsizetype(sizeof matrix));
    o.mirrored = double(matrix[0]) * matrix[4] - double(matrix[1]) * matrix[3] < 0;
    const double counterClockwise = av_display_rotation_get(matrix);
    if (std::isfinite(counterClockwise))
        o.quarterTurns = int(((std::lround(-counterClockwise / 90.0) % 4) + 4) % 4);
    return o;
}

double durationOf(const AVFormatContext *format, const AVStream *video)
{
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        return double(format->duration) / AV_TIME_BASE;
    if (video && video->duration != AV_NOPTS_VALUE && video->duration > 0)
        return double(video->duration) * av_q2d(video->time_base);
    return 0.0;
}

// A cut-short ISO file still has its whole sample table; its samples point
// past the end of what is there.
bool samplesWithinFile(AVFormatContext *format, qint64 size)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        AVStream *stream = format->streams[i];
        const int count = avformat_index_get_entries_count(stream);
        for (int k = 0; k < count; ++k) {
            const AVIndexEntry *entry = avformat_index_get_entry(stream, k);
            if (entry && (entry->pos < 0 || entry->pos + entry->size > size))
                return false;
        }
    }
    return true;
}

CodecPtr openDecoder(const AVStream *stream, bool threaded, qint64 largestPixels)
{
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return nullptr;
    CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        return nullptr;
    decoder->pkt_timebase = stream->time_base;
    // A stream may announce one size and then switch to a huge one.
    decoder->max_pixels = largestPixels;
    decoder->thread_count = threaded ? std::min(kCodingThreads, std::max(1, QThread::idealThreadCount())) : 1;
    decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return nullptr;
    return decoder;
}

// ---- poster frame ----

QImage pictureOf(const AVFrame *frame, const AVRational sampleAspect, const Orientation &orientation, int side)
{
    double displayWidth = frame->width;
    if (sampleAspect.num > 0 && sampleAspect.den > 0)
        displayWidth = displayWidth * sampleAspect.num / sampleAspect.den;
    const double longest = std::max(displayWidth, double(frame->height));
    const double scale = longest > side ? side / longest : 1.0;
    const int width = std::max(1, int(std::lround(displayWidth * scale)));
    const int height = std::max(1, int(std::lround(frame->height * scale)));
    std::unique_ptr<SwsContext, SwsFree> sws(sws_getContext(frame->width, frame->height,
                                                            AVPixelFormat(frame->format), width, height,
                                                            AV_PIX_FMT_RGB32, SWS_BICUBIC, nullptr, nullptr, nullptr));
    QImage image(width, height, QImage::Format_RGB32);
    if (!sws || image.isNull())
        return {};
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) != height)
        return {};
    if (orientation.mirrored)
        image = image.mirrored(true, false);
    if (orientation.quarterTurns != 0)
        image = image.transformed(QTransform().rotate(90.0 * orientation.quarterTurns));
    return image;
}

// The first frame at or after `seconds` (the last one when the clip ends sooner).
QImage posterFrame(Input &input, int videoIndex, double seconds, const Orientation &orientation,
                   const MediaImporter::Limits &limits, const StopCheck &stopped)
{
    AVFormatContext *format = input.format();
    AVStream *stream = format->streams[videoIndex];
    CodecPtr decoder = openDecoder(stream, true, limits.largestVideoPixels);
    if (!decoder)
        return {};
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int64_t target = start + av_rescale_q(std::llround(seconds * 600), AVRational{1, 600}, stream->time_base);
    if (av_seek_frame(format, videoIndex, target, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(format, videoIndex, start, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);

    PacketPtr packet = newPacket();
    FramePtr frame = newFrame();
    FramePtr best = newFrame();
    bool have = false, reached = false, draining = false;
    for (int packets = 0; !reached && packets < kPosterPacketBudget && !stopped(); ++packets) {
        if (!draining) {
            const int read = av_read_frame(format, packet.get());
            if (read < 0) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                if (packet->stream_index == videoIndex)
                    avcodec_send_packet(decoder.get(), packet.get());
                av_packet_unref(packet.get());
            }
        }
        int received;
        while (!reached && (received = avcodec_receive_frame(decoder.get(), frame.get())) == 0) {
            av_frame_unref(best.get());
            av_frame_move_ref(best.get(), frame.get());
            have = true;
            reached = best->best_effort_timestamp == AV_NOPTS_VALUE || best->best_effort_timestamp >= target;
        }
        if (draining && !reached)
            break;
    }
    if (!have || best->width <= 0 || best->height <= 0
        || qint64(best->width) * best->height > limits.largestVideoPixels)
        return {};
    const AVRational aspect = stream->sample_aspect_ratio.num ? stream->sample_aspect_ratio
                                                              : best->sample_aspect_ratio;
    return pictureOf(best.get(), aspect, orientation, limits.posterSide);
}

// ---- conversion ----

// The conversion's output; gone from the disk on every way out.
class TemporaryFile {
public:
    explicit TemporaryFile(const QString &directory)
        : path(QDir(directory).filePath(QStringLiteral("zephyl-") + newId() + QStringLiteral(".mp4"))),
          native(QFile::encodeName(path))
    {
    }
    ~TemporaryFile() { ::unlink(native.constData()); }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;
    const QString path;
    const QByteArray native;
};

class Transcoder {
public:
    Transcoder(Input &input, int videoIndex, int audioIndex, const Orientation &orientation, const QString &name,
               const MediaImporter::Limits &limits, const StopCheck &stopped)
        : m_input(input), m_name(name), m_limits(limits), m_stopped(stopped), m_videoIndex(videoIndex),
          m_audioIndex(audioIndex), m_orientation(orientation)
    {
    }
    ~Transcoder() { sws_freeContext(m_sws); }
    Transcoder(const Transcoder &) = delete;
    Transcoder &operator=(const Transcoder &) = delete;

    MediaData run()
    {
        const QString directory =
            m_limits.temporaryDirectory.isEmpty() ? QDir::tempPath() : m_limits.temporaryDirectory;
        if (m_stopped())
            throw failed();
        TemporaryFile temporary(directory);
        AVFormatContext *output = nullptr;
        if (avformat_alloc_output_context2(&output, nullptr, "mp4", temporary.native.constData()) < 0 || !output)
            throw failed();
        m_output.reset(output);
        setUpVideo();
        if (m_audioIndex >= 0)
            setUpAudio();
        if (avio_open(&output->pb, temporary.native.constData(), AVIO_FLAG_WRITE) < 0)
            throw failed();
        AVDictionary *options = nullptr;
        av_dict_set(&options, "movflags", "+faststart", 0);
        const int header = avformat_write_header(output, &options);
        av_dict_free(&options);
        if (header < 0)
            throw failed();

        AVFormatContext *format = m_input.format();
        PacketPtr packet = newPacket();
        for (;;) {
            if (m_stopped())
                throw failed();
            const int read = av_read_frame(format, packet.get());
            if (read == AVERROR_EOF)
                break;
            if (read < 0)
                throw MediaImportError::unreadable(m_name);
            const AVStream *stream = format->streams[packet->stream_index];
            if (packet->stream_index == m_videoIndex || packet->stream_index == m_audioIndex) {
                // A file may claim a short length and hold hours: the limit binds what is converted.
                const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                if (at != AV_NOPTS_VALUE) {
                    const double seconds = double(at - startOf(stream)) * av_q2d(stream->time_base);
                    if (seconds > m_limits.longestVideoSeconds + 1.0)
                        throw MediaImportError::videoTooLong(m_name, seconds);
                }
                if (packet->stream_index == m_videoIndex)
                    decodeVideo(packet.get());
                else
                    decodeAudio(packet.get());
            }
            av_packet_unref(packet.get());
        }
        decodeVideo(nullptr);
        encodeVideo(nullptr);
        if (m_audioDecoder) {
            decodeAudio(nullptr);
            flushAudio();
        }
        if (m_videoFrames == 0 || av_write_trailer(output) < 0 || avio_closep(&output->pb) < 0)
            throw failed();
        m_output.reset();

        const int fd = ::open(temporary.native.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0)
                ::close(fd);
            throw failed();
        }
        MediaData data = MediaData::adoptDescriptor(fd, st.st_size);
        if (data.isEmpty())
            throw failed();
        return data; // the name goes with `temporary`; the open descriptor keeps the bytes
    }

private:
    MediaImportError failed() const { return MediaImportError::transcodeFailed(m_name); }

    int64_t startOf(const AVStream *stream) const
    {
        const AVFormatContext *format = m_input.format();
        if (format->start_time != AV_NOPTS_VALUE)
            return av_rescale_q(format->start_time, AV_TIME_BASE_Q, stream->time_base);
        return stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    }

    void setUpVideo()
    {
        const AVStream *in = m_input.format()->streams[m_videoIndex];
        m_videoDecoder = openDecoder(in, true, m_limits.largestVideoPixels);
        if (!m_videoDecoder)
            throw failed();
        const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
        if (!codec)
            codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        if (!codec)
            throw failed();
        m_width = m_videoDecoder->width & ~1;
        m_height = m_videoDecoder->height & ~1;
        // H.264 encoders refuse longer sides (and x264 leaks when it does).
        if (m_width < 2 || m_height < 2 || m_width > kLongestEncodedSide || m_height > kLongestEncodedSide)
            throw failed();
        m_videoEncoder.reset(avcodec_alloc_context3(codec));
        if (!m_videoEncoder)
            throw std::bad_alloc();
        AVCodecContext *enc = m_videoEncoder.get();
        enc->width = m_width;
        enc->height = m_height;
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->sample_aspect_ratio = in->sample_aspect_ratio.num ? in->sample_aspect_ratio
                                                               : m_videoDecoder->sample_aspect_ratio;
        enc->framerate = av_guess_frame_rate(m_input.format(), const_cast<AVStream *>(in), nullptr);
        enc->time_base = in->time_base.num > 0 && in->time_base.den > 0 ? in->time_base : AVRational{1, 90000};
        enc->color_primaries = m_videoDecoder->color_primaries;
        enc->color_trc = m_videoDecoder->color_trc;
        enc->colorspace = m_videoDecoder->colorspace;
        if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *options = nullptr;
        av_dict_set(&options, "preset", kX264Preset, 0);
        av_dict_set(&options, "crf", kX264Crf, 0);
        av_dict_set(&options, "rc-lookahead", kX264Lookahead, 0);
        enc->thread_count = std::min(kCodingThreads, std::max(1, QThread::idealThreadCount()));
        const int opened = avcodec_open2(enc, codec, &options);
        av_dict_free(&options);
        if (opened < 0)
            throw failed();
        m_videoOut = avformat_new_stream(m_output.get(), nullptr);
        if (!m_videoOut || avcodec_parameters_from_context(m_videoOut->codecpar, enc) < 0)
            throw failed();
        m_videoOut->time_base = enc->time_base;
        // The pixels stay as filmed; players turn them as the source asked.
        if (m_orientation.matrix) {
            uint8_t *side = av_stream_new_side_data(m_videoOut, AV_PKT_DATA_DISPLAYMATRIX, m_orientation.matrix->size());
            if (side)
                std::memcpy(side, m_orientation.matrix->constData(), size_t(m_orientation.matrix->size()));
        }
        m_frame = newFrame();
        m_scaled = newFrame();
        m_packet = newPacket();
    }

    void setUpAudio()
    {
        const AVStream *in = m_input.format()->streams[m_audioIndex];
        m_audioDecoder = openDecoder(in, false, m_limits.largestVideoPixels);
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!m_audioDecoder || !codec)
            throw failed();
        m_audioEncoder.reset(avcodec_alloc_context3(codec));
        if (!m_audioEncoder)
            throw std::bad_alloc();
        AVCodecContext *enc = m_audioEncoder.get();
        const int channels = std::clamp(m_audioDecoder->ch_layout.nb_channels, 1, 2);
        av_channel_layout_default(&enc->ch_layout, channels);
        int rate = 48000;
        for (const int *r = codec->supported_samplerates; r && *r; ++r)
            if (*r == m_audioDecoder->sample_rate)
                rate = *r;
        enc->sample_rate = rate;
        enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
        enc->bit_rate = int64_t(kAudioBitRatePerChannel) * channels;
        enc->time_base = AVRational{1, rate};
        if (m_output->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(enc, codec, nullptr) < 0)
            throw failed();
        m_audioOut = avformat_new_stream(m_output.get(), nullptr);
        if (!m_audioOut || avcodec_parameters_from_context(m_audioOut->codecpar, enc) < 0)
            throw failed();
        m_audioOut->time_base = enc->time_base;
        m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, std::max(enc->frame_size, 1024)));
        if (!m_fifo)
            throw std::bad_alloc();
        m_audioFrame = newFrame();
        m_audioChunk = newFrame();
        m_audioConverted = newFrame();
    }

    void write(AVCodecContext *encoder, AVStream *stream)
    {
        for (;;) {
            const int received = avcodec_receive_packet(encoder, m_packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            if (received < 0)
                throw failed();
            av_packet_rescale_ts(m_packet.get(), encoder->time_base, stream->time_base);
            m_packet->stream_index = stream->index;
            if (av_interleaved_write_frame(m_output.get(), m_packet.get()) < 0)
                throw failed();
            // Stop as soon as the output cannot be uploaded anyway.
            if (avio_tell(m_output->pb) > m_limits.largestVideoBytes)
                throw MediaImportError::videoTooLarge(m_name);
        }
    }

    void encodeVideo(AVFrame *frame)
    {
        const int sent = avcodec_send_frame(m_videoEncoder.get(), frame);
        if (sent < 0 && sent != AVERROR_EOF)
            throw failed();
        write(m_videoEncoder.get(), m_videoOut);
    }

    void decodeVideo(const AVPacket *packet)
    {
        const int sent = avcodec_send_packet(m_videoDecoder.get(), packet);
        if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR_INVALIDDATA)
            throw failed(); // a damaged packet is skipped, as players skip it
        const AVRational timeBase = m_input.format()->streams[m_videoIndex]->time_base;
        const int64_t start = startOf(m_input.format()->streams[m_videoIndex]);
        while (avcodec_receive_frame(m_videoDecoder.get(), m_frame.get()) == 0) {
            AVFrame *frame = m_frame.get();
            if (frame->width <= 0 || frame->height <= 0
                || qint64(frame->width) * frame->height > m_limits.largestVideoPixels)
                throw failed();
            int64_t pts = frame->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE)
                pts = av_rescale_q(pts - start, timeBase, m_videoEncoder->time_base);
            else
                pts = m_videoFrames == 0 ? 0 : m_lastVideoPts + 1;
            if (m_videoFrames > 0 && pts <= m_lastVideoPts)
                pts = m_lastVideoPts + 1; // the encoder takes rising times only
            m_lastVideoPts = pts;
            AVFrame *out = frame;
            if (frame->format != AV_PIX_FMT_YUV420P || frame->width != m_width || frame->height != m_height) {
                m_sws = sws_getCachedContext(m_sws, frame->width, frame->height, AVPixelFormat(frame->format),
                                             m_width, m_height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr,
                                             nullptr);
                if (!m_sws)
                    throw failed();
                if (!m_scaled->buf[0]) {
                    m_scaled->format = AV_PIX_FMT_YUV420P;
                    m_scaled->width = m_width;
                    m_scaled->height = m_height;
                    if (av_frame_get_buffer(m_scaled.get(), 0) < 0)
                        throw std::bad_alloc();
                }
                if (av_frame_make_writable(m_scaled.get()) < 0)
                    throw std::bad_alloc();
                sws_scale(m_sws, frame->data, frame->linesize, 0, frame->height, m_scaled->data, m_scaled->linesize);
                out = m_scaled.get();
            }
            out->pts = pts;
            out->pict_type = AV_PICTURE_TYPE_NONE;
            encodeVideo(out);
            ++m_videoFrames;
            av_frame_unref(frame);
        }
    }

    void decodeAudio(const AVPacket *packet)
    {
        const int sent = avcodec_send_packet(m_audioDecoder.get(), packet);
        if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR_INVALIDDATA)
            throw failed();
        const AVStream *in = m_input.format()->streams[m_audioIndex];
        AVCodecContext *enc = m_audioEncoder.get();
        while (avcodec_receive_frame(m_audioDecoder.get(), m_audioFrame.get()) == 0) {
            AVFrame *frame = m_audioFrame.get();
            if (!m_resampler) {
                AVChannelLayout layout{};
                if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels <= 0)
                    av_channel_layout_default(&layout, std::max(frame->ch_layout.nb_channels, 1));
                else
                    av_channel_layout_copy(&layout, &frame->ch_layout);
                SwrContext *swr = nullptr;
                const int made = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                                     &layout, AVSampleFormat(frame->format), frame->sample_rate, 0,
                                                     nullptr);
                av_channel_layout_uninit(&layout);
                m_resampler.reset(swr);
                if (made < 0 || swr_init(swr) < 0)
                    throw failed();
                m_resamplerInput = {frame->format, frame->sample_rate, frame->ch_layout.nb_channels};
                const int64_t pts = frame->best_effort_timestamp;
                m_audioPts = pts == AV_NOPTS_VALUE
                    ? 0
                    : std::max<int64_t>(0, av_rescale_q(pts - startOf(in), in->time_base, enc->time_base));
            } else if (m_resamplerInput != std::array<int, 3>{frame->format, frame->sample_rate,
                                                              frame->ch_layout.nb_channels}) {
                throw failed(); // the audio's format changed mid-stream
            }
            resample(frame->extended_data, frame->nb_samples);
            av_frame_unref(frame);
            encodeAudio(false);
        }
    }

    void resample(uint8_t **data, int samples)
    {
        AVCodecContext *enc = m_audioEncoder.get();
        const int room = swr_get_out_samples(m_resampler.get(), samples);
        if (room <= 0)
            return;
        AVFrame *converted = m_audioConverted.get();
        av_frame_unref(converted);
        converted->format = enc->sample_fmt;
        converted->sample_rate = enc->sample_rate;
        converted->nb_samples = room;
        if (av_channel_layout_copy(&converted->ch_layout, &enc->ch_layout) < 0
            || av_frame_get_buffer(converted, 0) < 0)
            throw std::bad_alloc();
        const int made = swr_convert(m_resampler.get(), converted->data, room, const_cast<const uint8_t **>(data),
                                     samples);
        if (made < 0)
            throw failed();
        if (made > 0 && av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void **>(converted->data), made) < made)
            throw std::bad_alloc();
    }

    void encodeAudio(bool last)
    {
        AVCodecContext *enc = m_audioEncoder.get();
        const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
        while (av_audio_fifo_size(m_fifo.get()) >= frameSize || (last && av_audio_fifo_size(m_fifo.get()) > 0)) {
            const int samples = std::min(frameSize, av_audio_fifo_size(m_fifo.get()));
            AVFrame *chunk = m_audioChunk.get();
            av_frame_unref(chunk);
            chunk->format = enc->sample_fmt;
            chunk->sample_rate = enc->sample_rate;
            chunk->nb_samples = samples;
            if (av_channel_layout_copy(&chunk->ch_layout, &enc->ch_layout) < 0 || av_frame_get_buffer(chunk, 0) < 0)
                throw std::bad_alloc();
            if (av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void **>(chunk->data), samples) < samples)
                throw failed();
            chunk->pts = m_audioPts;
            m_audioPts += samples;
            if (avcodec_send_frame(enc, chunk) < 0)
                throw failed();
            write(enc, m_audioOut);
        }
    }

    void flushAudio()
    {
        if (m_resampler)
            resample(nullptr, 0);
        encodeAudio(true);
        const int sent = avcodec_send_frame(m_audioEncoder.get(), nullptr);
        if (sent < 0 && sent != AVERROR_EOF)
            throw failed();
        write(m_audioEncoder.get(), m_audioOut);
    }

    Input &m_input;
    const QString &m_name;
    const MediaImporter::Limits &m_limits;
    const StopCheck &m_stopped;
    const int m_videoIndex;
    const int m_audioIndex;
    const Orientation &m_orientation;

    std::unique_ptr<AVFormatContext, OutputFree> m_output;
    CodecPtr m_videoDecoder, m_videoEncoder, m_audioDecoder, m_audioEncoder;
    AVStream *m_videoOut = nullptr;
    AVStream *m_audioOut = nullptr;
    FramePtr m_frame, m_scaled, m_audioFrame, m_audioChunk, m_audioConverted;
    PacketPtr m_packet;
    SwsContext *m_sws = nullptr; // sws_getCachedContext replaces it as frames change
    std::unique_ptr<SwrContext, SwrFree> m_resampler;
    std::array<int, 3> m_resamplerInput{};
    std::unique_ptr<AVAudioFifo, FifoFree> m_fifo;
    int m_width = 0, m_height = 0;
    int64_t m_lastVideoPts = 0;
    int64_t m_audioPts = 0;
    qint64 m_videoFrames = 0;
};

} // namespace

ImportedMedia importVideo(const SourceFile &file, Format format, const MediaImporter::Limits &limits,
                          const StopCheck &stopped)
{
    if (file.size <= 0)
        throw MediaImportError::unreadable(file.name);
    av_log_set_level(AV_LOG_QUIET);
    Input input(file, format);
    AVFormatContext *context = input.format();

    int videoIndex = -1;
    for (unsigned i = 0; i < context->nb_streams && videoIndex < 0; ++i) {
        const AVStream *stream = context->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            videoIndex = int(i);
    }
    AVStream *video = videoIndex >= 0 ? context->streams[videoIndex] : nullptr;
    const double seconds = durationOf(context, video);
    if (!std::isfinite(seconds) || seconds <= 0)
        throw MediaImportError::unreadable(file.name);
    if (seconds > limits.longestVideoSeconds)
        throw MediaImportError::videoTooLong(file.name, seconds);
    if (!video)
        throw MediaImportError::unreadable(file.name);
    const AVCodecParameters *params = video->codecpar;
    if (params->width <= 0 || params->height <= 0
        || qint64(params->width) * params->height > limits.largestVideoPixels)
        throw MediaImportError::unreadable(file.name);
    if (input.isIsoMovie() && !samplesWithinFile(context, file.size))
        throw MediaImportError::unreadable(file.name);

    const Orientation orientation = orientationOf(video);
    const AVRational aspect = video->sample_aspect_ratio.num ? video->sample_aspect_ratio : params->sample_aspect_ratio;
    double width = params->width;
    if (aspect.num > 0 && aspect.den > 0)
        width = width * aspect.num / aspect.den;
    const QSizeF natural(std::round(width), params->height);
    const QSizeF pixelSize = orientation.quarterTurns % 2 ? natural.transposed() : natural;

    const bool h264 = params->codec_id == AV_CODEC_ID_H264 && params->codec_tag == MKTAG('a', 'v', 'c', '1');
    const bool hevc = params->codec_id == AV_CODEC_ID_HEVC && params->codec_tag == MKTAG('h', 'v', 'c', '1');
    MediaData data;
    if (format == Format::mpeg4 && (h264 || hevc)) {
        // Kept as it is: its size is known without reading a byte of it.
        if (file.size > limits.largestVideoBytes)
            throw MediaImportError::videoTooLarge(file.name);
        data = MediaData::adoptDescriptor(::fcntl(file.fd, F_DUPFD_CLOEXEC, 0), file.size);
        if (data.isEmpty())
            throw MediaImportError::unreadable(file.name);
    } else {
        const int audioIndex = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, videoIndex, nullptr, 0);
        Transcoder transcoder(input, videoIndex, audioIndex >= 0 ? audioIndex : -1, orientation, file.name, limits,
                               stopped);
        data = transcoder.run();
    }
    if (data.size() > limits.largestVideoBytes)
        throw MediaImportError::videoTooLarge(file.name);

    ImportedMedia media;
    media.id = newId();
    media.kind = ImportedMedia::Kind::video;
    media.fileName = uploadName(file.name, ".mp4");
    media.data = std::move(data);
    media.contentType = QStringLiteral("video/mp4");
    media.duration = seconds;
    media.pixelSize = pixelSize;
    // A clip without a poster frame is still imported.
    const QImage poster =
        posterFrame(input, videoIndex, std::min(seconds * 0.5, 0.5), orientation, limits, stopped);
    if (!poster.isNull()) {
        if (MediaThumbnail thumb = thumbnailOf(poster); !thumb.isNull())
            media.thumbnail = std::move(thumb);
        media.posterData = jpegData(poster, 88);
    }
    return media;
}

} // namespace MediaImport

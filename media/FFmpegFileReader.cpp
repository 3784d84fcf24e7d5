// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/FFmpegFileReader.h"

#include <QByteArrayList>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numeric>
#include <sys/stat.h>
#include <vector>

namespace zwirl::media {
namespace {

// File frames decoded before a seek target at the least, for the codec and the resampler to
// settle: MP3's bit reservoir reaches a few frames of 1152 back, AAC's overlap one of 1024.
constexpr int64_t kPreroll = 8192;
// No damaged header's claim of millions of Hz is believed; the resampler's filter grows with the
// downsampling ratio (16 MB at 128).
constexpr int kMaxRate = 1 << 20;
constexpr double kMaxDownsampling = 128;
// Frames the opening pass decodes at most to find the exact length: over three hours at 44.1 kHz.
constexpr int64_t kScanFrames = int64_t(1) << 29;
// Output frames per resampler call: a few samples at a tiny rate may stand for millions.
constexpr int64_t kConvertChunk = 1 << 16;
// Positions in file frames stay within this, whatever a damaged file says, so no sum overflows.
constexpr int64_t kFar = int64_t(1) << 40;
int64_t clampFar(int64_t frame) {
    return std::clamp(frame, -kFar, kFar);
}

// Every demuxer but those that open further files or network streams named inside the file
// (playlists, session descriptions, image sequences), as FFmpeg's comma-separated list: the reader
// reads only the file it is given.
const char* allowedDemuxers() {
    static const QByteArray names = [] {
        const QByteArrayList others = {"concat", "hls", "dash",   "imf",      "sdp",
                                       "rtsp",   "rtp", "image2", "avisynth", "vapoursynth"};
        QByteArrayList list;
        void* state = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&state))
            if (!others.contains(format->name))
                list << format->name;
        return list.join(',');
    }();
    return names.constData();
}

} // namespace

// Only a regular file opens: a FIFO or a device may block the open or never end, a directory has
// nothing to read.
MediaError FFmpegFileReader::openFile(const QString& path) {
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return errorFromAv(AVERROR(errno), "stat");
    if (!S_ISREG(info.st_mode)) {
        qCWarning(lcMedia) << path << "is not a regular file";
        return MediaError::InvalidFile;
    }
    // One pass reads no more packets than the file has bytes, whatever a damaged demuxer does.
    m_packetBudget = info.st_size + 4096;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", allowedDemuxers(), 0);
    AVFormatContext* context = nullptr;
    // "file:" keeps a colon in the name from selecting another protocol.
    const QByteArray url = "file:" + QFile::encodeName(path);
    const int error = avformat_open_input(&context, url.constData(), nullptr, &options);
    av_dict_free(&options);
    m_input.reset(context);
    // A demuxer that is not allowed shows as an invalid argument: the file is not one we read.
    const MediaError kind = errorFromAv(error, "avformat_open_input");
    return error == AVERROR(EINVAL) ? MediaError::InvalidFile : kind;
}

MediaError FFmpegFileReader::open(const QString& path) {
    quietenFFmpegLog();
    if (const MediaError error = openFile(path); error != MediaError::None)
        return error;
    int error = avformat_find_stream_info(m_input.get(), nullptr);
    if (error < 0)
        return errorFromAv(error, "avformat_find_stream_info");
    const AVCodec* decoder = nullptr;
    const int index = av_find_best_stream(m_input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (index < 0 || !decoder) {
        qCWarning(lcMedia) << path << "holds no audio stream that FFmpeg decodes";
        return MediaError::InvalidFile;
    }
    const AVStream* stream = m_stream = m_input->streams[index];
    m_fileRate = stream->codecpar->sample_rate;
    if (m_fileRate <= 0 || m_fileRate > kMaxRate || stream->codecpar->ch_layout.nb_channels <= 0) {
        qCWarning(lcMedia) << path << "claims a rate of" << m_fileRate << "Hz and"
                           << stream->codecpar->ch_layout.nb_channels << "channels";
        return MediaError::InvalidFile;
    }
    m_codec.reset(avcodec_alloc_context3(decoder));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_frame || !m_packet)
        return MediaError::NoMemory;
    error = avcodec_parameters_to_context(m_codec.get(), stream->codecpar);
    if (error < 0)
        return errorFromAv(error, "avcodec_parameters_to_context");
    // The decoder drops the priming and the padding that the side data and the codec's delay
    // give, and moves the time stamps of what it keeps to match.
    m_codec->pkt_timebase = stream->time_base;
    error = avcodec_open2(m_codec.get(), decoder, nullptr);
    if (error < 0)
        return errorFromAv(error, "avcodec_open2");
    m_preroll = std::max<int64_t>(kPreroll, stream->codecpar->seek_preroll);
    return scanStream();
}

// Decodes the stream once: its first real frame and its end are where the decoder's first and
// last delivered frames lie. A container that knows the stream's length (MPEG-4 edit lists) may
// end it earlier, inside the decoder's last frame; past the decoding budget, it alone does.
MediaError FFmpegFileReader::scanStream() {
    bool firstFrame = true;
    int64_t running = 0;
    m_firstPacketPts = AV_NOPTS_VALUE;
    m_demuxerDone = false;
    m_packetsRead = 0;
    for (bool first = true; !m_demuxerDone && running - m_origin < kScanFrames; first = false) {
        if (const MediaError error = feedDecoder(first ? &m_firstPacketPts : nullptr);
            error != MediaError::None)
            return error;
        while (avcodec_receive_frame(m_codec.get(), m_frame.get()) >= 0) {
            if (m_frame->pts != AV_NOPTS_VALUE)
                running = fileFrames(m_frame->pts);
            if (firstFrame)
                m_origin = running;
            firstFrame = false;
            running = clampFar(running + m_frame->nb_samples);
            av_frame_unref(m_frame.get());
        }
    }
    const bool complete = m_demuxerDone;
    int64_t end = running;
    if (m_stream->duration != AV_NOPTS_VALUE &&
        (!complete || m_input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)) {
        const int64_t start = m_stream->start_time == AV_NOPTS_VALUE ? 0 : m_stream->start_time;
        const int64_t known = fileFrames(start) + fileFrames(m_stream->duration);
        end = complete ? std::min(end, known) : known;
    }
    m_length = std::clamp<int64_t>(end - m_origin, 0, kFar);
    return setOutput(m_fileRate, m_stream->codecpar->ch_layout.nb_channels);
}

MediaError FFmpegFileReader::setOutput(double rate, int channels) {
    if (!m_codec)
        return MediaError::NotOpen;
    if (!(rate >= 1 && rate <= kMaxRate) || m_fileRate > kMaxDownsampling * rate || channels < 1 ||
        channels > 64)
        return MediaError::BadArgument;
    m_outputRate = rate;
    m_outputChannels = channels;
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, channels, 4096));
    if (!m_fifo)
        return MediaError::NoMemory;
    m_resampleQuantum = 1;
    if (rate != m_fileRate && rate == std::floor(rate))
        m_resampleQuantum = m_fileRate / std::gcd(int64_t(m_fileRate), int64_t(rate));
    return seek(0);
}

int64_t FFmpegFileReader::outputLength() const {
    return m_fileRate > 0 ? int64_t(double(m_length) * (m_outputRate / m_fileRate) + 0.5) : 0;
}

MediaError FFmpegFileReader::seek(int64_t frame) {
    if (!m_fifo)
        return MediaError::NotOpen;
    if (frame < 0)
        return MediaError::BadArgument;
    // Decoding starts early enough for the codec and the resampler to settle, on a file frame
    // that stands for a whole output frame, so that the resampler keeps its phase.
    const int64_t target =
        int64_t(std::min(std::floor(double(frame) * m_fileRate / m_outputRate), double(kFar)));
    int64_t start = std::max<int64_t>(0, target - m_preroll);
    start -= start % m_resampleQuantum;
    const MediaError error = restartAt(start);
    m_keepOutputFrom = frame;
    return error;
}

MediaError FFmpegFileReader::restartAt(int64_t fileFrame) {
    const int64_t timestamp =
        fileFrame == 0 && m_firstPacketPts != AV_NOPTS_VALUE
            ? m_firstPacketPts
            : av_rescale_q(fileFrame + m_origin, AVRational{1, m_fileRate}, m_stream->time_base);
    const int error =
        av_seek_frame(m_input.get(), m_stream->index, timestamp, AVSEEK_FLAG_BACKWARD);
    if (error < 0)
        return errorFromAv(error, "av_seek_frame");
    avcodec_flush_buffers(m_codec.get());
    m_converter.reset();
    av_audio_fifo_reset(m_fifo.get());
    av_frame_unref(m_frame.get());
    m_pendingFrom = m_pendingTo = m_packetsRead = 0;
    m_demuxerDone = m_decoderDone = false;
    m_keepFrom = m_nextIndex = fileFrame;
    m_outputIndex = int64_t(std::llround(double(fileFrame) * m_outputRate / m_fileRate));
    return MediaError::None;
}

MediaError FFmpegFileReader::read(int16_t* out, int64_t& frames) {
    const int64_t asked = std::max<int64_t>(frames, 0);
    frames = 0;
    if (!m_fifo)
        return MediaError::NotOpen;
    MediaError error = MediaError::None;
    // Each step is bounded; decoding stops where nothing more can be delivered.
    while (av_audio_fifo_size(m_fifo.get()) < asked && !m_decoderDone &&
           m_outputIndex < outputLength() && error == MediaError::None)
        error = decodeMore();
    frames = std::min<int64_t>(asked, av_audio_fifo_size(m_fifo.get()));
    void* data[] = {out};
    if (frames > 0)
        av_audio_fifo_read(m_fifo.get(), data, int(frames));
    return error;
}

// Hands the decoder the stream's next packet, or the end once the file has no more (or breaks
// off, or a damaged demuxer exceeds the packet budget).
MediaError FFmpegFileReader::feedDecoder(int64_t* pts) {
    int error = 0;
    while ((error = ++m_packetsRead > m_packetBudget
                        ? AVERROR_EOF
                        : av_read_frame(m_input.get(), m_packet.get())) >= 0 &&
           m_packet->stream_index != m_stream->index)
        av_packet_unref(m_packet.get());
    if (error < 0) {
        m_demuxerDone = true;
        avcodec_send_packet(m_codec.get(), nullptr);
        return MediaError::None;
    }
    if (pts)
        *pts = m_packet->pts;
    error = avcodec_send_packet(m_codec.get(), m_packet.get());
    av_packet_unref(m_packet.get());
    return error < 0 && error != AVERROR_INVALIDDATA ? errorFromAv(error, "avcodec_send_packet")
                                                     : MediaError::None;
}

// One bounded step: converts a piece of the decoded frame, takes a frame, or feeds a packet.
MediaError FFmpegFileReader::decodeMore() {
    if (m_pendingFrom < m_pendingTo)
        return convertPending();
    av_frame_unref(m_frame.get());
    const int error = avcodec_receive_frame(m_codec.get(), m_frame.get());
    if (error == AVERROR(EAGAIN) && !m_demuxerDone)
        return feedDecoder(nullptr);
    if (error == AVERROR_EOF || error == AVERROR(EAGAIN)) {
        m_decoderDone = true;
        return m_converter.isMade() ? resample(nullptr, 0) : MediaError::None;
    }
    return error < 0 ? errorFromAv(error, "avcodec_receive_frame") : takeFrame();
}

int64_t FFmpegFileReader::fileFrames(int64_t timestamp) const {
    return clampFar(av_rescale_q(timestamp, m_stream->time_base, AVRational{1, m_fileRate}));
}

// Marks the part of the decoded frame that belongs to the stream from the restart on for
// conversion, with a converter for its form: one made anew when the rate, the channels or the
// sample format change part-way (two streams joined into one file), after the old one has
// delivered what it holds.
MediaError FFmpegFileReader::takeFrame() {
    const AVFrame* frame = m_frame.get();
    const int64_t index =
        frame->pts == AV_NOPTS_VALUE ? m_nextIndex : fileFrames(frame->pts) - m_origin;
    m_nextIndex = index + frame->nb_samples;
    const int64_t begin = std::max(index, m_keepFrom);
    const int64_t end = std::min(index + frame->nb_samples, m_length);
    if (begin >= end)
        return MediaError::None; // pre-roll or what lies beyond the stream's end
    const Resampler::InputForm form = Resampler::formOf(frame);
    if (form.rate < 1 || form.rate > kMaxRate || form.rate > kMaxDownsampling * m_outputRate ||
        form.channels < 1 || form.channels > 64 ||
        av_get_bytes_per_sample(AVSampleFormat(form.format)) <= 0) {
        qCWarning(lcMedia, "decoded audio of %d Hz, %d channels, sample format %d is refused",
                  form.rate, form.channels, form.format);
        return MediaError::InvalidFile;
    }
    if (!m_converter.takes(form)) {
        if (m_converter.isMade())
            if (const MediaError error = resample(nullptr, 0); error != MediaError::None)
                return error;
        if (const MediaError error = m_converter.make(frame, m_outputRate, m_outputChannels);
            error != MediaError::None)
            return error;
    }
    m_pendingFrom = begin - index;
    m_pendingTo = end - index;
    return convertPending();
}

// Resamples the next piece of the pending frame, of about kConvertChunk output frames.
MediaError FFmpegFileReader::convertPending() {
    const AVFrame* frame = m_frame.get();
    const int64_t step = std::clamp<int64_t>(
        int64_t(double(kConvertChunk) * frame->sample_rate / m_outputRate), 1, kConvertChunk);
    const int64_t count = std::min(step, m_pendingTo - m_pendingFrom);
    const AVSampleFormat format = AVSampleFormat(frame->format);
    const int channels = frame->ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const size_t offset = size_t(m_pendingFrom) * size_t(av_get_bytes_per_sample(format)) *
                          size_t(planar ? 1 : channels);
    std::vector<const uint8_t*> input;
    for (int c = 0; c < (planar ? channels : 1); ++c)
        input.push_back(frame->extended_data[c] + offset);
    m_pendingFrom += count;
    return resample(input.data(), int(count));
}

// Hands `count` frames to the converter and keeps what it makes from the seek target up to the
// end of the stream; a null input drains it at the end.
MediaError FFmpegFileReader::resample(const uint8_t** input, int count) {
    while (true) {
        int produced = 0;
        if (const MediaError error = m_converter.convert(input, count, produced);
            error != MediaError::None)
            return error;
        const int64_t first = std::max(m_outputIndex, m_keepOutputFrom);
        const int64_t last = std::min(m_outputIndex + produced, outputLength());
        const int64_t skip = first - m_outputIndex;
        m_outputIndex += produced;
        if (first < last) {
            void* data[] = {m_converter.output() + skip * m_outputChannels};
            const int written = av_audio_fifo_write(m_fifo.get(), data, int(last - first));
            if (written < 0)
                return errorFromAv(written, "av_audio_fifo_write");
        }
        if (input || produced == 0)
            return MediaError::None;
    }
}

} // namespace zwirl::media

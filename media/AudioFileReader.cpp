#include "media/AudioFileReader.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace zwirl::media {

namespace {

// File frames decoded before a seek target at the least, for the codec and the resampler to
// settle: MP3's bit reservoir reaches a few frames of 1152 back, AAC's overlap one of 1024.
constexpr int64_t kPreroll = 8192;

} // namespace

MediaError AudioFileReader::open(const QString& path) {
    quietenFFmpegLog();
    AVFormatContext* input = nullptr;
    int error = avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (error < 0)
        return errorFromAv(error);
    m_input.reset(input);
    error = avformat_find_stream_info(m_input.get(), nullptr);
    if (error < 0)
        return errorFromAv(error);
    const AVCodec* decoder = nullptr;
    m_streamIndex = av_find_best_stream(m_input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (m_streamIndex < 0 || !decoder)
        return MediaError::InvalidFile;
    const AVStream* stream = m_input->streams[m_streamIndex];
    m_fileRate = stream->codecpar->sample_rate;
    if (m_fileRate <= 0 || stream->codecpar->ch_layout.nb_channels <= 0)
        return MediaError::InvalidFile;
    m_codec.reset(avcodec_alloc_context3(decoder));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_frame || !m_packet)
        return MediaError::NoMemory;
    error = avcodec_parameters_to_context(m_codec.get(), stream->codecpar);
    if (error < 0)
        return errorFromAv(error);
    // The decoder drops the priming and the padding that the side data and the codec's delay
    // give, and moves the time stamps of what it keeps to match.
    m_codec->pkt_timebase = stream->time_base;
    error = avcodec_open2(m_codec.get(), decoder, nullptr);
    if (error < 0)
        return errorFromAv(error);
    m_preroll = std::max<int64_t>(kPreroll, stream->codecpar->seek_preroll);
    return scanStream();
}

// Decodes the whole stream once: its first real frame and its end are where the decoder's
// first and last delivered frames lie. A container that knows the stream's length (MPEG-4 edit
// lists) may end it earlier, inside the decoder's last frame.
MediaError AudioFileReader::scanStream() {
    const AVStream* stream = m_input->streams[m_streamIndex];
    const AVRational fileClock{1, m_fileRate};
    bool firstFrame = true;
    int64_t running = 0;
    m_firstPacketPts = AV_NOPTS_VALUE;
    const auto takeFrames = [&] {
        while (avcodec_receive_frame(m_codec.get(), m_frame.get()) >= 0) {
            if (m_frame->pts != AV_NOPTS_VALUE)
                running = av_rescale_q(m_frame->pts, stream->time_base, fileClock);
            if (firstFrame)
                m_origin = running;
            firstFrame = false;
            running += m_frame->nb_samples;
            av_frame_unref(m_frame.get());
        }
    };
    m_demuxerDone = false;
    for (bool first = true; !m_demuxerDone; first = false) {
        if (const MediaError error = feedDecoder(first ? &m_firstPacketPts : nullptr);
            error != MediaError::None)
            return error;
        takeFrames();
    }
    int64_t end = running;
    if (stream->duration != AV_NOPTS_VALUE &&
        m_input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
        const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
        end = std::min(end, av_rescale_q(start + stream->duration, stream->time_base, fileClock));
    }
    m_length = std::max<int64_t>(0, end - m_origin);
    return setOutput(m_fileRate, stream->codecpar->ch_layout.nb_channels);
}

MediaError AudioFileReader::setOutput(double rate, int channels) {
    if (!m_codec)
        return MediaError::NotOpen;
    if (!(rate > 0) || !std::isfinite(rate) || channels < 1 || channels > 64)
        return MediaError::BadArgument;
    m_outputRate = rate;
    m_outputChannels = channels;
    m_fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_S16, channels, 4096));
    if (!m_fifo)
        return MediaError::NoMemory;
    m_resampleQuantum = 1;
    if (rate != m_fileRate && rate == std::floor(rate) && rate < 1e7)
        m_resampleQuantum = m_fileRate / std::gcd(int64_t(m_fileRate), int64_t(rate));
    return seek(0);
}

int64_t AudioFileReader::outputLength() const {
    return m_fileRate > 0 ? int64_t(double(m_length) * (m_outputRate / m_fileRate) + 0.5) : 0;
}

MediaError AudioFileReader::seek(int64_t frame) {
    if (!m_fifo)
        return MediaError::NotOpen;
    if (frame < 0)
        return MediaError::BadArgument;
    // Decoding starts early enough for the codec and the resampler to settle, on a file frame
    // that stands for a whole output frame, so that the resampler keeps its phase.
    const int64_t target = int64_t(std::floor(double(frame) * m_fileRate / m_outputRate));
    int64_t start = std::max<int64_t>(0, target - m_preroll);
    start -= start % m_resampleQuantum;
    const MediaError error = restartAt(start);
    m_keepOutputFrom = frame;
    return error;
}

MediaError AudioFileReader::restartAt(int64_t fileFrame) {
    const AVStream* stream = m_input->streams[m_streamIndex];
    const int64_t timestamp =
        fileFrame == 0 && m_firstPacketPts != AV_NOPTS_VALUE
            ? m_firstPacketPts
            : av_rescale_q(fileFrame + m_origin, AVRational{1, m_fileRate}, stream->time_base);
    const int error = av_seek_frame(m_input.get(), m_streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
    if (error < 0)
        return errorFromAv(error);
    avcodec_flush_buffers(m_codec.get());
    m_converter.reset();
    av_audio_fifo_reset(m_fifo.get());
    m_demuxerDone = m_decoderDone = false;
    m_keepFrom = m_nextIndex = fileFrame;
    m_outputIndex = int64_t(std::llround(double(fileFrame) * m_outputRate / m_fileRate));
    return MediaError::None;
}

MediaError AudioFileReader::read(int16_t* out, int64_t& frames) {
    const int64_t asked = std::max<int64_t>(frames, 0);
    frames = 0;
    if (!m_fifo)
        return MediaError::NotOpen;
    MediaError error = MediaError::None;
    while (av_audio_fifo_size(m_fifo.get()) < asked && !m_decoderDone && error == MediaError::None)
        error = decodeMore();
    frames = std::min<int64_t>(asked, av_audio_fifo_size(m_fifo.get()));
    void* data[] = {out};
    if (frames > 0)
        av_audio_fifo_read(m_fifo.get(), data, int(frames));
    return error;
}

// Hands the decoder the stream's next packet, or the end once the file has no more (or breaks
// off): what the decoder holds is still delivered then.
MediaError AudioFileReader::feedDecoder(int64_t* pts) {
    int error = 0;
    while ((error = av_read_frame(m_input.get(), m_packet.get())) >= 0 &&
           m_packet->stream_index != m_streamIndex)
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
    return error < 0 && error != AVERROR_INVALIDDATA ? errorFromAv(error) : MediaError::None;
}

MediaError AudioFileReader::decodeMore() {
    if (!m_demuxerDone)
        if (const MediaError error = feedDecoder(nullptr); error != MediaError::None)
            return error;
    while (true) {
        const int error = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (error == AVERROR(EAGAIN))
            return MediaError::None;
        if (error == AVERROR_EOF) {
            m_decoderDone = true;
            return m_converter ? convert(nullptr) : MediaError::None;
        }
        if (error < 0)
            return errorFromAv(error);
        const MediaError converted = convert(m_frame.get());
        av_frame_unref(m_frame.get());
        if (converted != MediaError::None)
            return converted;
    }
}

int64_t AudioFileReader::frameIndex(const AVFrame* frame) const {
    if (frame->pts == AV_NOPTS_VALUE)
        return m_nextIndex;
    const AVStream* stream = m_input->streams[m_streamIndex];
    return av_rescale_q(frame->pts, stream->time_base, AVRational{1, m_fileRate}) - m_origin;
}

// Resamples the part of a decoded frame that belongs to the stream from the restart on; a null
// frame drains the resampler at the end.
MediaError AudioFileReader::convert(const AVFrame* frame) {
    int64_t begin = 0, count = 0;
    if (frame) {
        const int64_t index = frameIndex(frame);
        m_nextIndex = index + frame->nb_samples;
        begin = std::max(index, m_keepFrom);
        const int64_t end = std::min(index + frame->nb_samples, m_length);
        if (begin >= end)
            return MediaError::None; // pre-roll or what lies beyond the stream's end
        count = end - begin;
        begin -= index;
    }
    if (!m_converter) {
        AVChannelLayout outLayout{}, inLayout{};
        av_channel_layout_default(&outLayout, m_outputChannels);
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        SwrContext* converter = nullptr;
        int error = swr_alloc_set_opts2(
            &converter, &outLayout, AV_SAMPLE_FMT_S16, int(std::lround(m_outputRate)), &inLayout,
            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        m_converter.reset(converter);
        if (error >= 0)
            error = swr_init(converter);
        if (error < 0)
            return errorFromAv(error);
    }
    std::vector<const uint8_t*> input;
    if (frame) {
        const AVSampleFormat format = AVSampleFormat(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        const size_t bytes = size_t(av_get_bytes_per_sample(format));
        const bool planar = av_sample_fmt_is_planar(format);
        for (int c = 0; c < (planar ? channels : 1); ++c)
            input.push_back(frame->extended_data[c] +
                            size_t(begin) * bytes * size_t(planar ? 1 : channels));
    }
    while (true) {
        const int capacity = std::max(swr_get_out_samples(m_converter.get(), int(count)), 1024);
        if (m_converted.size() < size_t(capacity * m_outputChannels))
            m_converted.resize(size_t(capacity * m_outputChannels));
        auto* out = reinterpret_cast<uint8_t*>(m_converted.data());
        const int produced = swr_convert(m_converter.get(), &out, capacity,
                                         frame ? input.data() : nullptr, int(count));
        if (produced < 0)
            return errorFromAv(produced);
        if (const MediaError kept = keepConverted(produced); kept != MediaError::None)
            return kept;
        if (frame || produced == 0)
            return MediaError::None;
    }
}

// Keeps the converted frames from the seek target up to the end of the stream.
MediaError AudioFileReader::keepConverted(int produced) {
    const int64_t first = std::max(m_outputIndex, m_keepOutputFrom);
    const int64_t last = std::min(m_outputIndex + produced, outputLength());
    const int64_t skip = first - m_outputIndex;
    m_outputIndex += produced;
    if (first >= last)
        return MediaError::None;
    void* data[] = {m_converted.data() + skip * m_outputChannels};
    const int written = av_audio_fifo_write(m_fifo.get(), data, int(last - first));
    return written < 0 ? errorFromAv(written) : MediaError::None;
}

} // namespace zwirl::media

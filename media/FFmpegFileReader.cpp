// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/FFmpegPtr.h"
#include "media/MediaModule.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

namespace zwirl::media {
namespace {

// File frames decoded before a seek target for the codec to settle (MP3's bit reservoir).
constexpr int64_t kPreroll = 8192;
// Damaged headers claim millions of Hz; the resampler's filter grows with the downsampling ratio.
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

// What a converter is made for; it may change part-way (two streams joined into one file).
struct InputForm {
    int format = -1, rate = 0, channels = 0, order = 0;
    uint64_t mask = 0;
    bool operator==(const InputForm&) const = default;
};

InputForm formOf(const AVFrame* frame) {
    const AVChannelLayout& layout = frame->ch_layout;
    return {frame->format, frame->sample_rate, layout.nb_channels, int(layout.order),
            layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0};
}

class FFmpegFileReader : public AudioFileReader {
public:
    MediaError open(const QString& path) override {
        if (const MediaError error = openInput(path, m_input); error != MediaError::None)
            return error;
        // A damaged demuxer may deliver packets without end; a pass reads no more than bytes.
        m_packetBudget = avio_size(m_input->pb) + 4096;
        RETURN_IF_AV_FAILS(avformat_find_stream_info, m_input.get(), nullptr);
        const AVCodec* decoder = nullptr;
        const int index =
            av_find_best_stream(m_input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (index < 0 || !decoder) {
            qCWarning(lcMedia) << path << "holds no audio stream that FFmpeg decodes";
            return MediaError::InvalidFile;
        }
        m_stream = m_input->streams[index];
        const AVCodecParameters* parameters = m_stream->codecpar;
        m_fileRate = parameters->sample_rate;
        if (m_fileRate <= 0 || m_fileRate > kMaxRate || parameters->ch_layout.nb_channels <= 0) {
            qCWarning(lcMedia) << path << "claims a rate of" << m_fileRate << "Hz and"
                               << parameters->ch_layout.nb_channels << "channels";
            return MediaError::InvalidFile;
        }
        m_codec.reset(avcodec_alloc_context3(decoder));
        if (!m_codec || !m_frame || !m_packet)
            return MediaError::NoMemory;
        RETURN_IF_AV_FAILS(avcodec_parameters_to_context, m_codec.get(), parameters);
        // The decoder drops the priming and padding and moves the time stamps to match.
        m_codec->pkt_timebase = m_stream->time_base;
        RETURN_IF_AV_FAILS(avcodec_open2, m_codec.get(), decoder, nullptr);
        return scanStream();
    }

    int fileRate() const override { return m_fileRate; }
    int64_t fileLength() const override { return m_length; }

    MediaError setOutput(double rate, int channels) override {
        if (!m_codec)
            return MediaError::NotOpen;
        if (!(rate >= 1 && rate <= kMaxRate) || m_fileRate > kMaxDownsampling * rate ||
            channels < 1 || channels > 64)
            return MediaError::BadArgument;
        m_outputRate = rate;
        m_outputChannels = channels;
        m_resampleQuantum = 1;
        if (rate != m_fileRate && rate == std::floor(rate))
            m_resampleQuantum = m_fileRate / std::gcd(int64_t(m_fileRate), int64_t(rate));
        return seek(0);
    }

    int64_t outputLength() const override {
        return m_fileRate > 0 ? int64_t(double(m_length) * (m_outputRate / m_fileRate) + 0.5) : 0;
    }

    MediaError read(int16_t* out, int64_t& frames) override {
        const int64_t asked = std::max<int64_t>(frames, 0);
        frames = 0;
        if (m_outputChannels == 0)
            return MediaError::NotOpen;
        MediaError error = MediaError::None;
        while (int64_t(m_ready.size()) / m_outputChannels < asked && !m_decoderDone &&
               m_outputIndex < outputLength() && error == MediaError::None)
            error = decodeMore();
        frames = std::min<int64_t>(asked, int64_t(m_ready.size()) / m_outputChannels);
        const auto end = m_ready.begin() + frames * m_outputChannels;
        std::copy(m_ready.begin(), end, out);
        m_ready.erase(m_ready.begin(), end);
        return error;
    }

    MediaError seek(int64_t frame) override {
        if (m_outputChannels == 0)
            return MediaError::NotOpen;
        if (frame < 0)
            return MediaError::BadArgument;
        // Decoding starts early enough for the codec and the resampler to settle, on a file frame
        // that stands for a whole output frame, so that the resampler keeps its phase.
        const int64_t target =
            int64_t(std::min(std::floor(double(frame) * m_fileRate / m_outputRate), double(kFar)));
        const int64_t preroll = std::max<int64_t>(kPreroll, m_stream->codecpar->seek_preroll);
        int64_t start = std::max<int64_t>(0, target - preroll);
        start -= start % m_resampleQuantum;
        m_keepOutputFrom = frame;
        const int64_t timestamp =
            start == 0 && m_firstPacketPts != AV_NOPTS_VALUE
                ? m_firstPacketPts
                : av_rescale_q(start + m_origin, AVRational{1, m_fileRate}, m_stream->time_base);
        RETURN_IF_AV_FAILS(av_seek_frame, m_input.get(), m_stream->index, timestamp,
                           AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(m_codec.get());
        m_converter.reset();
        m_ready.clear();
        m_pendingFrom = m_pendingTo = m_packetsRead = 0;
        m_demuxerDone = m_decoderDone = false;
        m_keepFrom = m_nextIndex = start;
        m_outputIndex = int64_t(std::llround(double(start) * m_outputRate / m_fileRate));
        return MediaError::None;
    }

private:
    // Only the decoder knows where priming and padding end; MPEG-4 edit lists may end it earlier.
    MediaError scanStream() {
        const int64_t start = m_stream->start_time == AV_NOPTS_VALUE ? 0 : m_stream->start_time;
        const int64_t known = fileFrames(start) + fileFrames(m_stream->duration);
        // MPEG-4 AAC states its end in the edit list: once the first frame is found, decoding the
        // last packets up to that end confirms it.
        bool checkEnd = m_stream->duration != AV_NOPTS_VALUE &&
                        m_stream->codecpar->codec_id == AV_CODEC_ID_AAC &&
                        std::strcmp(m_input->iformat->name, "mov,mp4,m4a,3gp,3g2,mj2") == 0;
        bool confirmed = false;
        bool firstFrame = true;
        int64_t running = 0;
        for (bool first = true; !m_demuxerDone && !confirmed && running - m_origin < kScanFrames;
             first = false) {
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
            }
            if (checkEnd && !firstFrame) {
                checkEnd = false;
                confirmed = decodedEndAfter(known - kPreroll) >= known;
                // Otherwise the whole stream is decoded from its first packet on.
                if (!confirmed)
                    RETURN_IF_AV_FAILS(av_seek_frame, m_input.get(), m_stream->index,
                                       m_firstPacketPts, AVSEEK_FLAG_BACKWARD);
                avcodec_flush_buffers(m_codec.get());
                m_demuxerDone = false;
            }
        }
        const bool complete = m_demuxerDone || confirmed;
        int64_t end = confirmed ? known : running;
        if (m_stream->duration != AV_NOPTS_VALUE &&
            (!complete || m_input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE))
            end = complete ? std::min(end, known) : known;
        m_length = std::clamp<int64_t>(end - m_origin, 0, kFar);
        return setOutput(m_fileRate, m_stream->codecpar->ch_layout.nb_channels);
    }

    // Decodes from about file frame `frame` to the end: where the audio ends, 0 if nowhere.
    int64_t decodedEndAfter(int64_t frame) {
        const int64_t timestamp =
            av_rescale_q(frame, AVRational{1, m_fileRate}, m_stream->time_base);
        if (av_seek_frame(m_input.get(), m_stream->index, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
            return 0;
        avcodec_flush_buffers(m_codec.get());
        int64_t end = 0;
        while (!m_demuxerDone && feedDecoder(nullptr) == MediaError::None)
            while (avcodec_receive_frame(m_codec.get(), m_frame.get()) >= 0)
                if (m_frame->pts != AV_NOPTS_VALUE)
                    end = clampFar(fileFrames(m_frame->pts) + m_frame->nb_samples);
        return end;
    }

    // Hands the decoder the stream's next packet, or the end of the stream.
    MediaError feedDecoder(int64_t* pts) {
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
    MediaError decodeMore() {
        if (m_pendingFrom < m_pendingTo)
            return convertPending();
        const int error = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (error == AVERROR(EAGAIN) && !m_demuxerDone)
            return feedDecoder(nullptr);
        if (error == AVERROR_EOF || error == AVERROR(EAGAIN)) {
            m_decoderDone = true;
            return m_converter ? resample(nullptr, 0) : MediaError::None;
        }
        return error < 0 ? errorFromAv(error, "avcodec_receive_frame") : takeFrame();
    }

    int64_t fileFrames(int64_t timestamp) const {
        return clampFar(av_rescale_q(timestamp, m_stream->time_base, AVRational{1, m_fileRate}));
    }

    // Marks the part of the decoded frame from the restart up to the stream's end for conversion.
    MediaError takeFrame() {
        const AVFrame* frame = m_frame.get();
        const int64_t index =
            frame->pts == AV_NOPTS_VALUE ? m_nextIndex : fileFrames(frame->pts) - m_origin;
        m_nextIndex = index + frame->nb_samples;
        const int64_t begin = std::max(index, m_keepFrom);
        const int64_t end = std::min(index + frame->nb_samples, m_length);
        if (begin >= end)
            return MediaError::None; // pre-roll or what lies beyond the stream's end
        const InputForm form = formOf(frame);
        if (form.rate < 1 || form.rate > kMaxRate || form.rate > kMaxDownsampling * m_outputRate ||
            form.channels < 1 || form.channels > 64 ||
            av_get_bytes_per_sample(AVSampleFormat(form.format)) <= 0) {
            qCWarning(lcMedia, "decoded audio of %d Hz, %d channels, sample format %d is refused",
                      form.rate, form.channels, form.format);
            return MediaError::InvalidFile;
        }
        if (!m_converter || form != m_converterForm) {
            if (m_converter)
                if (const MediaError error = resample(nullptr, 0); error != MediaError::None)
                    return error;
            AVChannelLayout outLayout{}, inLayout{};
            av_channel_layout_default(&outLayout, m_outputChannels);
            if (form.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&inLayout, form.channels);
            else
                av_channel_layout_copy(&inLayout, &frame->ch_layout);
            const MediaError error = makeConverter(m_converter, outLayout, AV_SAMPLE_FMT_S16,
                                                   int(std::lround(m_outputRate)), inLayout,
                                                   AVSampleFormat(form.format), form.rate);
            av_channel_layout_uninit(&inLayout);
            if (error != MediaError::None)
                return error;
            m_converterForm = form;
        }
        m_pendingFrom = begin - index;
        m_pendingTo = end - index;
        return convertPending();
    }

    MediaError convertPending() {
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

    // Keeps what the converter makes from the seek target up to the end; a null input drains it.
    MediaError resample(const uint8_t** input, int count) {
        while (true) {
            const int capacity = std::max(swr_get_out_samples(m_converter.get(), count), 1024);
            m_converted.resize(std::max(m_converted.size(), size_t(capacity) * m_outputChannels));
            auto* out = reinterpret_cast<uint8_t*>(m_converted.data());
            const int produced = swr_convert(m_converter.get(), &out, capacity, input, count);
            if (produced < 0)
                return errorFromAv(produced, "swr_convert");
            const int64_t first = std::max(m_outputIndex, m_keepOutputFrom);
            const int64_t last = std::min(m_outputIndex + produced, outputLength());
            if (first < last) {
                const auto kept = m_converted.begin() + (first - m_outputIndex) * m_outputChannels;
                m_ready.insert(m_ready.end(), kept, kept + (last - first) * m_outputChannels);
            }
            m_outputIndex += produced;
            if (input || produced == 0)
                return MediaError::None;
        }
    }

    FFmpegPtr<AVFormatContext> m_input;
    FFmpegPtr<AVCodecContext> m_codec;
    FFmpegPtr<SwrContext> m_converter;
    InputForm m_converterForm;
    std::vector<int16_t> m_converted; // interleaved
    std::vector<int16_t> m_ready;     // kept and not yet read
    FFmpegPtr<AVFrame> m_frame{av_frame_alloc()};
    FFmpegPtr<AVPacket> m_packet{av_packet_alloc()};
    const AVStream* m_stream = nullptr;
    int m_fileRate = 0;
    int64_t m_length = 0; // file frames
    int64_t m_origin = 0; // the stream's first real frame, in file frames of its clock
    int64_t m_firstPacketPts = AV_NOPTS_VALUE; // stream time where decoding from the start begins
    int64_t m_packetBudget = 0;                // packets one pass through the file reads at most
    double m_outputRate = 0;
    int m_outputChannels = 0;
    int64_t m_resampleQuantum = 1; // file frames that make a whole number of output frames
    int64_t m_nextIndex = 0;       // file frame of the next decoded sample without a time stamp
    int64_t m_keepFrom = 0;        // decoded file frames before this one only settle the codec
    int64_t m_outputIndex = 0;     // output frame the next converted frame stands for
    int64_t m_keepOutputFrom = 0;  // converted frames before this one are dropped
    int64_t m_packetsRead = 0;     // since the pass began
    int64_t m_pendingFrom = 0;     // the part of m_frame still to be converted, in its samples
    int64_t m_pendingTo = 0;
    bool m_demuxerDone = false;
    bool m_decoderDone = false;
};

} // namespace

std::unique_ptr<AudioFileReader> makeFFmpegReader() {
    return std::make_unique<FFmpegFileReader>();
}

} // namespace zwirl::media

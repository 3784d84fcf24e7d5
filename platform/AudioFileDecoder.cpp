#include "platform/AudioFileDecoder.h"

#include "platform/FFmpegStatus.h"
#include "platform/PlatformLog.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <numeric>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
}

void AudioFileDecoder::InputDeleter::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}
void AudioFileDecoder::CodecDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void AudioFileDecoder::SwrDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}
void AudioFileDecoder::FifoDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}
void AudioFileDecoder::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void AudioFileDecoder::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

namespace {

FourCharCode formatIdForCodec(AVCodecID codec) {
    switch (codec) {
    case AV_CODEC_ID_AAC:
        return kAudioFormatMPEG4AAC;
    case AV_CODEC_ID_ADPCM_IMA_QT:
        return kAudioFormatAppleIMA4;
    default:
        return avcodec_get_type(codec) == AVMEDIA_TYPE_AUDIO &&
                       av_get_exact_bits_per_sample(codec) > 0
                   ? kAudioFormatLinearPCM
                   : 0;
    }
}

} // namespace

int AudioFileDecoder::clientSampleFormat() const {
    return m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved ? AV_SAMPLE_FMT_S16P
                                                                          : AV_SAMPLE_FMT_S16;
}

AudioFileDecoder::AudioFileDecoder() = default;
AudioFileDecoder::~AudioFileDecoder() = default;

OSStatus AudioFileDecoder::open(const QString& path) {
    quietenFFmpegLog();
    AVFormatContext* input = nullptr;
    int error = avformat_open_input(&input, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (error < 0)
        return statusForAvError(error);
    m_input.reset(input);
    error = avformat_find_stream_info(m_input.get(), nullptr);
    if (error < 0)
        return statusForAvError(error);
    const AVCodec* decoder = nullptr;
    m_streamIndex = av_find_best_stream(m_input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (m_streamIndex < 0 || !decoder)
        return kAudioFileInvalidFileError;
    const AVStream* stream = m_input->streams[m_streamIndex];
    if (stream->codecpar->sample_rate <= 0 || stream->codecpar->ch_layout.nb_channels <= 0)
        return kAudioFileInvalidFileError;

    m_codec.reset(avcodec_alloc_context3(decoder));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_frame || !m_packet)
        return kAudioFileMemFullError;
    error = avcodec_parameters_to_context(m_codec.get(), stream->codecpar);
    if (error < 0)
        return statusForAvError(error);
    m_codec->pkt_timebase = stream->time_base;
    // The priming is dropped here by position, the same way after a seek as at the start.
    m_codec->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;
    error = avcodec_open2(m_codec.get(), decoder, nullptr);
    if (error < 0)
        return statusForAvError(error);

    m_fileFormat = AudioStreamBasicDescription{};
    m_fileFormat.mSampleRate = stream->codecpar->sample_rate;
    m_fileFormat.mFormatID = formatIdForCodec(stream->codecpar->codec_id);
    m_fileFormat.mChannelsPerFrame = uint32_t(stream->codecpar->ch_layout.nb_channels);
    m_fileFormat.mBitsPerChannel = uint32_t(std::max(0, stream->codecpar->bits_per_coded_sample));
    m_fileFormat.mFramesPerPacket = uint32_t(std::max(0, stream->codecpar->frame_size));

    if (const OSStatus status = findLength())
        return status;
    return noErr;
}

// The stream's length and priming. The container's own length is exact for the files that
// carry one (MPEG-4 edit lists, WAVE, AIFF, CAF, FLAC); for the rest the packets are counted.
OSStatus AudioFileDecoder::findLength() {
    const AVStream* stream = m_input->streams[m_streamIndex];
    const AVRational fileClock{1, stream->codecpar->sample_rate};
    const bool trusted = stream->duration != AV_NOPTS_VALUE &&
                         m_input->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
    int64_t counted = 0;
    bool first = true;
    int64_t firstPts = AV_NOPTS_VALUE;
    while (av_read_frame(m_input.get(), m_packet.get()) >= 0) {
        if (m_packet->stream_index != m_streamIndex) {
            av_packet_unref(m_packet.get());
            continue;
        }
        if (first) {
            size_t size = 0;
            const uint8_t* skip =
                av_packet_get_side_data(m_packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            m_priming = skip && size >= 4 ? AV_RL32(skip) : 0;
            firstPts = m_packet->pts;
            first = false;
            if (trusted)
                break; // keep the first packet for the decoder
        }
        counted += av_rescale_q(m_packet->duration, stream->time_base, fileClock);
        av_packet_unref(m_packet.get());
    }
    m_firstFramePts =
        (firstPts == AV_NOPTS_VALUE ? 0 : av_rescale_q(firstPts, stream->time_base, fileClock)) +
        m_priming;
    m_nextIndex = -int64_t(m_priming);
    if (trusted) {
        m_length = av_rescale_q(stream->duration, stream->time_base, fileClock);
        m_packetPending = !first;
        return noErr;
    }
    m_length = std::max<int64_t>(0, counted - m_priming);
    return seek(0);
}

OSStatus AudioFileDecoder::setClientFormat(const AudioStreamBasicDescription& format) {
    if (!m_codec)
        return kAudioFileNotOpenError;
    const bool signed16 =
        format.mFormatID == kAudioFormatLinearPCM &&
        (format.mFormatFlags & kAudioFormatFlagIsSignedInteger) &&
        !(format.mFormatFlags & (kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian)) &&
        format.mBitsPerChannel == 16;
    if (!(format.mSampleRate > 0) || !std::isfinite(format.mSampleRate))
        return kAudioFileParamError;
    if (!signed16 || format.mChannelsPerFrame < 1 || format.mChannelsPerFrame > 64)
        return kAudioFileUnsupportedDataFormatError;
    const bool planar = format.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    m_fifo.reset(av_audio_fifo_alloc(planar ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16,
                                     int(format.mChannelsPerFrame), 4096));
    if (!m_fifo)
        return kAudioFileMemFullError;
    m_clientFormat = format;
    m_hasClientFormat = true;
    const double fileRate = m_fileFormat.mSampleRate;
    const double clientRate = format.mSampleRate;
    m_resampleQuantum = 1;
    if (clientRate != fileRate && clientRate == std::floor(clientRate) && clientRate < 1e7) {
        const int64_t file = int64_t(fileRate);
        m_resampleQuantum = file / std::gcd(file, int64_t(clientRate));
    }
    m_converter.reset();
    return noErr;
}

int64_t AudioFileDecoder::playbackFrame(int64_t fileFrame) const {
    return int64_t(double(fileFrame) * (m_clientFormat.mSampleRate / m_fileFormat.mSampleRate) +
                   0.5);
}

int64_t AudioFileDecoder::firstClientFrameAt(int64_t fileFrame) const {
    const double exact =
        double(fileFrame) * (m_clientFormat.mSampleRate / m_fileFormat.mSampleRate);
    return int64_t(std::ceil(exact - 1e-6));
}

bool AudioFileDecoder::isValidClientBufferList(const AudioBufferList& data, uint32_t frames) const {
    const bool planar = m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    const uint32_t channels = m_clientFormat.mChannelsPerFrame;
    const size_t buffers = planar ? channels : 1;
    const uint64_t bytes = uint64_t(frames) * 2 * (planar ? 1 : channels);
    if (data.mBuffers.size() != buffers)
        return false;
    return std::all_of(data.mBuffers.begin(), data.mBuffers.end(),
                       [&](const AudioBuffer& b) { return b.mData && b.mDataByteSize >= bytes; });
}

OSStatus AudioFileDecoder::read(uint32_t& frames, AudioBufferList& data) {
    const uint32_t asked = frames;
    frames = 0;
    if (!m_hasClientFormat)
        return kAudioFileUnsupportedDataFormatError;
    if (!isValidClientBufferList(data, asked))
        return kAudioFileParamError;
    OSStatus status = noErr;
    while (av_audio_fifo_size(m_fifo.get()) < int64_t(asked) && !m_decoderDone) {
        status = decodeMore();
        if (status != noErr)
            break;
    }
    const int count = std::min<int64_t>(asked, av_audio_fifo_size(m_fifo.get()));
    std::vector<void*> pointers;
    for (AudioBuffer& buffer : data.mBuffers)
        pointers.push_back(buffer.mData);
    if (count > 0)
        av_audio_fifo_read(m_fifo.get(), pointers.data(), count);
    frames = uint32_t(count);
    const bool planar = m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    for (AudioBuffer& buffer : data.mBuffers)
        buffer.mDataByteSize = frames * 2 * (planar ? 1 : m_clientFormat.mChannelsPerFrame);
    return status;
}

OSStatus AudioFileDecoder::decodeMore() {
    if (!m_demuxerDone) {
        if (!m_packetPending) {
            const int error = av_read_frame(m_input.get(), m_packet.get());
            if (error < 0) {
                // The end, or a file that breaks off: deliver what the decoder still holds.
                if (error != AVERROR_EOF)
                    qCWarning(lcPlatform) << "audio file read:" << avErrorText(error).c_str();
                m_demuxerDone = true;
                avcodec_send_packet(m_codec.get(), nullptr);
                return receiveFrames();
            }
            if (m_packet->stream_index != m_streamIndex) {
                av_packet_unref(m_packet.get());
                return noErr;
            }
            m_packetPending = true;
        }
        const int error = avcodec_send_packet(m_codec.get(), m_packet.get());
        if (error != AVERROR(EAGAIN)) {
            av_packet_unref(m_packet.get());
            m_packetPending = false;
            if (error < 0 && error != AVERROR_INVALIDDATA)
                return statusForAvError(error);
        }
    }
    return receiveFrames();
}

OSStatus AudioFileDecoder::receiveFrames() {
    while (true) {
        const int error = avcodec_receive_frame(m_codec.get(), m_frame.get());
        if (error == AVERROR(EAGAIN))
            return noErr;
        if (error == AVERROR_EOF) {
            m_decoderDone = true;
            return flushConverter();
        }
        if (error < 0)
            return statusForAvError(error);
        const OSStatus status = convertFrame(m_frame.get());
        av_frame_unref(m_frame.get());
        if (status != noErr)
            return status;
    }
}

int64_t AudioFileDecoder::frameIndex(const AVFrame* frame) const {
    if (frame->pts == AV_NOPTS_VALUE)
        return m_nextIndex;
    const AVStream* stream = m_input->streams[m_streamIndex];
    return av_rescale_q(frame->pts, stream->time_base,
                        AVRational{1, stream->codecpar->sample_rate}) -
           m_firstFramePts;
}

OSStatus AudioFileDecoder::convertFrame(const AVFrame* frame) {
    const int64_t index = frameIndex(frame);
    m_nextIndex = index + frame->nb_samples;
    const int64_t begin = std::max(index, m_keepFrom);
    const int64_t end = std::min(index + frame->nb_samples, m_length);
    if (begin >= end)
        return noErr; // priming, pre-roll or tail padding
    if (!m_converter) {
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, int(m_clientFormat.mChannelsPerFrame));
        AVChannelLayout inLayout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        const bool planar = m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
        SwrContext* converter = nullptr;
        int error = swr_alloc_set_opts2(
            &converter, &outLayout, planar ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16,
            int(std::lround(m_clientFormat.mSampleRate)), &inLayout, AVSampleFormat(frame->format),
            frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (error >= 0)
            error = swr_init(converter);
        m_converter.reset(converter);
        if (error < 0)
            return statusForAvError(error);
    }
    const int offset = int(begin - index);
    const int count = int(end - begin);
    const AVSampleFormat format = AVSampleFormat(frame->format);
    const int bytes = av_get_bytes_per_sample(format);
    const int channels = frame->ch_layout.nb_channels;
    std::vector<const uint8_t*> input;
    if (av_sample_fmt_is_planar(format)) {
        for (int c = 0; c < channels; ++c)
            input.push_back(frame->extended_data[c] + size_t(offset) * bytes);
    } else {
        input.push_back(frame->extended_data[0] + size_t(offset) * bytes * channels);
    }
    const int capacity = swr_get_out_samples(m_converter.get(), count);
    uint8_t** converted = nullptr;
    if (av_samples_alloc_array_and_samples(
            &converted, nullptr, int(m_clientFormat.mChannelsPerFrame), std::max(capacity, 1),
            AVSampleFormat(clientSampleFormat()), 0) < 0)
        return kAudioFileMemFullError;
    const int produced = swr_convert(m_converter.get(), converted, capacity, input.data(), count);
    const OSStatus status =
        produced < 0 ? statusForAvError(produced) : pushConverted(converted, produced);
    av_freep(&converted[0]);
    av_freep(&converted);
    return status;
}

OSStatus AudioFileDecoder::flushConverter() {
    if (!m_converter)
        return noErr;
    const int capacity = 4096;
    uint8_t** converted = nullptr;
    if (av_samples_alloc_array_and_samples(&converted, nullptr,
                                           int(m_clientFormat.mChannelsPerFrame), capacity,
                                           AVSampleFormat(clientSampleFormat()), 0) < 0)
        return kAudioFileMemFullError;
    OSStatus status = noErr;
    int produced = 0;
    while (status == noErr &&
           (produced = swr_convert(m_converter.get(), converted, capacity, nullptr, 0)) > 0)
        status = pushConverted(converted, produced);
    av_freep(&converted[0]);
    av_freep(&converted);
    return status;
}

// Keeps the converted frames from the seek target up to the end of the stream.
OSStatus AudioFileDecoder::pushConverted(uint8_t** samples, int count) {
    const int64_t end = playbackFrame(m_length);
    const int64_t first = std::max<int64_t>(m_outputIndex, m_keepOutputFrom);
    const int64_t last = std::min<int64_t>(m_outputIndex + count, end);
    const int skip = int(first - m_outputIndex);
    m_outputIndex += count;
    if (first >= last)
        return noErr;
    const bool planar = m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    const int channels = int(m_clientFormat.mChannelsPerFrame);
    std::vector<void*> from;
    for (int c = 0; c < (planar ? channels : 1); ++c)
        from.push_back(samples[c] + size_t(skip) * 2 * (planar ? 1 : channels));
    const int written = av_audio_fifo_write(m_fifo.get(), from.data(), int(last - first));
    return written < 0 ? statusForAvError(written) : noErr;
}

OSStatus AudioFileDecoder::seek(int64_t frame) {
    if (!m_input || !m_codec)
        return kAudioFileNotOpenError;
    if (frame < 0)
        return kAudioFileParamError;
    // Start decoding early enough for the codec and the resampler to settle, on a file frame
    // that stands for a whole client frame, so that the resampler keeps its phase.
    int64_t start = std::max<int64_t>(0, frame - kPreroll);
    start -= start % m_resampleQuantum;
    const AVStream* stream = m_input->streams[m_streamIndex];
    const int64_t timestamp =
        av_rescale_q(start + m_firstFramePts - int64_t(m_priming) * (start == 0),
                     AVRational{1, stream->codecpar->sample_rate}, stream->time_base);
    const int error = av_seek_frame(m_input.get(), m_streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
    if (error < 0)
        return statusForAvError(error);
    avcodec_flush_buffers(m_codec.get());
    av_packet_unref(m_packet.get());
    m_packetPending = false;
    m_demuxerDone = false;
    m_decoderDone = false;
    m_converter.reset();
    if (m_fifo)
        av_audio_fifo_reset(m_fifo.get());
    m_keepFrom = start;
    m_nextIndex = start == 0 ? -int64_t(m_priming) : start;
    m_outputIndex = m_hasClientFormat ? playbackFrame(start) : 0;
    m_keepOutputFrom = m_hasClientFormat ? firstClientFrameAt(frame) : 0;
    return noErr;
}

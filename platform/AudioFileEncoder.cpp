#include "platform/AudioFileEncoder.h"

#include "platform/FFmpegStatus.h"
#include "platform/PlatformLog.h"
#include "platform/VectorUnit.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

// Frames converted per step, so that a long write never needs a second copy of itself.
constexpr uint32_t kConversionSlice = 65536;
// Packet size for codecs that take any number of frames (linear PCM).
constexpr int kPcmFrameSize = 4096;
// AAC bit rate per channel. The fast coder at this rate keeps hard-clipped square waves at
// least as clean as the default two-loop coder at its own default rate, in well under half
// its time.
constexpr int64_t kAacBitRatePerChannel = 144000;

} // namespace

void AudioFileEncoder::CodecDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void AudioFileEncoder::SwrDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}
void AudioFileEncoder::FifoDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}
void AudioFileEncoder::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void AudioFileEncoder::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

AudioFileEncoder::AudioFileEncoder(AudioFileID file) : m_file(file) {}

AudioFileEncoder::~AudioFileEncoder() = default;

OSStatus AudioFileEncoder::open() {
    quietenFFmpegLog();
    const AVCodec* codec = avcodec_find_encoder(AVCodecID(m_file->codecId()));
    if (!codec || !codec->sample_fmts)
        return kAudioFileUnsupportedDataFormatError;
    m_codec.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_codec || !m_frame || !m_packet)
        return kAudioFileMemFullError;

    const AudioStreamBasicDescription& format = m_file->dataFormat();
    const int rate = int(std::lround(format.mSampleRate));
    m_codec->sample_rate = rate;
    m_codec->time_base = AVRational{1, rate};
    m_codec->sample_fmt = codec->sample_fmts[0];
    av_channel_layout_default(&m_codec->ch_layout, int(format.mChannelsPerFrame));

    AVDictionary* options = nullptr;
    if (codec->id == AV_CODEC_ID_AAC) {
        m_codec->bit_rate = kAacBitRatePerChannel * format.mChannelsPerFrame;
        m_codec->profile = FF_PROFILE_AAC_LOW;
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // MPEG-4 keeps the setup in the header
        av_dict_set(&options, "aac_coder", "fast", 0);
        // Without noise substitution the decoded audio depends on nothing but the packets, so
        // decoding after a seek gives the same samples as decoding from the start.
        av_dict_set(&options, "aac_pns", "0", 0);
        // Temporal noise shaping buys nothing on these tones but costs time.
        av_dict_set(&options, "aac_tns", "0", 0);
        // Coding the band up to 18 kHz, as AAC-LC commonly does at this rate, spares the
        // encoder the top bands where nobody hears the square waves' harmonics; the decoded
        // signal stays cleaner than the default settings give.
        m_codec->cutoff = 18000;
    }
    const int error = avcodec_open2(m_codec.get(), codec, &options);
    av_dict_free(&options);
    if (error < 0) {
        qCWarning(lcPlatform) << "audio encoder not opened:" << avErrorText(error).c_str();
        return statusForAvError(error);
    }
    const bool anyFrameSize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    m_frameSize = m_codec->frame_size > 0 && !anyFrameSize ? m_codec->frame_size : kPcmFrameSize;
    m_fifo.reset(
        av_audio_fifo_alloc(m_codec->sample_fmt, m_codec->ch_layout.nb_channels, m_frameSize * 2));
    if (!m_fifo)
        return kAudioFileMemFullError;
    return m_file->setEncoderParameters(m_codec.get());
}

OSStatus AudioFileEncoder::setClientFormat(const AudioStreamBasicDescription& format) {
    const AudioStreamBasicDescription& file = m_file->dataFormat();
    const bool signed16 =
        format.mFormatID == kAudioFormatLinearPCM &&
        (format.mFormatFlags & kAudioFormatFlagIsSignedInteger) &&
        !(format.mFormatFlags & (kAudioFormatFlagIsFloat | kAudioFormatFlagIsBigEndian)) &&
        format.mBitsPerChannel == 16;
    if (!signed16 || format.mChannelsPerFrame != file.mChannelsPerFrame ||
        format.mSampleRate != file.mSampleRate || !m_codec)
        return kAudioFileUnsupportedDataFormatError;

    const bool planar = format.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    SwrContext* converter = nullptr;
    int error = swr_alloc_set_opts2(&converter, &m_codec->ch_layout, m_codec->sample_fmt,
                                    m_codec->sample_rate, &m_codec->ch_layout,
                                    planar ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16,
                                    m_codec->sample_rate, 0, nullptr);
    if (error >= 0)
        error = swr_init(converter);
    m_converter.reset(converter);
    if (error < 0)
        return statusForAvError(error);
    m_clientFormat = format;
    m_hasClientFormat = true;
    return noErr;
}

bool AudioFileEncoder::isValidClientBufferList(const AudioBufferList& data, uint32_t frames) const {
    const bool planar = m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    const uint32_t channels = m_clientFormat.mChannelsPerFrame;
    const size_t buffers = planar ? channels : 1;
    const uint64_t bytes = uint64_t(frames) * 2 * (planar ? 1 : channels);
    if (data.mBuffers.size() != buffers)
        return false;
    return std::all_of(data.mBuffers.begin(), data.mBuffers.end(),
                       [&](const AudioBuffer& b) { return b.mData && b.mDataByteSize >= bytes; });
}

OSStatus AudioFileEncoder::write(uint32_t frames, const AudioBufferList& data) {
    if (m_finished)
        return kAudioFileNotOpenError;
    if (!m_hasClientFormat)
        return kAudioFileUnsupportedDataFormatError;
    if (!isValidClientBufferList(data, frames))
        return kAudioFileParamError;
    clearUpperVectorRegisters(); // the encoder's plain SSE code runs at full speed
    for (uint32_t first = 0; first < frames; first += kConversionSlice) {
        const uint32_t count = std::min(kConversionSlice, frames - first);
        if (const OSStatus status = convertIntoFifo(data, first, count))
            return status;
        if (const OSStatus status = encodeFrames(false))
            return status;
    }
    return noErr;
}

OSStatus AudioFileEncoder::convertIntoFifo(const AudioBufferList& data, uint32_t first,
                                           uint32_t count) {
    const bool planar = m_clientFormat.mFormatFlags & kAudioFormatFlagIsNonInterleaved;
    const uint32_t channels = m_clientFormat.mChannelsPerFrame;
    std::vector<const uint8_t*> input;
    for (const AudioBuffer& buffer : data.mBuffers) {
        const size_t offset = size_t(first) * 2 * (planar ? 1 : channels);
        input.push_back(static_cast<const uint8_t*>(buffer.mData) + offset);
    }
    uint8_t** converted = nullptr;
    int error = av_samples_alloc_array_and_samples(
        &converted, nullptr, m_codec->ch_layout.nb_channels, int(count), m_codec->sample_fmt, 0);
    if (error < 0)
        return kAudioFileMemFullError;
    error = swr_convert(m_converter.get(), converted, int(count), input.data(), int(count));
    if (error >= 0)
        error = av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(converted), error);
    av_freep(&converted[0]);
    av_freep(&converted);
    return error < 0 ? statusForAvError(error) : noErr;
}

OSStatus AudioFileEncoder::encodeFrames(bool includePartial) {
    while (true) {
        const int available = av_audio_fifo_size(m_fifo.get());
        if (available == 0 || (available < m_frameSize && !includePartial))
            return noErr;
        const bool smallLastFrame =
            m_codec->codec->capabilities &
            (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        const int count = std::min(available, m_frameSize);
        // A codec with fixed packets gets its last one padded with silence.
        const int frameSamples = smallLastFrame ? count : m_frameSize;
        av_frame_unref(m_frame.get());
        m_frame->nb_samples = frameSamples;
        m_frame->format = m_codec->sample_fmt;
        m_frame->sample_rate = m_codec->sample_rate;
        av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
        if (av_frame_get_buffer(m_frame.get(), 0) < 0)
            return kAudioFileMemFullError;
        av_samples_set_silence(m_frame->extended_data, 0, frameSamples,
                               m_codec->ch_layout.nb_channels, m_codec->sample_fmt);
        av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->extended_data), count);
        m_frame->pts = m_nextPts;
        m_nextPts += frameSamples;
        if (const OSStatus status = sendFrame(m_frame.get()))
            return status;
    }
}

OSStatus AudioFileEncoder::sendFrame(AVFrame* frame) {
    const int error = avcodec_send_frame(m_codec.get(), frame);
    if (error < 0)
        return statusForAvError(error);
    return drainPackets();
}

OSStatus AudioFileEncoder::drainPackets() {
    while (true) {
        const int error = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
            return noErr;
        if (error < 0)
            return statusForAvError(error);
        const OSStatus status = m_file->writePacket(m_packet.get());
        av_packet_unref(m_packet.get());
        if (status != noErr)
            return status;
    }
}

OSStatus AudioFileEncoder::finish() {
    if (m_finished || !m_codec || !m_fifo)
        return noErr;
    m_finished = true;
    OSStatus status = encodeFrames(true);
    const OSStatus flushed = sendFrame(nullptr);
    return status != noErr ? status : flushed;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/FFmpegPtr.h"
#include "media/MediaModule.h"
#include "media/Mpeg4Metadata.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <sndfile.h>
#include <vector>

namespace zwirl::media {
namespace {

// FFmpeg 6.1 renamed the profiles and 7.1 replaced the list of sample formats; Debian 12 has 5.1.
#ifdef AV_PROFILE_AAC_LOW
constexpr int kAacLowProfile = AV_PROFILE_AAC_LOW;
#else
constexpr int kAacLowProfile = FF_PROFILE_AAC_LOW;
#endif

// The encoder's preferred sample format; none for a codec that is not an audio encoder.
AVSampleFormat firstSampleFormat(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    const void* formats = nullptr;
    int count = 0;
    if (!codec ||
        avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats,
                                     &count) < 0 ||
        !formats || count < 1)
        return AV_SAMPLE_FMT_NONE;
    return static_cast<const AVSampleFormat*>(formats)[0];
#else
    return codec && codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_NONE;
#endif
}

// Samples per packet for codecs that take any number (linear PCM).
constexpr int kPcmFrameSize = 4096;
// The fast AAC coder at this rate keeps square waves as clean as the default one, in half the time.
constexpr int64_t kAacBitRatePerChannel = 144000;

AVCodecID codecFor(const OutputStream& stream) {
    if (stream.codec != AudioCodec::Pcm)
        return stream.codec == AudioCodec::Aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ADPCM_IMA_QT;
    static const AVCodecID kPcm[2][4] = {
        {AV_CODEC_ID_PCM_U8, AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_S24LE, AV_CODEC_ID_PCM_S32LE},
        {AV_CODEC_ID_PCM_S8, AV_CODEC_ID_PCM_S16BE, AV_CODEC_ID_PCM_S24BE, AV_CODEC_ID_PCM_S32BE}};
    const int bits = stream.bitsPerSample;
    return bits % 8 == 0 && bits >= 8 && bits <= 32 ? kPcm[stream.bigEndian][bits / 8 - 1]
                                                    : AV_CODEC_ID_NONE;
}

// FFmpeg encodes and muxes; TagLib adds tags and cover art, libsndfile writes Sound Designer II.
class FFmpegFileWriter : public AudioFileWriter {
public:
    ~FFmpegFileWriter() override { finish(); }

    MediaError open(const QString& path, const OutputStream& stream) override {
        if (!stream.container || stream.channels < 1 || stream.sampleRate < 1 ||
            stream.sampleRate > 1000000 || codecFor(stream) == AV_CODEC_ID_NONE) {
            qCWarning(lcMedia, "no %s file is written of %d channels, %d Hz, %d bits a sample",
                      stream.container ? stream.container : "null", stream.channels,
                      stream.sampleRate, stream.bitsPerSample);
            return MediaError::UnsupportedFormat;
        }
        m_path = path;
        m_channels = stream.channels;
        m_mpeg4 = stream.codec == AudioCodec::Aac;
        const MediaError error = std::strcmp(stream.container, "sd2") == 0
                                     ? openSoundDesigner(stream)
                                     : openMuxer(stream);
        m_open = error == MediaError::None;
        return error;
    }

    MediaError write(const int16_t* const* channels, int64_t frames) override {
        if (!m_open)
            return MediaError::NotOpen;
        if (!channels || frames < 0)
            return MediaError::BadArgument;
        if (m_sd2)
            return writeSoundDesigner(channels, frames);
        std::vector<const uint8_t*> input(size_t(m_channels), nullptr);
        for (int64_t first = 0; first < frames; first += kPcmFrameSize) {
            const int count = int(std::min<int64_t>(kPcmFrameSize, frames - first));
            for (int c = 0; c < m_channels; ++c)
                input[size_t(c)] = reinterpret_cast<const uint8_t*>(channels[c] + first);
            RETURN_IF_AV_FAILS(swr_convert, m_converter.get(), nullptr, 0, input.data(), count);
            if (const MediaError encoded = encodeBuffered(false); encoded != MediaError::None)
                return encoded;
        }
        return MediaError::None;
    }

    // An MPEG-4 file begins with as much silence, cut by its edit list, as makes its last AAC
    // packet end with the audio.
    MediaError expectFrames(int64_t frames) override {
        if (!m_open)
            return MediaError::NotOpen;
        if (frames < 0 || m_nextPts != 0 ||
            (m_converter && swr_get_out_samples(m_converter.get(), 0)))
            return MediaError::BadArgument; // only before the first write
        if (!m_mpeg4)
            return MediaError::None;
        const int lead = int((m_frameSize - frames % m_frameSize) % m_frameSize);
        // The encoder adds one packet of delay in front; the edit list cuts it together with this.
        RETURN_IF_AV_FAILS(swr_inject_silence, m_converter.get(), lead);
        m_nextPts = -lead;
        m_lead = lead;
        return MediaError::None;
    }

    MediaError setCoverArt(const QByteArray& picture) override {
        m_coverArt = picture;
        return takesMetadata();
    }

    MediaError setTags(const AudioFileTags& tags) override {
        m_tags = tags;
        return takesMetadata();
    }

    MediaError finish() override {
        if (!m_open)
            return MediaError::None;
        m_open = false;
        if (m_sd2) {
            m_sd2.reset();
            return MediaError::None;
        }
        MediaError error = encodeBuffered(true);
        if (const MediaError flushed = sendFrame(true); error == MediaError::None)
            error = flushed;
        if (const int trailer = av_write_trailer(m_output.get()); error == MediaError::None)
            error = errorFromAv(trailer, "av_write_trailer");
        if (const int closed = avio_closep(&m_output->pb); error == MediaError::None)
            error = errorFromAv(closed, "avio_closep");
        // The encoder's delay is one packet, so the last starts where the lead and sound end.
        const int64_t lastPacketStart =
            (m_lead + m_nextPts + m_frameSize - 1) / m_frameSize * m_frameSize;
        if (error != MediaError::None || !m_mpeg4)
            return error;
        if (!m_tags.isEmpty() || !m_coverArt.isEmpty())
            error = embedMetadata(m_path, m_tags, m_coverArt);
        return error == MediaError::None ? lengthenMovie(m_path, lastPacketStart - m_nextPts + 1)
                                         : error;
    }

private:
    // Tags and cover art go into an open MPEG-4 file only.
    MediaError takesMetadata() const {
        return !m_open    ? MediaError::NotOpen
               : !m_mpeg4 ? MediaError::UnsupportedFormat
                          : MediaError::None;
    }

    MediaError openMuxer(const OutputStream& stream) {
        const QByteArray localPath = QFile::encodeName(m_path);
        AVFormatContext* context = nullptr;
        RETURN_IF_AV_FAILS(avformat_alloc_output_context2, &context, nullptr, stream.container,
                           localPath.constData());
        m_output.reset(context);
        const AVCodec* codec = avcodec_find_encoder(codecFor(stream));
        m_codec.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        m_stream = avformat_new_stream(m_output.get(), nullptr);
        const AVSampleFormat sampleFormat = firstSampleFormat(codec);
        if (sampleFormat == AV_SAMPLE_FMT_NONE) {
            qCWarning(lcMedia) << "FFmpeg has no encoder for" << stream.container << "audio";
            return MediaError::UnsupportedFormat;
        }
        if (!m_codec || !m_frame || !m_packet || !m_stream) {
            qCWarning(lcMedia) << "no memory for an encoder";
            return MediaError::NoMemory;
        }
        m_codec->sample_rate = stream.sampleRate;
        m_codec->time_base = AVRational{1, stream.sampleRate};
        m_codec->sample_fmt = sampleFormat;
        av_channel_layout_default(&m_codec->ch_layout, stream.channels);
        if (m_mpeg4) {
            m_codec->bit_rate = kAacBitRatePerChannel * stream.channels;
            m_codec->profile = kAacLowProfile;
            m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // MPEG-4 keeps the setup in the header
            m_codec->cutoff = 18000;                       // as AAC-LC commonly codes at this rate
            av_opt_set(m_codec->priv_data, "aac_coder", "fast", 0);
            // Without noise substitution a decode after a seek gives what one from the start does.
            av_opt_set(m_codec->priv_data, "aac_pns", "0", 0);
            av_opt_set(m_codec->priv_data, "aac_tns", "0", 0); // costs time, buys nothing on tones
        }
        RETURN_IF_AV_FAILS(avcodec_open2, m_codec.get(), codec, nullptr);
        RETURN_IF_AV_FAILS(avcodec_parameters_from_context, m_stream->codecpar, m_codec.get());
        m_stream->time_base = AVRational{1, stream.sampleRate};
        RETURN_IF_AV_FAILS(avio_open, &m_output->pb, localPath.constData(), AVIO_FLAG_WRITE);
        if (m_mpeg4) {
            // The movie's clock at the sample rate keeps the length exact to the frame (the
            // default counts milliseconds); the index before the audio lets a player start early.
            av_opt_set_int(m_output->priv_data, "movie_timescale", stream.sampleRate, 0);
            av_opt_set(m_output->priv_data, "movflags", "+faststart", 0);
        }
        RETURN_IF_AV_FAILS(avformat_write_header, m_output.get(), nullptr);
        const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
        m_frameSize = m_codec->frame_size > 0 && !anySize ? m_codec->frame_size : kPcmFrameSize;
        // The converter also buffers the samples until a whole frame for the encoder is there.
        return makeConverter(m_converter, m_codec->ch_layout, m_codec->sample_fmt,
                             stream.sampleRate, m_codec->ch_layout, AV_SAMPLE_FMT_S16P,
                             stream.sampleRate);
    }

    // Hands the buffered samples to the encoder a frame at a time; with `flush` also the rest.
    MediaError encodeBuffered(bool flush) {
        while (true) {
            const int buffered = swr_get_out_samples(m_converter.get(), 0);
            if (buffered <= 0 || (buffered < m_frameSize && !flush))
                return MediaError::None;
            av_frame_unref(m_frame.get());
            m_frame->nb_samples = m_frameSize;
            m_frame->format = m_codec->sample_fmt;
            m_frame->sample_rate = m_codec->sample_rate;
            av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
            RETURN_IF_AV_FAILS(av_frame_get_buffer, m_frame.get(), 0);
            const int got =
                swr_convert(m_converter.get(), m_frame->extended_data, m_frameSize, nullptr, 0);
            if (got <= 0)
                return errorFromAv(got, "swr_convert");
            const bool smallLast =
                m_codec->codec->capabilities &
                (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
            if (got < m_frameSize) {
                if (smallLast) // a codec with fixed packets gets its last one padded with silence
                    m_frame->nb_samples = got;
                else
                    av_samples_set_silence(m_frame->extended_data, got, m_frameSize - got,
                                           m_channels, m_codec->sample_fmt);
            }
            if (const MediaError error = sendFrame(false); error != MediaError::None)
                return error;
        }
    }

    MediaError sendFrame(bool last) {
        if (!last) {
            m_frame->pts = m_nextPts;
            m_nextPts += m_frame->nb_samples;
        }
        RETURN_IF_AV_FAILS(avcodec_send_frame, m_codec.get(), last ? nullptr : m_frame.get());
        while (true) {
            const int error = avcodec_receive_packet(m_codec.get(), m_packet.get());
            if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
                return MediaError::None;
            if (error < 0)
                return errorFromAv(error, "avcodec_receive_packet");
            m_packet->stream_index = m_stream->index;
            av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
            RETURN_IF_AV_FAILS(av_write_frame, m_output.get(), m_packet.get());
        }
    }

    MediaError openSoundDesigner(const OutputStream& stream) {
        SF_INFO info{};
        info.samplerate = stream.sampleRate;
        info.channels = stream.channels;
        const int subtypes[] = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24,
                                SF_FORMAT_PCM_32};
        info.format = SF_FORMAT_SD2 | subtypes[stream.bitsPerSample / 8 - 1];
        if (!QFileInfo(QFileInfo(m_path).absolutePath()).isDir()) {
            qCWarning(lcMedia) << "no folder for" << m_path;
            return MediaError::FileNotFound;
        }
        QFile::remove(m_path); // libsndfile does not replace a Sound Designer II file
        m_sd2.reset(sf_open(QFile::encodeName(m_path).constData(), SFM_WRITE, &info));
        if (m_sd2)
            return MediaError::None;
        qCWarning(lcMedia, "libsndfile: %s", sf_strerror(nullptr));
        return sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT ? MediaError::UnsupportedFormat
                                                               : MediaError::IOError;
    }

    MediaError writeSoundDesigner(const int16_t* const* channels, int64_t frames) {
        m_interleaved.resize(size_t(frames * m_channels));
        for (int64_t j = 0; j < frames; ++j)
            for (int c = 0; c < m_channels; ++c)
                m_interleaved[size_t(j * m_channels + c)] = channels[c][j];
        if (sf_writef_short(m_sd2.get(), m_interleaved.data(), frames) == frames)
            return MediaError::None;
        qCWarning(lcMedia, "libsndfile: %s", sf_strerror(m_sd2.get()));
        return MediaError::IOError;
    }

    QString m_path;
    bool m_open = false;
    bool m_mpeg4 = false;
    int m_channels = 0;
    FFmpegPtr<AVFormatContext> m_output;
    AVStream* m_stream = nullptr;
    FFmpegPtr<AVCodecContext> m_codec;
    FFmpegPtr<SwrContext> m_converter;
    FFmpegPtr<AVFrame> m_frame{av_frame_alloc()};
    FFmpegPtr<AVPacket> m_packet{av_packet_alloc()};
    int m_frameSize = 0;
    int64_t m_nextPts = 0;
    int m_lead = 0; // frames of silence in front of the sound, cut by the edit list
    std::unique_ptr<SNDFILE, decltype(&sf_close)> m_sd2{nullptr, &sf_close};
    std::vector<int16_t> m_interleaved; // Sound Designer II's, reused from write to write
    QByteArray m_coverArt;
    AudioFileTags m_tags;
};

} // namespace

std::unique_ptr<AudioFileWriter> makeFFmpegWriter() {
    return std::make_unique<FFmpegFileWriter>();
}

} // namespace zwirl::media

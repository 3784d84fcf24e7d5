#include "media/AudioFileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}
#include <sndfile.h>
#include <taglib/mp4file.h>

namespace zwirl::media {

namespace {

// FFmpeg 6.1 renamed the profiles (the old names are gone from 8 on), and 7.1 replaced the
// encoder's list of sample formats with a query; Debian 12 has 5.1.
#ifdef AV_PROFILE_AAC_LOW
constexpr int kAacLowProfile = AV_PROFILE_AAC_LOW;
#else
constexpr int kAacLowProfile = FF_PROFILE_AAC_LOW;
#endif

// The encoder's preferred sample format; nothing for a codec that is not an audio encoder.
std::optional<AVSampleFormat> firstSampleFormat(const AVCodec* codec) {
    if (!codec)
        return std::nullopt;
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    const void* formats = nullptr;
    int count = 0;
    if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_SAMPLE_FORMAT, 0, &formats,
                                     &count) < 0 ||
        !formats || count < 1)
        return std::nullopt;
    return static_cast<const AVSampleFormat*>(formats)[0];
#else
    if (!codec->sample_fmts)
        return std::nullopt;
    return codec->sample_fmts[0];
#endif
}

// Samples per packet for codecs that take any number (linear PCM).
constexpr int kPcmFrameSize = 4096;
// The fast AAC coder at this rate keeps hard-clipped square waves at least as clean as the
// default coder at its own default rate, in well under half its time.
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

// Embeds the tags and a JPEG or PNG picture as the cover art ("covr") into the finished MPEG-4
// file at `path`.
MediaError embedMetadata(const QString& path, const AudioFileTags& tags,
                         const QByteArray& picture) {
    const bool jpeg = picture.startsWith("\xFF\xD8\xFF");
    if (!picture.isEmpty() && !jpeg && !picture.startsWith("\x89PNG"))
        return MediaError::UnsupportedFormat;
    TagLib::MP4::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.tag())
        return MediaError::InvalidFile;
    TagLib::MP4::Tag* tag = file.tag();
    const std::pair<const char*, const QString&> texts[] = {{"\251nam", tags.title},
                                                            {"\251ART", tags.artist},
                                                            {"\251day", tags.date},
                                                            {"\251cmt", tags.comment}};
    for (const auto& [key, text] : texts)
        if (!text.isEmpty())
            tag->setItem(
                key, TagLib::StringList(TagLib::String(text.toStdString(), TagLib::String::UTF8)));
    if (!picture.isEmpty()) {
        const TagLib::MP4::CoverArt cover(
            jpeg ? TagLib::MP4::CoverArt::JPEG : TagLib::MP4::CoverArt::PNG,
            TagLib::ByteVector(picture.constData(), static_cast<unsigned>(picture.size())));
        tag->setItem("covr", TagLib::MP4::Item(TagLib::MP4::CoverArtList().append(cover)));
    }
    return file.save() ? MediaError::None : MediaError::IOError;
}

// GStreamer's MPEG-4 reader drops each packet that starts, counted from the start of the media
// rather than from where the edit list begins, at or after the movie's length. The encoder's
// delay puts the start of the packet that ends the sound `extra` - 1 frames after the sound's
// length, so every such player would cut the last packet of sound. The movie header (in frames:
// its time scale is the sample rate) is lengthened by `extra`; the track's own length and its
// edit list, which say exactly where the sound begins and ends, stay as they are.
MediaError lengthenMovie(const QString& path, int64_t extra) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return MediaError::IOError;
    // The offset of the first box of `type` between `from` and `end`, or -1.
    const auto find = [&file](qint64 from, qint64 end,
                              const char* type) -> std::pair<qint64, qint64> {
        for (qint64 at = from; at + 8 <= end;) {
            if (!file.seek(at))
                break;
            const QByteArray head = file.read(16);
            if (head.size() < 8)
                break;
            qint64 size = qFromBigEndian<quint32>(head.constData());
            if (size == 1 && head.size() == 16)
                size = qint64(qFromBigEndian<quint64>(head.constData() + 8));
            else if (size == 0)
                size = end - at;
            if (head.mid(4, 4) == type)
                return {at, size};
            if (size < 8)
                break;
            at += size;
        }
        return {-1, 0};
    };
    const auto [moov, moovSize] = find(0, file.size(), "moov");
    const auto [mvhd, mvhdSize] =
        moov < 0 ? std::pair<qint64, qint64>{-1, 0} : find(moov + 8, moov + moovSize, "mvhd");
    if (mvhd < 0 || !file.seek(mvhd + 8))
        return MediaError::InvalidFile;
    const QByteArray box = file.read(std::min<qint64>(mvhdSize - 8, 40));
    // Version 0 keeps the length in 32 bits after three 32-bit fields, version 1 in 64 after
    // two 64-bit and one 32-bit field.
    const bool wide = !box.isEmpty() && box[0] == 1;
    const qint64 at = wide ? 24 : 16;
    if (box.size() < at + (wide ? 8 : 4))
        return MediaError::InvalidFile;
    QByteArray length(wide ? 8 : 4, Qt::Uninitialized);
    if (wide)
        qToBigEndian(qFromBigEndian<quint64>(box.constData() + at) + quint64(extra), length.data());
    else
        qToBigEndian(quint32(qFromBigEndian<quint32>(box.constData() + at) + quint32(extra)),
                     length.data());
    return file.seek(mvhd + 8 + at) && file.write(length) == length.size() && file.flush()
               ? MediaError::None
               : MediaError::IOError;
}

} // namespace

void AudioFileWriter::SndfileDeleter::operator()(sf_private_tag* file) const {
    sf_close(file);
}

AudioFileWriter::AudioFileWriter() = default;

AudioFileWriter::~AudioFileWriter() {
    finish();
}

MediaError AudioFileWriter::open(const QString& path, const OutputStream& stream) {
    finish();
    quietenFFmpegLog();
    if (!stream.container || stream.channels < 1 || stream.sampleRate < 1 ||
        stream.sampleRate > 1000000 || codecFor(stream) == AV_CODEC_ID_NONE)
        return MediaError::UnsupportedFormat;
    m_path = path;
    m_channels = stream.channels;
    m_mpeg4 = stream.codec == AudioCodec::Aac;
    m_nextPts = 0;
    m_lead = 0;
    m_coverArt.clear();
    m_tags = {};
    const MediaError error =
        std::strcmp(stream.container, "sd2") == 0 ? openSoundDesigner(stream) : openMuxer(stream);
    m_open = error == MediaError::None;
    if (!m_open) {
        m_codec.reset();
        m_output.reset();
        m_sd2.reset();
    }
    return error;
}

MediaError AudioFileWriter::openMuxer(const OutputStream& stream) {
    const QByteArray localPath = QFile::encodeName(m_path);
    AVFormatContext* context = nullptr;
    int error =
        avformat_alloc_output_context2(&context, nullptr, stream.container, localPath.constData());
    if (error < 0)
        return errorFromAv(error);
    m_output.reset(context);
    const AVCodec* codec = avcodec_find_encoder(codecFor(stream));
    m_codec.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    m_stream = avformat_new_stream(m_output.get(), nullptr);
    const std::optional<AVSampleFormat> sampleFormat = firstSampleFormat(codec);
    if (!sampleFormat)
        return MediaError::UnsupportedFormat;
    if (!m_codec || !m_frame || !m_packet || !m_stream)
        return MediaError::NoMemory;

    m_codec->sample_rate = stream.sampleRate;
    m_codec->time_base = AVRational{1, stream.sampleRate};
    m_codec->sample_fmt = *sampleFormat;
    av_channel_layout_default(&m_codec->ch_layout, stream.channels);
    AVDictionary* codecOptions = nullptr;
    AVDictionary* muxerOptions = nullptr;
    if (m_mpeg4) {
        m_codec->bit_rate = kAacBitRatePerChannel * stream.channels;
        m_codec->profile = kAacLowProfile;
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // MPEG-4 keeps the setup in the header
        // Coding up to 18 kHz, as AAC-LC commonly does at this rate, spares the encoder the
        // top bands where nobody hears the square waves' harmonics.
        m_codec->cutoff = 18000;
        av_dict_set(&codecOptions, "aac_coder", "fast", 0);
        // Without noise substitution the decoded audio depends on the packets alone, so a
        // decode after a seek gives the samples a decode from the start gives.
        av_dict_set(&codecOptions, "aac_pns", "0", 0);
        av_dict_set(&codecOptions, "aac_tns", "0", 0); // costs time, buys nothing on tones
        // The movie's clock at the sample rate keeps the length exact to the frame; the
        // muxer's default clock counts milliseconds.
        av_dict_set_int(&muxerOptions, "movie_timescale", stream.sampleRate, 0);
        // The index before the audio: a player can start before it has read the whole file.
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    }
    error = avcodec_open2(m_codec.get(), codec, &codecOptions);
    av_dict_free(&codecOptions);
    if (error >= 0)
        error = avcodec_parameters_from_context(m_stream->codecpar, m_codec.get());
    m_stream->time_base = AVRational{1, stream.sampleRate};
    if (error >= 0)
        error = avio_open(&m_output->pb, localPath.constData(), AVIO_FLAG_WRITE);
    if (error >= 0)
        error = avformat_write_header(m_output.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (error < 0)
        return errorFromAv(error);

    const bool anySize = codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    m_frameSize = m_codec->frame_size > 0 && !anySize ? m_codec->frame_size : kPcmFrameSize;
    // The converter also buffers the samples until a whole frame for the encoder is there.
    SwrContext* converter = nullptr;
    error =
        swr_alloc_set_opts2(&converter, &m_codec->ch_layout, m_codec->sample_fmt, stream.sampleRate,
                            &m_codec->ch_layout, AV_SAMPLE_FMT_S16P, stream.sampleRate, 0, nullptr);
    m_converter.reset(converter);
    if (error >= 0)
        error = swr_init(converter);
    return errorFromAv(error);
}

MediaError AudioFileWriter::openSoundDesigner(const OutputStream& stream) {
    SF_INFO info{};
    info.samplerate = stream.sampleRate;
    info.channels = stream.channels;
    const int subtypes[] = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32};
    info.format = SF_FORMAT_SD2 | subtypes[stream.bitsPerSample / 8 - 1];
    if (!QFileInfo(QFileInfo(m_path).absolutePath()).isDir())
        return MediaError::FileNotFound;
    QFile::remove(m_path); // libsndfile does not replace a Sound Designer II file
    m_sd2.reset(sf_open(QFile::encodeName(m_path).constData(), SFM_WRITE, &info));
    if (!m_sd2)
        return sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT ? MediaError::UnsupportedFormat
                                                               : MediaError::IOError;
    return MediaError::None;
}

MediaError AudioFileWriter::write(const int16_t* const* channels, int64_t frames) {
    if (!m_open)
        return MediaError::NotOpen;
    if (!channels || frames < 0)
        return MediaError::BadArgument;
    if (m_sd2) {
        std::vector<int16_t> interleaved(size_t(frames * m_channels));
        for (int64_t j = 0; j < frames; ++j)
            for (int c = 0; c < m_channels; ++c)
                interleaved[size_t(j * m_channels + c)] = channels[c][j];
        return sf_writef_short(m_sd2.get(), interleaved.data(), frames) == frames
                   ? MediaError::None
                   : MediaError::IOError;
    }
    std::vector<const uint8_t*> input(size_t(m_channels), nullptr);
    for (int64_t first = 0; first < frames; first += kPcmFrameSize) {
        const int count = int(std::min<int64_t>(kPcmFrameSize, frames - first));
        for (int c = 0; c < m_channels; ++c)
            input[size_t(c)] = reinterpret_cast<const uint8_t*>(channels[c] + first);
        const int error = swr_convert(m_converter.get(), nullptr, 0, input.data(), count);
        if (error < 0)
            return errorFromAv(error);
        if (const MediaError encoded = encodeBuffered(false); encoded != MediaError::None)
            return encoded;
    }
    return MediaError::None;
}

// Hands the converter's buffered samples to the encoder one frame at a time; with `flush`
// the last, shorter frame too.
MediaError AudioFileWriter::encodeBuffered(bool flush) {
    while (true) {
        const int buffered = swr_get_out_samples(m_converter.get(), 0);
        if (buffered <= 0 || (buffered < m_frameSize && !flush))
            return MediaError::None;
        av_frame_unref(m_frame.get());
        m_frame->nb_samples = m_frameSize;
        m_frame->format = m_codec->sample_fmt;
        m_frame->sample_rate = m_codec->sample_rate;
        av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout);
        if (av_frame_get_buffer(m_frame.get(), 0) < 0)
            return MediaError::NoMemory;
        const int got =
            swr_convert(m_converter.get(), m_frame->extended_data, m_frameSize, nullptr, 0);
        if (got <= 0)
            return errorFromAv(got);
        const bool smallLast = m_codec->codec->capabilities &
                               (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
        if (got < m_frameSize) {
            if (smallLast) // a codec with fixed packets gets its last one padded with silence
                m_frame->nb_samples = got;
            else
                av_samples_set_silence(m_frame->extended_data, got, m_frameSize - got, m_channels,
                                       m_codec->sample_fmt);
        }
        if (const MediaError error = sendFrame(false); error != MediaError::None)
            return error;
    }
}

MediaError AudioFileWriter::sendFrame(bool last) {
    if (!last) {
        m_frame->pts = m_nextPts;
        m_nextPts += m_frame->nb_samples;
    }
    int error = avcodec_send_frame(m_codec.get(), last ? nullptr : m_frame.get());
    while (error >= 0) {
        error = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
            return MediaError::None;
        if (error < 0)
            break;
        m_packet->stream_index = m_stream->index;
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
        error = av_write_frame(m_output.get(), m_packet.get());
        av_packet_unref(m_packet.get());
    }
    return errorFromAv(error);
}

MediaError AudioFileWriter::expectFrames(int64_t frames) {
    if (!m_open)
        return MediaError::NotOpen;
    if (frames < 0 || m_nextPts != 0 || (m_converter && swr_get_out_samples(m_converter.get(), 0)))
        return MediaError::BadArgument; // only before the first write
    if (!m_mpeg4)
        return MediaError::None;
    const int lead = int((m_frameSize - frames % m_frameSize) % m_frameSize);
    if (lead == 0)
        return MediaError::None;
    // The encoder adds one packet of delay in front; the edit list cuts it together with this.
    const std::vector<int16_t> silence(size_t(lead), 0);
    std::vector<const uint8_t*> input(size_t(m_channels),
                                      reinterpret_cast<const uint8_t*>(silence.data()));
    const int error = swr_convert(m_converter.get(), nullptr, 0, input.data(), lead);
    if (error < 0)
        return errorFromAv(error);
    m_nextPts = -lead;
    m_lead = lead;
    return MediaError::None;
}

// Tags and cover art go into an open MPEG-4 file only.
MediaError AudioFileWriter::takesMetadata() const {
    return !m_open    ? MediaError::NotOpen
           : !m_mpeg4 ? MediaError::UnsupportedFormat
                      : MediaError::None;
}

MediaError AudioFileWriter::setTags(const AudioFileTags& tags) {
    const MediaError error = takesMetadata();
    if (error == MediaError::None)
        m_tags = tags;
    return error;
}

MediaError AudioFileWriter::setCoverArt(const QByteArray& picture) {
    const MediaError error = takesMetadata();
    if (error == MediaError::None)
        m_coverArt = picture;
    return error;
}

MediaError AudioFileWriter::finish() {
    if (!m_open)
        return MediaError::None;
    m_open = false;
    MediaError error = MediaError::None;
    if (m_sd2) {
        m_sd2.reset();
        return error;
    }
    error = encodeBuffered(true);
    if (const MediaError flushed = sendFrame(true); error == MediaError::None)
        error = flushed;
    if (const int trailer = av_write_trailer(m_output.get()); error == MediaError::None)
        error = errorFromAv(trailer);
    if (const int closed = avio_closep(&m_output->pb); error == MediaError::None)
        error = errorFromAv(closed);
    // The encoder's delay is one packet: the last packet starts where the whole packets of the
    // lead and the sound end.
    const int64_t lastPacketStart =
        m_frameSize > 0 ? (m_lead + m_nextPts + m_frameSize - 1) / m_frameSize * m_frameSize : 0;
    m_output.reset();
    m_codec.reset();
    m_converter.reset();
    const AudioFileTags& t = m_tags;
    const bool tagged = !(t.title + t.artist + t.date + t.comment).isEmpty();
    if (error == MediaError::None && (tagged || !m_coverArt.isEmpty()))
        error = embedMetadata(m_path, m_tags, m_coverArt);
    if (error == MediaError::None && m_mpeg4)
        error = lengthenMovie(m_path, lastPacketStart - m_nextPts + 1);
    return error;
}

} // namespace zwirl::media

#include "platform/AudioFile.h"

#include "platform/FFmpegStatus.h"
#include "platform/PlatformLog.h"

#include <QFile>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}
#include <sndfile.h>
#include <taglib/mp4file.h>

namespace {

struct OutputContextDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct SndfileDeleter {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using OutputContext = std::unique_ptr<AVFormatContext, OutputContextDeleter>;
using Sndfile = std::unique_ptr<SNDFILE, SndfileDeleter>;

bool isKnownType(AudioFileTypeID type) {
    switch (type) {
    case kAudioFileM4AType:
    case kAudioFileAIFCType:
    case kAudioFileAIFFType:
    case kAudioFileNextType:
    case kAudioFileSoundDesigner2Type:
    case kAudioFileCAFType:
    case kAudioFileWAVEType:
        return true;
    default:
        return false;
    }
}

const char* muxerForType(AudioFileTypeID type) {
    switch (type) {
    case kAudioFileM4AType:
        return "ipod";
    case kAudioFileAIFCType:
    case kAudioFileAIFFType:
        return "aiff";
    case kAudioFileNextType:
        return "au";
    case kAudioFileCAFType:
        return "caf";
    case kAudioFileWAVEType:
        return "wav";
    default:
        return nullptr; // 'Sd2f' goes through libsndfile
    }
}

// WAVE keeps 8-bit samples unsigned and everything else little-endian; the other PCM types
// here are big-endian signed.
AVCodecID pcmCodec(AudioFileTypeID type, uint32_t bits) {
    const bool wave = type == kAudioFileWAVEType;
    switch (bits) {
    case 8:
        return wave ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S8;
    case 16:
        return wave ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_PCM_S16BE;
    case 24:
        return wave ? AV_CODEC_ID_PCM_S24LE : AV_CODEC_ID_PCM_S24BE;
    case 32:
        return wave ? AV_CODEC_ID_PCM_S32LE : AV_CODEC_ID_PCM_S32BE;
    default:
        return AV_CODEC_ID_NONE;
    }
}

// The codec that carries `format` in a file of `type`, or none when the two do not fit.
AVCodecID codecForFormat(AudioFileTypeID type, const AudioStreamBasicDescription& format) {
    if (format.mChannelsPerFrame < 1 || !(format.mSampleRate > 0) || format.mSampleRate > 1e6)
        return AV_CODEC_ID_NONE;
    switch (type) {
    case kAudioFileM4AType:
        return format.mFormatID == kAudioFormatMPEG4AAC ? AV_CODEC_ID_AAC : AV_CODEC_ID_NONE;
    case kAudioFileAIFCType:
        return format.mFormatID == kAudioFormatAppleIMA4 ? AV_CODEC_ID_ADPCM_IMA_QT
                                                         : AV_CODEC_ID_NONE;
    default:
        if (format.mFormatID != kAudioFormatLinearPCM ||
            (format.mFormatFlags & kAudioFormatFlagIsFloat))
            return AV_CODEC_ID_NONE;
        return pcmCodec(type, format.mBitsPerChannel);
    }
}

int sndfileSubtype(uint32_t bits) {
    switch (bits) {
    case 8:
        return SF_FORMAT_PCM_S8;
    case 16:
        return SF_FORMAT_PCM_16;
    case 24:
        return SF_FORMAT_PCM_24;
    default:
        return SF_FORMAT_PCM_32;
    }
}

bool isJpeg(const QByteArray& data) {
    return data.startsWith("\xFF\xD8\xFF");
}
bool isPng(const QByteArray& data) {
    return data.startsWith("\x89PNG");
}

} // namespace

struct AudioFile::Impl {
    QString path;
    AVCodecID codec = AV_CODEC_ID_NONE;
    OutputContext output;
    AVStream* stream = nullptr;
    AVDictionary* muxerOptions = nullptr;
    bool headerWritten = false;
    Sndfile sd2;
    QByteArray artwork;
    bool closed = false;

    ~Impl() { av_dict_free(&muxerOptions); }

    OSStatus openMuxer(AudioFileTypeID type, const AudioStreamBasicDescription& format);
    OSStatus openSoundDesigner(const AudioStreamBasicDescription& format);
    OSStatus writeHeader();
    OSStatus finishMuxer();
    OSStatus writeArtwork() const;
};

OSStatus AudioFile::Impl::openMuxer(AudioFileTypeID type,
                                    const AudioStreamBasicDescription& format) {
    AVFormatContext* context = nullptr;
    const QByteArray localPath = QFile::encodeName(path);
    int error = avformat_alloc_output_context2(&context, nullptr, muxerForType(type),
                                               localPath.constData());
    if (error < 0)
        return statusForAvError(error);
    output.reset(context);
    error = avio_open(&output->pb, localPath.constData(), AVIO_FLAG_WRITE);
    if (error < 0)
        return statusForAvError(error);

    stream = avformat_new_stream(output.get(), nullptr);
    if (!stream)
        return kAudioFileMemFullError;
    const int rate = int(std::lround(format.mSampleRate));
    stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    stream->codecpar->codec_id = codec;
    stream->codecpar->sample_rate = rate;
    av_channel_layout_default(&stream->codecpar->ch_layout, int(format.mChannelsPerFrame));
    stream->time_base = AVRational{1, rate};
    if (type == kAudioFileM4AType) {
        // The movie's own clock at the sample rate keeps the length exact to the frame; the
        // muxer's default clock counts milliseconds.
        av_dict_set_int(&muxerOptions, "movie_timescale", rate, 0);
    }
    return noErr;
}

OSStatus AudioFile::Impl::openSoundDesigner(const AudioStreamBasicDescription& format) {
    SF_INFO info{};
    info.samplerate = int(std::lround(format.mSampleRate));
    info.channels = int(format.mChannelsPerFrame);
    info.format = SF_FORMAT_SD2 | sndfileSubtype(format.mBitsPerChannel);
    sd2.reset(sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info));
    if (!sd2) {
        qCWarning(lcPlatform) << "Sound Designer II file not created:" << sf_strerror(nullptr);
        return sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT
                   ? kAudioFileUnsupportedDataFormatError
                   : kAudioFileUnspecifiedError;
    }
    return noErr;
}

OSStatus AudioFile::Impl::writeHeader() {
    if (headerWritten)
        return noErr;
    const int error = avformat_write_header(output.get(), &muxerOptions);
    if (error < 0)
        return statusForAvError(error);
    headerWritten = true;
    return noErr;
}

OSStatus AudioFile::Impl::finishMuxer() {
    OSStatus status = writeHeader();
    if (status == noErr)
        status = statusForAvError(av_write_trailer(output.get()));
    if (output->pb && avio_closep(&output->pb) < 0 && status == noErr)
        status = kAudioFileIOError;
    output.reset();
    return status;
}

OSStatus AudioFile::Impl::writeArtwork() const {
    TagLib::MP4::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.tag())
        return kAudioFileInvalidFileError;
    const auto format = isJpeg(artwork) ? TagLib::MP4::CoverArt::JPEG : TagLib::MP4::CoverArt::PNG;
    TagLib::MP4::CoverArtList covers;
    covers.append(TagLib::MP4::CoverArt(
        format, TagLib::ByteVector(artwork.constData(), uint(artwork.size()))));
    file.tag()->setItem("covr", TagLib::MP4::Item(covers));
    return file.save() ? noErr : kAudioFileIOError;
}

AudioFile::AudioFile(AudioFileTypeID type, const AudioStreamBasicDescription& format,
                     std::unique_ptr<Impl> impl)
    : m_type(type), m_format(format), d(std::move(impl)) {}

AudioFile::~AudioFile() {
    close();
}

OSStatus AudioFile::createWithURL(const QString& path, AudioFileTypeID type,
                                  const AudioStreamBasicDescription& format, uint32_t flags,
                                  std::unique_ptr<AudioFile>& outFile) {
    outFile.reset();
    if (!isKnownType(type))
        return kAudioFileUnsupportedFileTypeError;
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->codec = codecForFormat(type, format);
    if (impl->codec == AV_CODEC_ID_NONE)
        return kAudioFileUnsupportedDataFormatError;
    if (const OSStatus status =
            statusForCreatingFile(path, (flags & kAudioFileFlags_EraseFile) != 0))
        return status;
    if (type == kAudioFileSoundDesigner2Type) {
        // The file's resource fork lives beside it as an AppleDouble "._" file.
        QFile::remove(path);
    }
    const OSStatus status = type == kAudioFileSoundDesigner2Type ? impl->openSoundDesigner(format)
                                                                 : impl->openMuxer(type, format);
    if (status != noErr)
        return status;
    outFile.reset(new AudioFile(type, format, std::move(impl)));
    return noErr;
}

OSStatus AudioFile::setProperty(AudioFilePropertyID property, const QByteArray& value) {
    if (d->closed)
        return kAudioFileNotOpenError;
    if (property != kAudioFilePropertyAlbumArtwork || m_type != kAudioFileM4AType)
        return kAudioFileUnsupportedPropertyError;
    if (!isJpeg(value) && !isPng(value))
        return kAudioFileUnsupportedDataFormatError;
    d->artwork = value;
    return noErr;
}

OSStatus AudioFile::optimize() {
    return d->closed ? kAudioFileNotOpenError : noErr;
}

OSStatus AudioFile::close() {
    if (d->closed)
        return noErr;
    d->closed = true;
    if (d->sd2) {
        d->sd2.reset();
        return noErr;
    }
    OSStatus status = d->finishMuxer();
    if (status == noErr && !d->artwork.isEmpty())
        status = d->writeArtwork();
    return status;
}

int AudioFile::codecId() const {
    return d->codec;
}

OSStatus AudioFile::setEncoderParameters(const AVCodecContext* encoder) {
    if (d->closed)
        return kAudioFileNotOpenError;
    if (!d->stream)
        return noErr;
    const int error = avcodec_parameters_from_context(d->stream->codecpar, encoder);
    d->stream->time_base = AVRational{1, encoder->sample_rate};
    return statusForAvError(error);
}

OSStatus AudioFile::writePacket(AVPacket* packet) {
    if (d->closed)
        return kAudioFileNotOpenError;
    if (d->sd2) {
        const sf_count_t written = sf_write_raw(d->sd2.get(), packet->data, packet->size);
        return written == packet->size ? noErr : kAudioFileIOError;
    }
    if (const OSStatus status = d->writeHeader())
        return status;
    packet->stream_index = d->stream->index;
    av_packet_rescale_ts(packet, AVRational{1, d->stream->codecpar->sample_rate},
                         d->stream->time_base);
    const int error = av_write_frame(d->output.get(), packet);
    return statusForAvError(error);
}

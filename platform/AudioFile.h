#pragma once

#include "platform/AudioTypes.h"

#include <QByteArray>
#include <QString>
#include <memory>

struct AVCodecContext;
struct AVPacket;

// An audio file being written: the container, chosen by type code (never by the file name),
// that the packets of one stream go into. ExtAudioFile encodes into it.
//
// Type codes and what they become:
//   'm4af'  MPEG-4 audio (ipod muxer, brand "M4A "), AAC-LC; album artwork as "covr"
//   'AIFF'  AIFF, big-endian signed PCM          'AIFC'  AIFF-C, IMA4 ADPCM
//   'WAVE'  RIFF WAVE, little-endian PCM (8 bit unsigned, as WAVE has it)
//   'caff'  Core Audio Format, big-endian PCM    'NeXT'  Sun/NeXT .au, big-endian PCM
//   'Sd2f'  Sound Designer II through libsndfile (the resource fork lands in "._NAME")
// Linear PCM takes 8, 16, 24 or 32 bits per channel.
class AudioFile {
public:
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    // Creates the file at `path` for a stream in `format`. With kAudioFileFlags_EraseFile an
    // existing file is replaced, else it is an error. The file exists on disk after success.
    static OSStatus createWithURL(const QString& path, AudioFileTypeID type,
                                  const AudioStreamBasicDescription& format, uint32_t flags,
                                  std::unique_ptr<AudioFile>& outFile);

    // kAudioFilePropertyAlbumArtwork (image data, JPEG or PNG) is held by 'm4af' files and
    // written into the file when it closes; other properties and types: 'pty?'.
    OSStatus setProperty(AudioFilePropertyID property, const QByteArray& value);
    // Nothing to rearrange: the stand-in writes its files in their final layout at close.
    OSStatus optimize();
    // Finishes the container and writes the properties. Later calls do nothing.
    OSStatus close();

    AudioFileTypeID fileType() const { return m_type; }
    const AudioStreamBasicDescription& dataFormat() const { return m_format; }
    // The FFmpeg codec (an AVCodecID) whose packets the file takes.
    int codecId() const;

    // For the encoder: the stream parameters (sample format, extradata, priming) taken from the
    // opened encoder, then its packets in order. The header is written with the first packet.
    OSStatus setEncoderParameters(const AVCodecContext* encoder);
    OSStatus writePacket(AVPacket* packet);

private:
    struct Impl;
    AudioFile(AudioFileTypeID type, const AudioStreamBasicDescription& format,
              std::unique_ptr<Impl> impl);

    AudioFileTypeID m_type;
    AudioStreamBasicDescription m_format;
    std::unique_ptr<Impl> d;
};

using AudioFileID = AudioFile*;

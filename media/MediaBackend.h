// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the media module implements: the file reader, the file writer and the audio output behind
// media/'s classes, and the libraries' versions. The module holds every line that touches FFmpeg,
// TagLib, libsndfile and PortAudio and is loaded at the first use of one of those classes, so that
// a program that starts without touching audio loads none of those libraries. Nothing here names
// a type of theirs.

#include "media/AudioFileTags.h"
#include "media/MediaError.h"

#include <QList>
#include <QString>
#include <cstdint>
#include <memory>
#include <utility>

namespace zwirl::media {

enum class AudioCodec { Aac, ImaAdpcm, Pcm };

// One audio stream in a container: what a row of a file type table names.
struct OutputStream {
    // An FFmpeg muxer ("ipod", "wav", "aiff", ...), or "sd2" for Sound Designer II, which
    // FFmpeg cannot write and libsndfile does (its resource fork lands beside it in "._NAME").
    const char* container = nullptr;
    AudioCodec codec = AudioCodec::Pcm;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 16; // linear PCM: 8, 16, 24 or 32
    bool bigEndian = false; // linear PCM; 8-bit little-endian PCM is unsigned, as WAVE has it
};

// See AudioFileReader for what each call does.
class FileReaderBackend {
public:
    virtual ~FileReaderBackend() = default;
    virtual MediaError open(const QString& path) = 0;
    virtual int fileRate() const = 0;
    virtual int64_t fileLength() const = 0;
    virtual MediaError setOutput(double rate, int channels) = 0;
    virtual int64_t outputLength() const = 0;
    virtual MediaError read(int16_t* out, int64_t& frames) = 0;
    virtual MediaError seek(int64_t frame) = 0;
};

// See AudioFileWriter for what each call does. Destroying one finishes its file.
class FileWriterBackend {
public:
    virtual ~FileWriterBackend() = default;
    virtual MediaError open(const QString& path, const OutputStream& stream) = 0;
    virtual MediaError write(const int16_t* const* channels, int64_t frames) = 0;
    virtual MediaError expectFrames(int64_t frames) = 0;
    virtual MediaError setCoverArt(const QByteArray& picture) = 0;
    virtual MediaError setTags(const AudioFileTags& tags) = 0;
    virtual MediaError finish() = 0;
};

// See zwirl::AudioOutput for what each call does.
class AudioOutputBackend {
public:
    using Render = void (*)(void* context, float* samples, unsigned long frames);
    virtual ~AudioOutputBackend() = default;
    virtual bool hasDevice() const = 0;
    virtual int open(double sampleRate, Render render, void* context) = 0;
    virtual int start() = 0;
    virtual void stop() = 0;
};

// The module's table of entry points.
struct MediaBackend {
    // The version of zwirl the module was built with; one of another build is not used.
    const char* version;
    std::unique_ptr<FileReaderBackend> (*makeReader)();
    std::unique_ptr<FileWriterBackend> (*makeWriter)();
    std::unique_ptr<AudioOutputBackend> (*makeOutput)();
    const char* (*outputErrorText)(int error);
    QList<std::pair<QString, QString>> (*libraryVersions)();
};

} // namespace zwirl::media

// The module's one exported symbol.
#define ZWIRL_MEDIA_ENTRY_POINT "zwirl_media_backend"
extern "C" const zwirl::media::MediaBackend* zwirl_media_backend();

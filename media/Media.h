// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The audio file reader and writer, the audio output and the libraries' versions, implemented in
// the media module (libzwirl-media.so). It is loaded at the first call below, so that a program
// that never touches audio loads no audio library; without it the factories return null.

#include <QByteArray>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <cstdint>
#include <memory>
#include <utility>

namespace zwirl::media {

// Failures of the media libraries with their own text; a caller gets only the kind of failure.
inline Q_LOGGING_CATEGORY(lcMedia, "zwirl.media")

    enum class MediaError {
        None,
        FileNotFound,      // the file or its folder does not exist
        NoPermission,      // the file or folder may not be read or written
        DiskFull,          // no space left for the file
        NoMemory,          // memory could not be allocated
        BadArgument,       // a call's argument is out of range (a rate of 0, a null buffer)
        NotOpen,           // the file is not open, or its open failed
        InvalidFile,       // the file holds no audio stream that can be decoded
        UnsupportedFormat, // the container, codec or sample format cannot be written
        IOError,           // reading or writing the file failed
        Other,             // any other failure of the libraries
    };

enum class AudioCodec { Aac, ImaAdpcm, Pcm };

struct OutputStream {
    // An FFmpeg muxer ("ipod", "wav", "aiff", ...), or "sd2" for Sound Designer II, which
    // libsndfile writes (its resource fork lands beside it in "._NAME").
    const char* container = nullptr;
    AudioCodec codec = AudioCodec::Pcm;
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 16; // linear PCM: 8, 16, 24 or 32
    bool bigEndian = false; // linear PCM; 8-bit little-endian PCM is unsigned, as WAVE has it
};

// The text tags of an MPEG-4 file; empty ones are left out.
struct AudioFileTags {
    QString title;
    QString artist;
    QString date; // ISO 8601
    QString comment;

    bool isEmpty() const {
        return title.isEmpty() && artist.isEmpty() && date.isEmpty() && comment.isEmpty();
    }
};

// Decodes a file's first audio stream as interleaved 16-bit samples at the caller's rate and
// channel count, without the codec's priming and padding: output frame 0 is the first real one.
class AudioFileReader {
public:
    virtual ~AudioFileReader() = default;
    virtual MediaError open(const QString& path) = 0; // once in a reader's life
    virtual int fileRate() const = 0;
    virtual int64_t fileLength() const = 0; // in frames at the file's own rate
    // Output at `rate` Hz (at least a 128th of the file's rate) with `channels` channels; back to
    // output frame 0.
    virtual MediaError setOutput(double rate, int channels) = 0;
    virtual int64_t outputLength() const = 0;
    // Up to `frames` frames into `out`; `frames` becomes the number delivered, 0 at the end.
    virtual MediaError read(int16_t* out, int64_t& frames) = 0;
    // The next frame read is exactly the one reading on from the start would deliver there.
    virtual MediaError seek(int64_t frame) = 0;
};

// Encodes 16-bit samples into one audio stream of a new file. MPEG-4 audio is AAC-LC, exact to
// the frame through its edit list, with its index before the audio. Destroying one finishes it.
class AudioFileWriter {
public:
    virtual ~AudioFileWriter() = default;
    // Creates the file at `path`, replacing one that is there; once in a writer's life.
    virtual MediaError open(const QString& path, const OutputStream& stream) = 0;
    // `frames` samples from each of the stream's channels, one array per channel.
    virtual MediaError write(const int16_t* const* channels, int64_t frames) = 0;
    // The number of frames the writes will bring, told before the first, so that the last AAC
    // packet ends with the audio: a decoder that cuts only the start still gives the exact length.
    virtual MediaError expectFrames(int64_t frames) = 0;
    virtual MediaError setCoverArt(const QByteArray& picture) = 0; // JPEG or PNG; MPEG-4 only
    virtual MediaError setTags(const AudioFileTags& tags) = 0;     // MPEG-4 only
    // Completes the file and embeds tags and cover art; later calls do nothing.
    virtual MediaError finish() = 0;
};

std::unique_ptr<AudioFileReader> makeReader();
std::unique_ptr<AudioFileWriter> makeWriter();

// FFmpeg, TagLib (as built against) and PortAudio with their versions; empty without the module.
QList<std::pair<QString, QString>> libraryVersions();

} // namespace zwirl::media

namespace zwirl {

// The default output as mono float samples, pulled from a render function on PortAudio's thread.
class AudioOutput {
public:
    // Runs on the audio thread: it must not allocate, lock, log or touch Qt.
    using Render = void (*)(void* context, float* samples, unsigned long frames);

    virtual ~AudioOutput() = default;
    virtual bool hasDevice() const = 0;
    // 0 or a PortAudio error code (PaError), as for start().
    virtual int open(double sampleRate, Render render, void* context) = 0;
    virtual int start() = 0;
    // Once it returns no render call is in progress and none follows.
    virtual void stop() = 0;
    // PortAudio's description of an error code.
    virtual const char* errorText(int error) const = 0;
};

namespace media {
std::unique_ptr<AudioOutput> makeOutput();
} // namespace media

} // namespace zwirl

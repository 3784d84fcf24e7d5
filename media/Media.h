// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The audio file reader and writer, the audio output and the libraries' versions. They are
// implemented in the media module, libzwirl-media.so, the only code that touches FFmpeg, TagLib,
// libsndfile and PortAudio. It is loaded at the first call below, so that a program that never
// touches audio loads none of those libraries; without it the factories return null.

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

    // What went wrong in a media call, in terms a caller can act on.
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

// Decodes the first audio stream of any file FFmpeg reads and delivers it as interleaved
// signed 16-bit samples at an output rate and channel count of the caller's choice.
//
// The stream is what the encoder was given: the codec's priming before it (encoder delay,
// skipped samples) and its padding after it are never delivered nor counted. Output frame 0
// is the stream's first real frame, and the output ends after outputLength() frames.
class AudioFileReader {
public:
    virtual ~AudioFileReader() = default;
    // Opens the file and finds the stream's exact length, which takes one pass of decoding:
    // only the decoder knows where the priming and the padding end.
    virtual MediaError open(const QString& path) = 0;
    virtual int fileRate() const = 0;
    virtual int64_t fileLength() const = 0; // in frames at the file's own rate
    // Output at `rate` Hz (1 Hz up to about a MHz, at least a 128th of the file's rate) with
    // `channels` channels; back to output frame 0.
    virtual MediaError setOutput(double rate, int channels) = 0;
    virtual int64_t outputLength() const = 0;
    // Up to `frames` frames into `out`; `frames` becomes the number delivered, 0 at the end.
    virtual MediaError read(int16_t* out, int64_t& frames) = 0;
    // The next frame read is output frame `frame`, exactly the one reading on from the start
    // would have delivered there.
    virtual MediaError seek(int64_t frame) = 0;
};

// Encodes 16-bit samples into one audio stream and writes it into a new file. MPEG-4 audio is
// AAC-LC at 144 kbit/s per channel, its length exact to the frame (the encoder's delay cut by
// the edit list), its index before the audio; its tags and cover art are embedded when the file
// is finished. Destroying one finishes its file.
class AudioFileWriter {
public:
    virtual ~AudioFileWriter() = default;
    // Creates the file at `path`, replacing one that is there.
    virtual MediaError open(const QString& path, const OutputStream& stream) = 0;
    // `frames` samples from each of the stream's channels, one array per channel.
    virtual MediaError write(const int16_t* const* channels, int64_t frames) = 0;
    // The number of frames the writes will bring, told before the first. An MPEG-4 file then
    // begins with as much more silence, cut by its edit list, as makes its last AAC packet end
    // with the audio: a decoder that cuts only the start still gives the exact length.
    virtual MediaError expectFrames(int64_t frames) = 0;
    // A JPEG or PNG picture to embed as the cover art; MPEG-4 files only.
    virtual MediaError setCoverArt(const QByteArray& picture) = 0;
    virtual MediaError setTags(const AudioFileTags& tags) = 0; // MPEG-4 files only
    // Encodes what is still buffered, completes the file and embeds the cover art. Later
    // calls do nothing.
    virtual MediaError finish() = 0;
};

std::unique_ptr<AudioFileReader> makeReader();
std::unique_ptr<AudioFileWriter> makeWriter();

// The audio libraries zwirl runs with and their versions, in the order FFmpeg, TagLib,
// PortAudio: FFmpeg and PortAudio as loaded at run time, TagLib as built against (it tells no
// other). Empty without the module.
QList<std::pair<QString, QString>> libraryVersions();

} // namespace zwirl::media

namespace zwirl {

// The system's default audio output as a stream of mono 32-bit float samples, pulled from a
// render function on PortAudio's audio thread. PortAudio is loaded for the object's life; the
// stream is stopped and closed with it.
class AudioOutput {
public:
    // Writes `frames` samples. Runs on the audio thread: it must not allocate, lock, log or
    // touch Qt.
    using Render = void (*)(void* context, float* samples, unsigned long frames);

    virtual ~AudioOutput() = default;
    // False when there is no audio output at all (no sound server reachable, no device).
    virtual bool hasDevice() const = 0;
    // Opens the stream on the device; 0 or a PortAudio error code (PaError).
    virtual int open(double sampleRate, Render render, void* context) = 0;
    // The stream begins pulling samples; 0 or a PortAudio error code.
    virtual int start() = 0;
    // Synchronous: once it returns no render call is in progress and none follows.
    virtual void stop() = 0;

    // PortAudio's description of an error code.
    static const char* errorText(int error);
};

namespace media {
// Loads PortAudio and looks up the default output device.
std::unique_ptr<AudioOutput> makeOutput();
} // namespace media

} // namespace zwirl

#pragma once

#include "platform/AudioFile.h"
#include "platform/AudioTypes.h"

#include <QString>
#include <memory>

class AudioFileDecoder;
class AudioFileEncoder;

// A converting audio file: for writing, wrapped around an AudioFile and fed 16-bit samples in
// the client format, which it encodes into the file's format; for reading, opened on any file
// FFmpeg decodes and delivering 16-bit samples at the client format's rate and channel count.
class ExtAudioFile {
public:
    ~ExtAudioFile();
    ExtAudioFile(const ExtAudioFile&) = delete;
    ExtAudioFile& operator=(const ExtAudioFile&) = delete;

    // A writer on `file`, which must outlive it. Only writing is offered this way.
    static OSStatus wrapAudioFileID(AudioFileID file, bool forWriting,
                                    std::unique_ptr<ExtAudioFile>& outFile);
    static OSStatus openURL(const QString& path, std::unique_ptr<ExtAudioFile>& outFile);

    // Signed 16-bit linear PCM, interleaved or non-interleaved. A writer takes the file's rate
    // and channel count; a reader converts to any rate above 0 (rate 0: kAudioFileParamError).
    OSStatus setClientDataFormat(const AudioStreamBasicDescription& format);
    OSStatus getFileDataFormat(AudioStreamBasicDescription& format) const;
    // The real length of the stream in file frames: no priming, no tail padding.
    OSStatus getFileLengthFrames(int64_t& frames) const;
    // leadingFrames: the priming frames of the file's first packet (0 for linear PCM).
    OSStatus getConverterPrimeInfo(AudioConverterPrimeInfo& info) const;

    OSStatus write(uint32_t frames, const AudioBufferList& data);
    OSStatus read(uint32_t& frames, AudioBufferList& data);
    // Moves the read position to `frame` file frames after the start of the first packet,
    // priming included: a stream position p is reached with p + leadingFrames, as with the
    // service this stands in for. Reading then delivers the client frames from the first one at
    // or after that file frame on, exactly as reading on from the start would have delivered
    // them; with a client rate above the file's a caller reads past the few frames in between.
    OSStatus seek(int64_t frame);

    // Writers: encodes what is still buffered into the file; later writes fail.
    OSStatus dispose();

private:
    ExtAudioFile();

    std::unique_ptr<AudioFileEncoder> m_encoder;
    std::unique_ptr<AudioFileDecoder> m_decoder;
};

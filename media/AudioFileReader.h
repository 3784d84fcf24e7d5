// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/MediaBackend.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace zwirl::media {

// Decodes the first audio stream of any file FFmpeg reads and delivers it as interleaved
// signed 16-bit samples at an output rate and channel count of the caller's choice.
//
// The stream is what the encoder was given: the codec's priming before it (encoder delay,
// skipped samples) and its padding after it are never delivered nor counted. Output frame 0
// is the stream's first real frame, and the output ends after outputLength() frames.
//
// The decoding is the media module's; without it every call fails with MediaError::Other.
class AudioFileReader {
public:
    AudioFileReader();
    ~AudioFileReader();

    // Opens the file and finds the stream's exact length, which takes one pass of decoding:
    // only the decoder knows where the priming and the padding end.
    MediaError open(const QString& path);
    int fileRate() const { return m_impl ? m_impl->fileRate() : 0; }
    // The stream's length in frames at the file's own rate.
    int64_t fileLength() const { return m_impl ? m_impl->fileLength() : 0; }
    // Output at `rate` Hz (1 Hz up to about a MHz, at least a 128th of the file's rate) with
    // `channels` channels; back to output frame 0.
    MediaError setOutput(double rate, int channels);
    // The stream's length in output frames.
    int64_t outputLength() const { return m_impl ? m_impl->outputLength() : 0; }
    // Up to `frames` frames into `out`; `frames` becomes the number delivered, 0 at the end.
    MediaError read(int16_t* out, int64_t& frames);
    // The next frame read is output frame `frame`, exactly the one reading on from the start
    // would have delivered there.
    MediaError seek(int64_t frame);

private:
    std::unique_ptr<FileReaderBackend> m_impl;
};

} // namespace zwirl::media

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/AudioFileTags.h"
#include "media/MediaBackend.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace zwirl::media {

// Encodes 16-bit samples into one audio stream and writes it into a new file. MPEG-4 audio is
// AAC-LC at 144 kbit/s per channel, its length exact to the frame (the encoder's delay cut by
// the edit list), its index before the audio; its tags and cover art are embedded when the file
// is finished.
//
// The encoding is the media module's; without it every call fails with MediaError::Other.
class AudioFileWriter {
public:
    AudioFileWriter();
    ~AudioFileWriter(); // finishes the file

    // Creates the file at `path`, replacing one that is there.
    MediaError open(const QString& path, const OutputStream& stream);
    // `frames` samples from each of the stream's channels, one array per channel.
    MediaError write(const int16_t* const* channels, int64_t frames);
    // The number of frames the writes will bring, told before the first. An MPEG-4 file then
    // begins with as much more silence, cut by its edit list, as makes its last AAC packet end
    // with the audio: a decoder that cuts only the start still gives the exact length.
    MediaError expectFrames(int64_t frames);
    // A JPEG or PNG picture to embed as the cover art; MPEG-4 files only.
    MediaError setCoverArt(const QByteArray& picture);
    // MPEG-4 files only.
    MediaError setTags(const AudioFileTags& tags);
    // Encodes what is still buffered, completes the file and embeds the cover art. Later
    // calls do nothing.
    MediaError finish();

private:
    std::unique_ptr<FileWriterBackend> m_impl;
};

} // namespace zwirl::media

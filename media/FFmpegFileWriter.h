// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/FFmpegPtr.h"
#include "media/MediaBackend.h"
#include "media/Mpeg4Metadata.h"
#include "media/SoundDesignerFile.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

struct AVStream;

namespace zwirl::media {

// Encodes 16-bit samples into one audio stream and writes it into a new file. MPEG-4 audio is
// AAC-LC at 144 kbit/s per channel, its length exact to the frame (the encoder's delay cut by
// the edit list), its index before the audio; its tags and cover art are embedded when the file
// is finished.
class FFmpegFileWriter : public FileWriterBackend {
public:
    FFmpegFileWriter();
    ~FFmpegFileWriter() override; // finishes the file

    // Creates the file at `path`, replacing one that is there.
    MediaError open(const QString& path, const OutputStream& stream) override;
    // `frames` samples from each of the stream's channels, one array per channel.
    MediaError write(const int16_t* const* channels, int64_t frames) override;
    // The number of frames the writes will bring, told before the first. An MPEG-4 file then
    // begins with as much more silence, cut by its edit list, as makes its last AAC packet end
    // with the audio: a decoder that cuts only the start still gives the exact length.
    MediaError expectFrames(int64_t frames) override;
    // A JPEG or PNG picture to embed as the cover art; MPEG-4 files only.
    MediaError setCoverArt(const QByteArray& picture) override;
    // MPEG-4 files only.
    MediaError setTags(const AudioFileTags& tags) override;
    // Encodes what is still buffered, completes the file and embeds the cover art. Later
    // calls do nothing.
    MediaError finish() override;

private:
    MediaError takesMetadata() const;
    MediaError openMuxer(const OutputStream& stream);
    MediaError encodeBuffered(bool flush);
    MediaError sendFrame(bool last);

    QString m_path;
    bool m_open = false;
    bool m_mpeg4 = false;
    int m_channels = 0;
    FFmpegPtr<AVFormatContext> m_output;
    AVStream* m_stream = nullptr;
    FFmpegPtr<AVCodecContext> m_codec;
    FFmpegPtr<SwrContext> m_converter;
    FFmpegPtr<AVFrame> m_frame;
    FFmpegPtr<AVPacket> m_packet;
    int m_frameSize = 0;
    int64_t m_nextPts = 0;
    int m_lead = 0; // frames of silence in front of the sound, cut by the edit list
    SoundDesignerFile m_sd2;
    QByteArray m_coverArt;
    AudioFileTags m_tags;
};

} // namespace zwirl::media

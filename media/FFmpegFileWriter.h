// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/FFmpegPtr.h"
#include "media/SoundDesignerFile.h"

namespace zwirl::media {

// The writer over FFmpeg (encoding and muxing), with TagLib for the tags and cover art and
// libsndfile for Sound Designer II.
class FFmpegFileWriter : public AudioFileWriter {
public:
    ~FFmpegFileWriter() override;
    MediaError open(const QString& path, const OutputStream& stream) override;
    MediaError write(const int16_t* const* channels, int64_t frames) override;
    MediaError expectFrames(int64_t frames) override;
    MediaError setCoverArt(const QByteArray& picture) override;
    MediaError setTags(const AudioFileTags& tags) override;
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

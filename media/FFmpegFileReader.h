// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/FFmpegPtr.h"
#include "media/Resampler.h"

namespace zwirl::media {

// The reader over FFmpeg: decoding with libavcodec, conversion with libswresample.
class FFmpegFileReader : public AudioFileReader {
public:
    MediaError open(const QString& path) override;
    int fileRate() const override { return m_fileRate; }
    int64_t fileLength() const override { return m_length; }
    MediaError setOutput(double rate, int channels) override;
    int64_t outputLength() const override;
    MediaError read(int16_t* out, int64_t& frames) override;
    MediaError seek(int64_t frame) override;

private:
    MediaError openFile(const QString& path);
    MediaError scanStream();
    MediaError restartAt(int64_t fileFrame);
    MediaError feedDecoder(int64_t* pts);
    MediaError decodeMore();
    MediaError takeFrame();
    MediaError convertPending();
    MediaError resample(const uint8_t** input, int count);
    int64_t fileFrames(int64_t timestamp) const; // from the stream's clock

    FFmpegPtr<AVFormatContext> m_input;
    FFmpegPtr<AVCodecContext> m_codec;
    Resampler m_converter;
    FFmpegPtr<AVAudioFifo> m_fifo;
    FFmpegPtr<AVFrame> m_frame;
    FFmpegPtr<AVPacket> m_packet;
    const AVStream* m_stream = nullptr;
    int m_fileRate = 0;
    int64_t m_length = 0;         // file frames
    int64_t m_origin = 0;         // the stream's first real frame, in file frames of its clock
    int64_t m_firstPacketPts = 0; // where decoding from the start begins, in stream time
    int64_t m_preroll = 0;        // file frames decoded before a seek target, to settle
    int64_t m_packetBudget = 0;   // packets one pass through the file reads at most
    double m_outputRate = 0;
    int m_outputChannels = 0;
    int64_t m_resampleQuantum = 1; // file frames that make a whole number of output frames
    // Decoding state.
    int64_t m_nextIndex = 0;      // file frame of the next decoded sample without a time stamp
    int64_t m_keepFrom = 0;       // decoded file frames before this one only settle the codec
    int64_t m_outputIndex = 0;    // output frame the next converted frame stands for
    int64_t m_keepOutputFrom = 0; // converted frames before this one are dropped
    int64_t m_packetsRead = 0;    // since the pass began
    int64_t m_pendingFrom = 0;    // the part of m_frame still to be converted, in its samples
    int64_t m_pendingTo = 0;
    bool m_demuxerDone = false;
    bool m_decoderDone = false;
};

} // namespace zwirl::media

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/FFmpegPtr.h"
#include "media/MediaBackend.h"
#include "media/Resampler.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace zwirl::media {

// Decodes the first audio stream of any file FFmpeg reads and delivers it as interleaved
// signed 16-bit samples at an output rate and channel count of the caller's choice.
//
// The stream is what the encoder was given: the codec's priming before it (encoder delay,
// skipped samples) and its padding after it are never delivered nor counted. Output frame 0
// is the stream's first real frame, and the output ends after outputLength() frames.
class FFmpegFileReader : public FileReaderBackend {
public:
    // Opens the file and finds the stream's exact length, which takes one pass of decoding:
    // only the decoder knows where the priming and the padding end.
    MediaError open(const QString& path) override;
    int fileRate() const override { return m_fileRate; }
    // The stream's length in frames at the file's own rate.
    int64_t fileLength() const override { return m_length; }
    // Output at `rate` Hz (1 Hz up to about a MHz, at least a 128th of the file's rate) with
    // `channels` channels; back to output frame 0.
    MediaError setOutput(double rate, int channels) override;
    // The stream's length in output frames.
    int64_t outputLength() const override;
    // Up to `frames` frames into `out`; `frames` becomes the number delivered, 0 at the end.
    MediaError read(int16_t* out, int64_t& frames) override;
    // The next frame read is output frame `frame`, exactly the one reading on from the start
    // would have delivered there.
    MediaError seek(int64_t frame) override;

private:
    MediaError scanStream();
    MediaError restartAt(int64_t fileFrame);
    MediaError feedDecoder(int64_t* pts);
    MediaError decodeMore();
    MediaError takeFrame();
    MediaError convertPending();
    MediaError resample(const uint8_t** input, int count);
    MediaError keepConverted(int produced);
    int64_t frameIndex(const AVFrame* frame) const;

    FFmpegPtr<AVFormatContext> m_input;
    FFmpegPtr<AVCodecContext> m_codec;
    Resampler m_converter;
    FFmpegPtr<AVAudioFifo> m_fifo;
    FFmpegPtr<AVFrame> m_frame;
    FFmpegPtr<AVPacket> m_packet;
    int m_streamIndex = -1;
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

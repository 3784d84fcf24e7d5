#pragma once
// One set of owners for FFmpeg's handles, shared by every class of media/. The handles are only
// declared here, so that headers outside media/ never see FFmpeg's own.

#include "media/MediaError.h"

#include <memory>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace zwirl::media {

struct InputFormatDeleter {
    void operator()(AVFormatContext* context) const;
};
// Closes the output file too, when the context opened one.
struct OutputFormatDeleter {
    void operator()(AVFormatContext* context) const;
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const;
};
struct SwrDeleter {
    void operator()(SwrContext* context) const;
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const;
};
struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const;
};

using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

// The kind of an FFmpeg error (a negative AVERROR value); None for 0 and above.
MediaError errorFromAv(int avError);
// Keeps FFmpeg's notes (encoder statistics, probing) off standard error; its errors still show.
void quietenFFmpegLog();

} // namespace zwirl::media

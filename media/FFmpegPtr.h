// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One owner for FFmpeg's handles, shared by every class of media/. The handles are only
// declared here, so that headers outside media/ never see FFmpeg's own.

#include "media/Media.h"

#include <memory>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace zwirl::media {

struct FFmpegDeleter {
    // Closes the input, or the output file that an output context opened.
    void operator()(AVFormatContext* context) const;
    void operator()(AVCodecContext* context) const;
    void operator()(SwrContext* context) const;
    void operator()(AVFrame* frame) const;
    void operator()(AVPacket* packet) const;
    void operator()(AVAudioFifo* fifo) const;
};

template <typename Handle> using FFmpegPtr = std::unique_ptr<Handle, FFmpegDeleter>;

// The kind of an FFmpeg error (a negative AVERROR value); None for 0 and above. A failure is
// logged with the call that returned it and FFmpeg's own text for it.
MediaError errorFromAv(int avError, const char* call);
// Keeps FFmpeg's notes (encoder statistics, probing) off standard error; its errors still show.
void quietenFFmpegLog();

} // namespace zwirl::media

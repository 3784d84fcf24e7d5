// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// FFmpeg for the reader and the writer: owned handles, errors, input and converter set-up.

#include "media/Media.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace zwirl::media {

struct FFmpegDeleter {
    // Closes the input, or the output file that an output context opened.
    void operator()(AVFormatContext* context) const {
        if (context->iformat)
            return avformat_close_input(&context);
        if (context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(SwrContext* context) const { swr_free(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

template <typename Handle> using FFmpegPtr = std::unique_ptr<Handle, FFmpegDeleter>;

// The kind of an AVERROR value, None for 0 and above; a failure is logged with FFmpeg's text.
MediaError errorFromAv(int avError, const char* call);

// Returns that kind from the calling function when the FFmpeg call `function(...)` fails.
#define RETURN_IF_AV_FAILS(function, ...)                                                          \
    do {                                                                                           \
        if (const int avError = function(__VA_ARGS__); avError < 0)                                \
            return errorFromAv(avError, #function);                                                \
    } while (false)

// Opens the regular file at `path` with the demuxers that read no other file or stream.
MediaError openInput(const QString& path, FFmpegPtr<AVFormatContext>& input);

// Sets `converter` up for audio of one form to another, or leaves it null.
MediaError makeConverter(FFmpegPtr<SwrContext>& converter, AVChannelLayout& outLayout,
                         AVSampleFormat outFormat, int outRate, AVChannelLayout& inLayout,
                         AVSampleFormat inFormat, int inRate);

} // namespace zwirl::media

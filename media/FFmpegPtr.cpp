// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/FFmpegPtr.h"

#include <cerrno>
#include <utility>

namespace zwirl::media {

MediaError errorFromAv(int avError, const char* call) {
    using enum MediaError;
    static const std::pair<int, MediaError> kErrors[] = {
        {AVERROR(ENOENT), FileNotFound},
        {AVERROR(ENOTDIR), FileNotFound},
        {AVERROR(EACCES), NoPermission},
        {AVERROR(EPERM), NoPermission},
        {AVERROR(EROFS), NoPermission},
        {AVERROR(EISDIR), NoPermission},
        {AVERROR(ENOSPC), DiskFull},
        {AVERROR(ENOMEM), NoMemory},
        {AVERROR(EINVAL), BadArgument},
        {AVERROR(EIO), IOError},
        {AVERROR_INVALIDDATA, InvalidFile},
        {AVERROR_STREAM_NOT_FOUND, InvalidFile},
        {AVERROR_DECODER_NOT_FOUND, InvalidFile},
        {AVERROR_DEMUXER_NOT_FOUND, InvalidFile},
        {AVERROR_ENCODER_NOT_FOUND, UnsupportedFormat},
        {AVERROR_MUXER_NOT_FOUND, UnsupportedFormat},
        {AVERROR_PATCHWELCOME, UnsupportedFormat}};
    if (avError >= 0)
        return MediaError::None;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(avError, text, sizeof text);
    qCWarning(lcMedia, "%s: %s", call, text);
    for (const auto& [code, error] : kErrors)
        if (code == avError)
            return error;
    return MediaError::Other;
}

MediaError makeConverter(FFmpegPtr<SwrContext>& converter, AVChannelLayout& outLayout,
                         AVSampleFormat outFormat, int outRate, AVChannelLayout& inLayout,
                         AVSampleFormat inFormat, int inRate) {
    SwrContext* made = nullptr;
    const int error = swr_alloc_set_opts2(&made, &outLayout, outFormat, outRate, &inLayout,
                                          inFormat, inRate, 0, nullptr);
    converter.reset(made);
    if (error < 0)
        return errorFromAv(error, "swr_alloc_set_opts2");
    const int initError = swr_init(made);
    if (initError < 0)
        converter.reset();
    return errorFromAv(initError, "swr_init");
}

} // namespace zwirl::media

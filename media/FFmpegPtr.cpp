// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/FFmpegPtr.h"

#include <cerrno>
#include <mutex>
#include <utility>

namespace zwirl::media {

void FFmpegDeleter::operator()(AVFormatContext* context) const {
    if (context->iformat)
        return avformat_close_input(&context);
    if (context->pb)
        avio_closep(&context->pb);
    avformat_free_context(context);
}

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

void quietenFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

} // namespace zwirl::media

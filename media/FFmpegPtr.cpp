// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/FFmpegPtr.h"

#include <QByteArrayList>
#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace zwirl::media {
namespace {

// Every demuxer but those that open further files or streams named inside the file (playlists).
const char* allowedDemuxers() {
    static const QByteArray names = [] {
        const QByteArrayList others = {"concat", "hls", "dash",   "imf",      "sdp",
                                       "rtsp",   "rtp", "image2", "avisynth", "vapoursynth"};
        QByteArrayList list;
        void* state = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&state))
            if (!others.contains(format->name))
                list << format->name;
        return list.join(',');
    }();
    return names.constData();
}

} // namespace

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

MediaError openInput(const QString& path, FFmpegPtr<AVFormatContext>& input) {
    // Only a regular file opens: a FIFO or a device may block the open or never end.
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return errorFromAv(AVERROR(errno), "stat");
    if (!S_ISREG(info.st_mode)) {
        qCWarning(lcMedia) << path << "is not a regular file";
        return MediaError::InvalidFile;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", allowedDemuxers(), 0);
    AVFormatContext* context = nullptr;
    // "file:" keeps a colon in the name from selecting another protocol.
    const QByteArray url = "file:" + QFile::encodeName(path);
    const int error = avformat_open_input(&context, url.constData(), nullptr, &options);
    av_dict_free(&options);
    input.reset(context);
    // A demuxer that is not allowed shows as an invalid argument: the file is not one we read.
    const MediaError kind = errorFromAv(error, "avformat_open_input");
    return error == AVERROR(EINVAL) ? MediaError::InvalidFile : kind;
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

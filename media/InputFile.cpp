// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/InputFile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace zwirl::media {

namespace {

// Demuxers that open further files or network streams named inside the file (playlists, session
// descriptions, image sequences): the reader reads only the file it is given.
constexpr const char* kOtherFileDemuxers[] = {"concat", "hls", "dash",   "imf",      "sdp",
                                              "rtsp",   "rtp", "image2", "avisynth", "vapoursynth"};

// Every demuxer but those, as FFmpeg's comma-separated list.
const char* allowedDemuxers() {
    static const QByteArray names = [] {
        QByteArray list;
        void* state = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&state)) {
            if (std::ranges::any_of(kOtherFileDemuxers, [&](const char* name) {
                    return std::strcmp(name, format->name) == 0;
                }))
                continue;
            list += (list.isEmpty() ? "" : ",") + QByteArray(format->name);
        }
        return list;
    }();
    return names.constData();
}

} // namespace

MediaError openInputFile(const QString& path, FFmpegPtr<AVFormatContext>& input, int64_t& size) {
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return errorFromAv(AVERROR(errno), "stat");
    if (!S_ISREG(info.st_mode)) {
        qCWarning(lcMedia) << path << "is not a regular file";
        return MediaError::InvalidFile;
    }
    size = info.st_size;
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

} // namespace zwirl::media

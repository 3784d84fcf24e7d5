#include "platform/FFmpegStatus.h"

#include <QFileInfo>
#include <cerrno>
#include <mutex>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

OSStatus statusForAvError(int avError) {
    switch (avError) {
    case 0:
        return noErr;
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
        return kAudioFileFileNotFoundError;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
    case AVERROR(EISDIR):
        return kAudioFilePermissionsError;
    case AVERROR(ENOSPC):
        return kAudioFileDiskFullError;
    case AVERROR(ENOMEM):
        return kAudioFileMemFullError;
    case AVERROR(EINVAL):
        return kAudioFileParamError;
    case AVERROR(EIO):
        return kAudioFileIOError;
    case AVERROR_INVALIDDATA:
    case AVERROR_STREAM_NOT_FOUND:
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
        return kAudioFileInvalidFileError;
    case AVERROR_ENCODER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND:
    case AVERROR_PATCHWELCOME:
        return kAudioFileUnsupportedDataFormatError;
    default:
        return kAudioFileUnspecifiedError;
    }
}

void quietenFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

std::string avErrorText(int avError) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(avError, text, sizeof text);
    return text;
}

OSStatus statusForCreatingFile(const QString& path, bool erase) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists() || !folder.isDir())
        return kAudioFileFileNotFoundError;
    if (file.exists()) {
        if (!erase)
            return kAudioFileFileExistsError;
        if (file.isDir() || !file.isWritable())
            return kAudioFilePermissionsError;
    } else if (!folder.isWritable()) {
        return kAudioFilePermissionsError;
    }
    return noErr;
}

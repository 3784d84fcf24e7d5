#include "media/FFmpegPtr.h"

#include <cerrno>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace zwirl::media {

void InputFormatDeleter::operator()(AVFormatContext* context) const {
    avformat_close_input(&context);
}
void OutputFormatDeleter::operator()(AVFormatContext* context) const {
    if (context->pb)
        avio_closep(&context->pb);
    avformat_free_context(context);
}
void CodecDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void SwrDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}
void FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}
void FifoDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}

MediaError errorFromAv(int avError) {
    if (avError >= 0)
        return MediaError::None;
    switch (avError) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
        return MediaError::FileNotFound;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
    case AVERROR(EISDIR):
        return MediaError::NoPermission;
    case AVERROR(ENOSPC):
        return MediaError::DiskFull;
    case AVERROR(ENOMEM):
        return MediaError::NoMemory;
    case AVERROR(EINVAL):
        return MediaError::BadArgument;
    case AVERROR(EIO):
        return MediaError::IOError;
    case AVERROR_INVALIDDATA:
    case AVERROR_STREAM_NOT_FOUND:
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
        return MediaError::InvalidFile;
    case AVERROR_ENCODER_NOT_FOUND:
    case AVERROR_MUXER_NOT_FOUND:
    case AVERROR_PATCHWELCOME:
        return MediaError::UnsupportedFormat;
    default:
        return MediaError::Other;
    }
}

void quietenFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

} // namespace zwirl::media

#pragma once

#include "platform/AudioFile.h"
#include "platform/AudioTypes.h"

#include <memory>

struct AVCodecContext;
struct AVAudioFifo;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// The converting writer behind ExtAudioFile: takes the caller's 16-bit samples in the client
// format, converts them to the file's codec and hands the encoded packets to the AudioFile.
class AudioFileEncoder {
public:
    explicit AudioFileEncoder(AudioFileID file);
    ~AudioFileEncoder();

    // Opens the codec of the file's data format.
    OSStatus open();
    // Signed 16-bit linear PCM, interleaved or one buffer per channel, at the file's rate and
    // channel count.
    OSStatus setClientFormat(const AudioStreamBasicDescription& format);
    OSStatus write(uint32_t frames, const AudioBufferList& data);
    // Encodes what is still buffered (the last, shorter packet) and flushes the codec.
    OSStatus finish();

private:
    OSStatus convertIntoFifo(const AudioBufferList& data, uint32_t first, uint32_t count);
    OSStatus encodeFrames(bool includePartial);
    OSStatus sendFrame(AVFrame* frame);
    OSStatus drainPackets();
    bool isValidClientBufferList(const AudioBufferList& data, uint32_t frames) const;

    struct CodecDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct SwrDeleter {
        void operator()(SwrContext* context) const;
    };
    struct FifoDeleter {
        void operator()(AVAudioFifo* fifo) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };

    AudioFileID m_file;
    std::unique_ptr<AVCodecContext, CodecDeleter> m_codec;
    std::unique_ptr<SwrContext, SwrDeleter> m_converter;
    std::unique_ptr<AVAudioFifo, FifoDeleter> m_fifo;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    AudioStreamBasicDescription m_clientFormat;
    bool m_hasClientFormat = false;
    bool m_finished = false;
    int m_frameSize = 0;
    int64_t m_nextPts = 0;
};

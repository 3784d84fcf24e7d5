#pragma once

#include "platform/AudioTypes.h"

#include <QString>
#include <memory>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// The reading side of ExtAudioFile: any file FFmpeg decodes, delivered as signed 16-bit samples
// in a client format of any rate and channel count.
//
// Positions count file frames of the stream without its priming: frame 0 is the first real
// frame, and the stream ends after lengthFrames(), so the decoder's tail padding is never
// delivered. Seeks decode from at least kPreroll frames before the target, so the first frame
// after a seek is the one that reading on from the start would have delivered there.
class AudioFileDecoder {
public:
    static constexpr int64_t kPreroll = 2048;

    AudioFileDecoder();
    ~AudioFileDecoder();

    OSStatus open(const QString& path);
    const AudioStreamBasicDescription& fileFormat() const { return m_fileFormat; }
    int64_t lengthFrames() const { return m_length; }
    uint32_t primingFrames() const { return m_priming; }
    // Signed 16-bit linear PCM, interleaved or one buffer per channel, any rate above 0.
    OSStatus setClientFormat(const AudioStreamBasicDescription& format);
    // Fills up to `frames` frames; `frames` becomes the number delivered, 0 at the end.
    OSStatus read(uint32_t& frames, AudioBufferList& data);
    // Moves to file frame `frame` of the stream (priming not counted): the next client frame
    // delivered is the first at or after that file frame, ceil(frame x client rate / file rate).
    OSStatus seek(int64_t frame);

private:
    OSStatus findLength();
    OSStatus restartConverter();
    OSStatus decodeMore();
    OSStatus receiveFrames();
    OSStatus convertFrame(const AVFrame* frame);
    OSStatus flushConverter();
    OSStatus pushConverted(uint8_t** samples, int count);
    int64_t frameIndex(const AVFrame* frame) const;
    bool isValidClientBufferList(const AudioBufferList& data, uint32_t frames) const;
    int64_t playbackFrame(int64_t fileFrame) const;
    int64_t firstClientFrameAt(int64_t fileFrame) const;
    int clientSampleFormat() const; // an AVSampleFormat

    struct InputDeleter {
        void operator()(AVFormatContext* context) const;
    };
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

    std::unique_ptr<AVFormatContext, InputDeleter> m_input;
    std::unique_ptr<AVCodecContext, CodecDeleter> m_codec;
    std::unique_ptr<SwrContext, SwrDeleter> m_converter;
    std::unique_ptr<AVAudioFifo, FifoDeleter> m_fifo;
    std::unique_ptr<AVFrame, FrameDeleter> m_frame;
    std::unique_ptr<AVPacket, PacketDeleter> m_packet;
    int m_streamIndex = -1;
    AudioStreamBasicDescription m_fileFormat;
    AudioStreamBasicDescription m_clientFormat;
    bool m_hasClientFormat = false;
    int64_t m_length = 0;          // file frames
    uint32_t m_priming = 0;        // frames before the first real one in the first packet
    int64_t m_firstFramePts = 0;   // the first real frame, in file frames of the stream clock
    int64_t m_resampleQuantum = 1; // file frames that map onto a whole number of client frames
    // Decoding state.
    int64_t m_nextIndex = 0;      // file frame of the next decoded sample without a time stamp
    int64_t m_keepFrom = 0;       // decoded file frames before this one are pre-roll
    int64_t m_keepOutputFrom = 0; // converted client frames before this one are dropped
    bool m_packetPending = false; // m_packet holds a packet not yet taken by the decoder
    int64_t m_outputIndex = 0;    // client frame that the next converted frame stands for
    bool m_demuxerDone = false;
    bool m_decoderDone = false;
};

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct PaStreamCallbackTimeInfo;

// A 32-bit platform status; 0 means success.
using OSStatus = std::int32_t;

// The system's default audio output, driven like an output unit: find the default output,
// create an instance, install a render callback, set the stream format, initialise, start,
// stop, uninitialise and dispose (the destructor). The unit pulls samples from the render
// callback on an audio thread of its own.
//
// Statuses are PortAudio error codes (all between -10000 and -9972, so their low 16 bits
// keep their value) or one of the unit errors below.
class AudioOutputUnit {
public:
    static constexpr OSStatus noErr = 0;
    // The operation is not allowed in the unit's current state (a property set while
    // initialised).
    static constexpr OSStatus kErrCannotDoInCurrentContext = -10863;
    // Start before initialise.
    static constexpr OSStatus kErrUninitialized = -10867;
    // A stream format that the unit cannot play.
    static constexpr OSStatus kErrFormatNotSupported = -10868;
    // Initialise without a render callback.
    static constexpr OSStatus kErrNoConnection = -10876;

    static constexpr std::uint32_t kAudioFormatLinearPCM = 0x6C70636D; // 'lpcm'
    static constexpr std::uint32_t kAudioFormatFlagIsFloat = 1;
    static constexpr std::uint32_t kAudioFormatFlagIsPacked = 8;
    static constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 32;

    struct AudioStreamBasicDescription {
        double mSampleRate = 0;
        std::uint32_t mFormatID = 0;
        std::uint32_t mFormatFlags = 0;
        std::uint32_t mBytesPerPacket = 0;
        std::uint32_t mFramesPerPacket = 0;
        std::uint32_t mBytesPerFrame = 0;
        std::uint32_t mChannelsPerFrame = 0;
        std::uint32_t mBitsPerChannel = 0;
        std::uint32_t mReserved = 0;
    };

    struct AudioBuffer {
        std::uint32_t mNumberChannels = 0;
        std::uint32_t mDataByteSize = 0;
        void* mData = nullptr;
    };

    // One buffer per channel for non-interleaved formats, one buffer for interleaved ones.
    struct AudioBufferList {
        std::uint32_t mNumberBuffers = 0;
        AudioBuffer* mBuffers = nullptr;
    };

    struct AudioTimeStamp {
        // Frames rendered by this unit before this call.
        double mSampleTime = 0;
        // When the first frame of this call reaches the device, in seconds of the stream's
        // clock.
        double mOutputTime = 0;
    };

    using AudioUnitRenderActionFlags = std::uint32_t;

    // Fills `ioData` with `inNumberFrames` frames. Runs on the audio thread: it must not
    // allocate, lock or log.
    using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                          const AudioTimeStamp* inTimeStamp,
                                          std::uint32_t inBusNumber, std::uint32_t inNumberFrames,
                                          AudioBufferList* ioData);

    struct AURenderCallbackStruct {
        AURenderCallback inputProc = nullptr;
        void* inputProcRefCon = nullptr;
    };

    // The default output device as found at one moment. It keeps the audio library loaded
    // until it is turned into a unit or destroyed.
    class Component {
    public:
        Component(Component&& other) noexcept;
        Component& operator=(Component&&) = delete;
        ~Component();

    private:
        friend class AudioOutputUnit;
        explicit Component(int device) : m_device(device) {}
        int m_device;
        bool m_holdsLibrary = true;
    };

    // The current default output, or nothing when there is no audio output at all (no sound
    // server reachable, no device).
    static std::optional<Component> findDefaultOutput();
    // Creates a unit for `component` into `outInstance`.
    static OSStatus instanceNew(Component component, std::unique_ptr<AudioOutputUnit>& outInstance);

    AudioOutputUnit(const AudioOutputUnit&) = delete;
    AudioOutputUnit& operator=(const AudioOutputUnit&) = delete;
    // Disposes of the unit: stops it first if it is running, so that no render call follows.
    ~AudioOutputUnit();

    // Both only while the unit is not initialised.
    OSStatus setRenderCallback(const AURenderCallbackStruct& callback);
    OSStatus setStreamFormat(const AudioStreamBasicDescription& format);

    // Opens the device with the stream format.
    OSStatus initialize();
    // The unit begins pulling buffers from the render callback.
    OSStatus start();
    // Synchronous: once it returns no render call is in progress and none follows.
    OSStatus stop();
    // Closes the device; the unit may be initialised again.
    OSStatus uninitialize();

private:
    explicit AudioOutputUnit(int device);
    // The device's callback: hands the device's buffers to the render callback.
    static int renderThroughCallback(const void* input, void* output, unsigned long frameCount,
                                     const PaStreamCallbackTimeInfo* timeInfo,
                                     unsigned long statusFlags, void* userData);
    void prepareBufferList();

    int m_device;
    void* m_stream = nullptr;
    AURenderCallbackStruct m_callback;
    AudioStreamBasicDescription m_format;
    // Touched only by the audio thread while the stream runs.
    std::vector<AudioBuffer> m_buffers;
    // Frames rendered since the unit was initialised.
    double m_sampleTime = 0;
};

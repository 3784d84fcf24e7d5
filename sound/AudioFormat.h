// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Plain types of the audio file writer and reader, the form of zwirl's sound, its log category.

#include "core/ClickSample.h"
#include "media/Media.h"

#include <QLoggingCategory>
#include <cstdint>
#include <iterator>

namespace zwirl {

inline Q_LOGGING_CATEGORY(lcSound, "zwirl.sound")

    using OSStatus = int32_t;

constexpr double kSampleRate = 44100.0;
constexpr int64_t kFramesPerClick = 2205; // 50 ms

// The pitch in Hz for s = r + g + b: ((s x 100) x 10) + 50, each step rounded to single precision.
inline float clickPitch(float s) {
    // volatile keeps the compiler from fusing or widening the steps.
    volatile float hundredfold = s * 100.0f;
    volatile float thousandfold = hundredfold * 10.0f;
    return thousandfold + 50.0f;
}
// A recorded click's pitch: its components in single precision, added as (r + g) + b.
inline float clickPitch(const ClickSample& sample) {
    return clickPitch((float(sample[0]) + float(sample[1])) + float(sample[2]));
}

// The four bytes of a code, most significant first: fourCharCode("m4af") == 0x6D346166.
constexpr uint32_t fourCharCode(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

constexpr OSStatus noErr = 0;
constexpr OSStatus kAudioFileDiskFullError = -34;
constexpr OSStatus kAudioFileNotOpenError = -38;      // closed, or its open failed
constexpr OSStatus kAudioFileFileNotFoundError = -43; // the file or its folder is missing
constexpr OSStatus kAudioFileParamError = -50;        // a bad argument (a rate of 0)
constexpr OSStatus kAudioFileMemFullError = -108;
constexpr OSStatus kAudioFileUnsupportedFileTypeError = OSStatus(fourCharCode("typ?"));
constexpr OSStatus kAudioFileUnsupportedDataFormatError = OSStatus(fourCharCode("fmt?"));
constexpr OSStatus kAudioFilePermissionsError = OSStatus(fourCharCode("prm?"));
constexpr OSStatus kAudioFileInvalidFileError = OSStatus(fourCharCode("dta?"));
constexpr OSStatus kAudioFileIOError = OSStatus(fourCharCode("ioer"));
constexpr OSStatus kAudioFileUnspecifiedError = OSStatus(fourCharCode("wht?"));

constexpr uint32_t kAudioFileM4AType = fourCharCode("m4af");
constexpr uint32_t kAudioFileAIFCType = fourCharCode("AIFC");
constexpr uint32_t kAudioFileAIFFType = fourCharCode("AIFF");
constexpr uint32_t kAudioFileNextType = fourCharCode("NeXT");
constexpr uint32_t kAudioFileSoundDesigner2Type = fourCharCode("Sd2f");
constexpr uint32_t kAudioFileCAFType = fourCharCode("caff");
constexpr uint32_t kAudioFileWAVEType = fourCharCode("WAVE");

constexpr uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");
constexpr uint32_t kAudioFormatAppleIMA4 = fourCharCode("ima4");
constexpr uint32_t kAudioFormatFlagIsBigEndian = 2;
constexpr uint32_t kAudioFormatFlagIsSignedInteger = 4;
constexpr uint32_t kAudioFormatFlagIsPacked = 8;
constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 32;
constexpr uint32_t kMPEG4Object_AAC_LC = 2;

// The text tags of an '.m4a'; empty ones are left out.
using AudioFileTags = media::AudioFileTags;

struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;
};

// The status of each media::MediaError, in the enum's order.
constexpr OSStatus statusFor(media::MediaError error) {
    constexpr OSStatus kStatuses[] = {noErr,
                                      kAudioFileFileNotFoundError,
                                      kAudioFilePermissionsError,
                                      kAudioFileDiskFullError,
                                      kAudioFileMemFullError,
                                      kAudioFileParamError,
                                      kAudioFileNotOpenError,
                                      kAudioFileInvalidFileError,
                                      kAudioFileUnsupportedDataFormatError,
                                      kAudioFileIOError,
                                      kAudioFileUnspecifiedError};
    static_assert(std::size(kStatuses) == size_t(media::MediaError::Other) + 1);
    return kStatuses[size_t(error)];
}

} // namespace zwirl

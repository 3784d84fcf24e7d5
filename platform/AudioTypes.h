#pragma once

#include <cstdint>
#include <vector>

// The audio file service's plain types, laid out as the audio code expects them: statuses,
// four-character codes, stream descriptions and buffer lists.

using OSStatus = int32_t;
using FourCharCode = uint32_t;
using AudioFileTypeID = uint32_t;
using AudioFilePropertyID = uint32_t;

// The four bytes of a code, most significant first: fourCharCode("m4af") == 0x6D346166.
constexpr FourCharCode fourCharCode(const char (&code)[5]) {
    return (FourCharCode(uint8_t(code[0])) << 24) | (FourCharCode(uint8_t(code[1])) << 16) |
           (FourCharCode(uint8_t(code[2])) << 8) | FourCharCode(uint8_t(code[3]));
}

// Statuses of the audio file service. The same value always means the same thing.
//
//   0       noErr                       success
//   -34     kAudioFileDiskFullError     the disk is full
//   -38     kAudioFileNotOpenError      the file or writer is not open (closed, or its open failed)
//   -43     kAudioFileFileNotFoundError the file or its folder does not exist
//   -48     kAudioFileFileExistsError   the file exists and erasing it was not asked for
//   -50     kAudioFileParamError        a bad argument (null buffer, negative position, rate 0)
//   -108    kAudioFileMemFullError      memory could not be allocated
//   'typ?'  unsupported file type       the type code is not one the service writes
//   'fmt?'  unsupported data format     the data format does not fit the file type or codec
//   'prm?'  permissions error           the file or folder may not be written or read
//   'dta?'  invalid file                the file could not be parsed or holds no audio stream
//   'pty?'  unsupported property        the property is not one this file type holds
//   'prop'  converter property missing  the converter has no such property (priming info)
//   'ioer'  input/output error          reading or writing the file failed
//   'wht?'  unspecified                 any other failure of the underlying libraries
constexpr OSStatus noErr = 0;
constexpr OSStatus kAudioFileDiskFullError = -34;
constexpr OSStatus kAudioFileNotOpenError = -38;
constexpr OSStatus kAudioFileFileNotFoundError = -43;
constexpr OSStatus kAudioFileFileExistsError = -48;
constexpr OSStatus kAudioFileParamError = -50;
constexpr OSStatus kAudioFileMemFullError = -108;
constexpr OSStatus kAudioFileUnsupportedFileTypeError = OSStatus(fourCharCode("typ?"));
constexpr OSStatus kAudioFileUnsupportedDataFormatError = OSStatus(fourCharCode("fmt?"));
constexpr OSStatus kAudioFilePermissionsError = OSStatus(fourCharCode("prm?"));
constexpr OSStatus kAudioFileInvalidFileError = OSStatus(fourCharCode("dta?"));
constexpr OSStatus kAudioFileUnsupportedPropertyError = OSStatus(fourCharCode("pty?"));
constexpr OSStatus kAudioConverterErr_PropertyNotSupported = OSStatus(fourCharCode("prop"));
constexpr OSStatus kAudioFileIOError = OSStatus(fourCharCode("ioer"));
constexpr OSStatus kAudioFileUnspecifiedError = OSStatus(fourCharCode("wht?"));

// File types.
constexpr AudioFileTypeID kAudioFileM4AType = fourCharCode("m4af");
constexpr AudioFileTypeID kAudioFileAIFCType = fourCharCode("AIFC");
constexpr AudioFileTypeID kAudioFileAIFFType = fourCharCode("AIFF");
constexpr AudioFileTypeID kAudioFileNextType = fourCharCode("NeXT");
constexpr AudioFileTypeID kAudioFileSoundDesigner2Type = fourCharCode("Sd2f");
constexpr AudioFileTypeID kAudioFileCAFType = fourCharCode("caff");
constexpr AudioFileTypeID kAudioFileWAVEType = fourCharCode("WAVE");

// Data formats and their flags.
constexpr FourCharCode kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr FourCharCode kAudioFormatMPEG4AAC = fourCharCode("aac ");
constexpr FourCharCode kAudioFormatAppleIMA4 = fourCharCode("ima4");
constexpr uint32_t kAudioFormatFlagIsFloat = 1;
constexpr uint32_t kAudioFormatFlagIsBigEndian = 2;
constexpr uint32_t kAudioFormatFlagIsSignedInteger = 4;
constexpr uint32_t kAudioFormatFlagIsPacked = 8;
constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 32;
constexpr uint32_t kMPEG4Object_AAC_LC = 2;

// Properties.
constexpr AudioFilePropertyID kAudioFilePropertyAlbumArtwork = fourCharCode("aart");

// Flags of file creation.
constexpr uint32_t kAudioFileFlags_EraseFile = 1;

// The form of audio data: 40 bytes, as the service's callers fill it.
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
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// One block of samples; interleaved channels when mNumberChannels is above 1.
struct AudioBuffer {
    uint32_t mNumberChannels = 0;
    uint32_t mDataByteSize = 0;
    void* mData = nullptr;
};

// The blocks handed to a read or a write: one per channel for non-interleaved data.
struct AudioBufferList {
    std::vector<AudioBuffer> mBuffers;
};

// Leading frames: the priming the decoder drops before the first real frame of the stream;
// trailing frames: the padding after the last one.
struct AudioConverterPrimeInfo {
    uint32_t leadingFrames = 0;
    uint32_t trailingFrames = 0;
};

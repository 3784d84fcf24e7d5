#include "sound/EAFWrite.h"

#include "platform/FourCharCode.h"
#include "sound/SoundLog.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

namespace {

// Frames converted to 16 bits per step: a long write never holds a 16-bit copy of itself.
constexpr int64_t kWriteSlice = 65536;

void printFailure(const char* call, OSStatus status) {
    std::fprintf(stderr, "%s FAILED! %d '%-4.4s'\n", call, int(status),
                 fourCharCodeString(uint32_t(status)).c_str());
}

int16_t sixteenBitSample(float& sample) {
    float x = sample;
    if (double(x) > 0.999) {
        x = 0.999f;
        sample = x;
    } else if (x < -1.0f) {
        x = -1.0f;
        sample = x;
    }
    return int16_t(x * 32768.0f);
}

} // namespace

EAFWrite::EAFWrite() = default;

EAFWrite::~EAFWrite() {
    closeFile();
}

void EAFWrite::SetupStreamAndFileFormatForType(uint32_t aftype, float sr, int64_t numChannels,
                                               int64_t wordLength) {
    const int64_t wordBits = (wordLength / 8) * 8;
    const uint32_t bytesPerFrame = uint32_t(wordBits) * uint32_t(numChannels) / 8;
    AudioStreamBasicDescription format;
    format.mSampleRate = double(sr);
    format.mChannelsPerFrame = uint32_t(numChannels);
    const auto linearPcm = [&](uint32_t flags) {
        format.mFormatID = kAudioFormatLinearPCM;
        format.mFormatFlags = flags;
        format.mBytesPerPacket = bytesPerFrame;
        format.mFramesPerPacket = 1;
        format.mBytesPerFrame = bytesPerFrame;
        format.mBitsPerChannel = uint32_t(wordBits);
    };
    constexpr uint32_t bigEndianPacked =
        kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    switch (aftype) {
    case kAudioFileM4AType:
        format.mFormatID = kAudioFormatMPEG4AAC;
        format.mFormatFlags = kMPEG4Object_AAC_LC;
        format.mFramesPerPacket = 1024;
        break;
    case kAudioFileAIFCType:
        format.mFormatID = kAudioFormatAppleIMA4;
        format.mFramesPerPacket = 1;
        break;
    case kAudioFileAIFFType:
    case kAudioFileNextType:
    case kAudioFileSoundDesigner2Type:
    case kAudioFileCAFType:
        linearPcm(bigEndianPacked);
        break;
    case kAudioFileWAVEType:
        linearPcm(kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
        break;
    default:
        mStreamFormat = AudioStreamBasicDescription{};
        return;
    }
    mType = aftype;
    mStreamFormat = format;
}

OSStatus EAFWrite::openFileForWrite(const QUrl& inPath, double sr, int numChannels, int wordLength,
                                    uint32_t type) {
    SetupStreamAndFileFormatForType(type, float(sr), numChannels, wordLength);
    mAudioChannels = mStreamFormat.mChannelsPerFrame;

    mOutputFormat = AudioStreamBasicDescription{};
    mOutputFormat.mSampleRate = sr;
    mOutputFormat.mFormatID = kAudioFormatLinearPCM;
    mOutputFormat.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved;
    mOutputFormat.mBytesPerPacket = 2;
    mOutputFormat.mFramesPerPacket = 1;
    mOutputFormat.mBytesPerFrame = 2;
    mOutputFormat.mChannelsPerFrame = mAudioChannels;
    mOutputFormat.mBitsPerChannel = 16;

    // A writer holds one file: what an earlier open left behind is finished first.
    closeFile();
    OSStatus status = inPath.isLocalFile() || inPath.isRelative()
                          ? AudioFile::createWithURL(inPath.toLocalFile(), mType, mStreamFormat,
                                                     kAudioFileFlags_EraseFile, mAfid)
                          : kAudioFileParamError;
    if (status != noErr) {
        printFailure("AudioFileCreate", status);
        return status;
    }
    status = ExtAudioFile::wrapAudioFileID(mAfid.get(), true, mOutputAudioFile);
    if (status != noErr) {
        printFailure("ExtAudioFileWrapAudioFileID", status);
        return status;
    }
    status = mOutputAudioFile->setClientDataFormat(mOutputFormat);
    if (status != noErr) {
        printFailure("ExtAudioFileSetProperty", status);
        return status;
    }
    return noErr;
}

OSStatus EAFWrite::closeFile() {
    OSStatus status = noErr;
    if (mAfid)
        mAfid->optimize();
    if (mOutputAudioFile) {
        status = mOutputAudioFile->dispose();
        mOutputAudioFile.reset();
    }
    if (mAfid) {
        const OSStatus closed = mAfid->close();
        status = status != noErr ? status : closed;
        mAfid.reset();
    }
    if (status != noErr)
        qCWarning(lcSound) << "the audio file was not finished cleanly, status" << status
                           << fourCharCodeString(uint32_t(status)).c_str();
    std::fflush(nullptr);
    return status;
}

template <typename FillChannel>
OSStatus EAFWrite::writeFrames(int64_t numFrames, FillChannel fillChannel) {
    if (numFrames <= 0 || numFrames > std::numeric_limits<uint32_t>::max())
        return -1;
    const uint32_t channels = mStreamFormat.mChannelsPerFrame;
    const int64_t sliceFrames = std::min(numFrames, kWriteSlice);
    std::vector<std::vector<int16_t>> blocks;
    AudioBufferList list;
    try {
        blocks.assign(channels, std::vector<int16_t>(size_t(sliceFrames)));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (std::vector<int16_t>& block : blocks)
        list.mBuffers.push_back(AudioBuffer{1, uint32_t(block.size() * 2), block.data()});

    for (int64_t first = 0; first < numFrames; first += sliceFrames) {
        const int64_t count = std::min(sliceFrames, numFrames - first);
        for (uint32_t ch = 0; ch < channels; ++ch) {
            fillChannel(ch, first, count, blocks[ch].data());
            list.mBuffers[ch].mDataByteSize = uint32_t(count * 2);
        }
        const OSStatus status = mOutputAudioFile ? mOutputAudioFile->write(uint32_t(count), list)
                                                 : kAudioFileNotOpenError;
        if (status != noErr) {
            printFailure("ExtAudioFileWrite", status);
            return status;
        }
    }
    return noErr;
}

OSStatus EAFWrite::writeShorts(int64_t numFrames, int16_t** arrays) {
    if (!arrays)
        return -1;
    return writeFrames(numFrames, [&](uint32_t ch, int64_t first, int64_t count, int16_t* out) {
        if (arrays[ch])
            std::copy_n(arrays[ch] + first, count, out);
        else
            std::fill_n(out, count, int16_t(0));
    });
}

OSStatus EAFWrite::writeFloats(int64_t numFrames, float** arrays) {
    if (!arrays)
        return -1;
    return writeFrames(numFrames, [&](uint32_t ch, int64_t first, int64_t count, int16_t* out) {
        float* in = arrays[ch];
        if (!in) {
            std::fill_n(out, count, int16_t(0));
            return;
        }
        for (int64_t j = 0; j < count; ++j)
            out[j] = sixteenBitSample(in[first + j]);
    });
}

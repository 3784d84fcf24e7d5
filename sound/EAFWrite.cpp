// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/EAFWrite.h"

#include <algorithm>
#include <cstdio>

namespace zwirl {

namespace {

// Frames converted per step: a long write never holds a 16-bit copy of itself.
constexpr int64_t kWriteSlice = 16384;

// The data format a file type holds and its container.
struct FileType {
    uint32_t code;
    uint32_t formatId;
    uint32_t formatFlags;
    uint32_t framesPerPacket;
    const char* container; // see media::OutputStream
    media::AudioCodec codec = media::AudioCodec::Pcm;
};

constexpr uint32_t kBigEndianPcm =
    kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr uint32_t kLittleEndianPcm = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
// The caller's samples: 16-bit signed, one separate buffer per channel, native byte order.
constexpr uint32_t kClientFlags =
    kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsNonInterleaved;

constexpr FileType kFileTypes[] = {
    {kAudioFileM4AType, kAudioFormatMPEG4AAC, kMPEG4Object_AAC_LC, 1024, "ipod",
     media::AudioCodec::Aac},
    {kAudioFileAIFCType, kAudioFormatAppleIMA4, 0, 1, "aiff", media::AudioCodec::ImaAdpcm},
    {kAudioFileAIFFType, kAudioFormatLinearPCM, kBigEndianPcm, 1, "aiff"},
    {kAudioFileNextType, kAudioFormatLinearPCM, kBigEndianPcm, 1, "au"},
    {kAudioFileSoundDesigner2Type, kAudioFormatLinearPCM, kBigEndianPcm, 1, "sd2"},
    {kAudioFileCAFType, kAudioFormatLinearPCM, kBigEndianPcm, 1, "caf"},
    {kAudioFileWAVEType, kAudioFormatLinearPCM, kLittleEndianPcm, 1, "wav"},
};

const FileType* findFileType(uint32_t code) {
    const auto* row = std::ranges::find(kFileTypes, code, &FileType::code);
    return row == std::end(kFileTypes) ? nullptr : row;
}

// Unprintable bytes show as '.', so that -43 still prints as four characters.
void printFailure(const char* call, OSStatus status) {
    char code[5] = {};
    for (int i = 0; i < 4; ++i) {
        const char c = char((uint32_t(status) >> (24 - 8 * i)) & 0xFF);
        code[i] = c >= 0x20 && c < 0x7F ? c : '.';
    }
    std::fprintf(stderr, "%s FAILED! %d '%-4.4s'\n", call, int(status), code);
}

// Clips the caller's sample in place.
int16_t sixteenBitSample(float& sample) {
    if (double(sample) > 0.999)
        sample = 0.999f;
    else if (sample < -1.0f)
        sample = -1.0f;
    return int16_t(sample * 32768.0f);
}

} // namespace

void EAFWrite::SetupStreamAndFileFormatForType(uint32_t aftype, float sr, int64_t numChannels,
                                               int64_t wordLength) {
    const FileType* type = findFileType(aftype);
    mStreamFormat = AudioStreamBasicDescription{};
    if (!type)
        return;
    mType = aftype;
    mStreamFormat.mSampleRate = double(sr);
    mStreamFormat.mChannelsPerFrame = uint32_t(numChannels);
    mStreamFormat.mFormatID = type->formatId;
    mStreamFormat.mFormatFlags = type->formatFlags;
    mStreamFormat.mFramesPerPacket = type->framesPerPacket;
    if (type->formatId == kAudioFormatLinearPCM) {
        const uint32_t wordBits = uint32_t((wordLength / 8) * 8);
        mStreamFormat.mBitsPerChannel = wordBits;
        mStreamFormat.mBytesPerFrame = wordBits * uint32_t(numChannels) / 8;
        mStreamFormat.mBytesPerPacket = mStreamFormat.mBytesPerFrame;
    }
}

OSStatus EAFWrite::openFileForWrite(const QUrl& inPath, double sr, int numChannels, int wordLength,
                                    uint32_t type) {
    SetupStreamAndFileFormatForType(type, float(sr), numChannels, wordLength);
    mAudioChannels = mStreamFormat.mChannelsPerFrame;
    mOutputFormat = {sr, kAudioFormatLinearPCM, kClientFlags, 2, 1, 2, mAudioChannels, 16, 0};

    closeFile();
    const FileType* row = findFileType(type);
    OSStatus status = kAudioFileUnsupportedFileTypeError;
    if (row && !inPath.isLocalFile() && !inPath.isRelative()) {
        status = kAudioFileParamError;
    } else if (row) {
        const media::OutputStream stream{
            row->container,
            row->codec,
            int(mStreamFormat.mSampleRate),
            int(mAudioChannels),
            int(mStreamFormat.mBitsPerChannel),
            (mStreamFormat.mFormatFlags & kAudioFormatFlagIsBigEndian) != 0};
        auto file = media::makeWriter();
        status =
            statusFor(file ? file->open(inPath.toLocalFile(), stream) : media::MediaError::Other);
        if (status == noErr)
            mAfid = std::move(file);
    }
    if (status != noErr)
        printFailure("AudioFileCreate", status);
    return status;
}

OSStatus EAFWrite::closeFile() {
    const OSStatus status = mAfid ? statusFor(mAfid->finish()) : noErr;
    mAfid.reset();
    std::fflush(nullptr);
    return status;
}

template <typename Sample, typename Convert>
OSStatus EAFWrite::writeFrames(int64_t numFrames, Sample** arrays, Convert convert) {
    if (!arrays || numFrames <= 0)
        return -1;
    const uint32_t channels = mStreamFormat.mChannelsPerFrame;
    const int64_t slice = std::min(numFrames, kWriteSlice);
    m_sixteenBit.resize(size_t(slice) * channels);
    std::vector<const int16_t*> list(channels);
    for (int64_t first = 0; first < numFrames; first += slice) {
        const int64_t count = std::min(slice, numFrames - first);
        for (uint32_t ch = 0; ch < channels; ++ch) {
            int16_t* out = m_sixteenBit.data() + size_t(ch) * size_t(slice);
            for (int64_t j = 0; j < count; ++j)
                out[j] = arrays[ch] ? convert(arrays[ch][first + j]) : int16_t(0);
            list[ch] = out;
        }
        const OSStatus status =
            mAfid ? statusFor(mAfid->write(list.data(), count)) : kAudioFileNotOpenError;
        if (status != noErr) {
            printFailure("ExtAudioFileWrite", status);
            return status;
        }
    }
    return noErr;
}

OSStatus EAFWrite::writeShorts(int64_t numFrames, int16_t** arrays) {
    return writeFrames(numFrames, arrays, [](int16_t sample) { return sample; });
}

OSStatus EAFWrite::writeFloats(int64_t numFrames, float** arrays) {
    return writeFrames(numFrames, arrays, sixteenBitSample);
}

} // namespace zwirl

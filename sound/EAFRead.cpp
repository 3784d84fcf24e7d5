#include "sound/EAFRead.h"

#include "sound/SoundLog.h"

#include <QMutexLocker>
#include <climits>
#include <cmath>
#include <new>

namespace {

constexpr float kSixteenBitScale = 3.0517578125e-05f; // 1 / 32768

} // namespace

EAFRead::EAFRead() = default;

EAFRead::~EAFRead() {
    closeFile();
}

OSStatus EAFRead::openFileForRead(const QUrl& inPath, double sr, int numChannels) {
    mRpos = 0;
    mReadFromAsset = false;
    mFileUrl = inPath;
    // Every position is divided by the rate ratio: a rate of 0 would make it infinite.
    if (sr == 0.0 || std::isnan(sr)) {
        qCWarning(lcSound, "!!! Error: playback sample rate %g cannot be read at, %ld", sr,
                  long(kAudioFileParamError));
        return kAudioFileParamError;
    }
    mExtAFRef.reset();
    OSStatus status = inPath.isLocalFile() || inPath.isRelative()
                          ? ExtAudioFile::openURL(inPath.toLocalFile(), mExtAFRef)
                          : kAudioFileParamError;
    if (status != noErr) {
        qCWarning(lcSound, "!!! Error in ExtAudioFileOpen, %ld", long(status));
        return status;
    }
    AudioStreamBasicDescription fileFormat;
    status = mExtAFRef->getFileDataFormat(fileFormat);
    if (status != noErr) {
        qCWarning(lcSound, "!!! Error in ExtAudioFileGetProperty, %ld", long(status));
        return status;
    }
    mPlaybackSampleRate = sr < 0.0 ? fileFormat.mSampleRate : sr;
    mExtAFRateRatio = mPlaybackSampleRate / fileFormat.mSampleRate;
    mExtAFSampleRate = fileFormat.mSampleRate;

    AudioStreamBasicDescription clientFormat;
    clientFormat.mSampleRate = mPlaybackSampleRate;
    clientFormat.mFormatID = kAudioFormatLinearPCM;
    clientFormat.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    clientFormat.mBytesPerPacket = 2 * uint32_t(numChannels);
    clientFormat.mFramesPerPacket = 1;
    clientFormat.mBytesPerFrame = 2 * uint32_t(numChannels);
    clientFormat.mChannelsPerFrame = uint32_t(numChannels);
    clientFormat.mBitsPerChannel = 16;
    status = numChannels > 0 ? mExtAFRef->setClientDataFormat(clientFormat)
                             : kAudioFileUnsupportedDataFormatError;
    if (status != noErr) {
        qCWarning(lcSound, "!!! Error in ExtAudioFileSetProperty, %d", int(status));
        return status;
    }
    mExtAFNumChannels = numChannels;
    return noErr;
}

OSStatus EAFRead::closeFile() {
    QMutexLocker locker(&mLock);
    mExtAFRef.reset();
    mFileUrl.clear();
    return noErr;
}

OSStatus EAFRead::seekToPercent(double percent) {
    mSeeking = true;
    const int64_t total = fileNumFrames();
    if (!mExtAFRef || std::isnan(percent)) {
        mSeeking = false;
        return mExtAFRef ? kAudioFileParamError : noErr;
    }
    const double wanted = double(total) * (percent * 0.01);
    int64_t target = wanted >= double(INT64_MAX)   ? INT64_MAX
                     : wanted <= double(INT64_MIN) ? INT64_MIN
                                                   : int64_t(wanted);
    if (target > total - 1)
        target = total - 1;
    mRpos = target;
    OSStatus result = noErr;
    {
        QMutexLocker locker(&mLock);
        AudioConverterPrimeInfo primeInfo;
        const OSStatus primed = mExtAFRef->getConverterPrimeInfo(primeInfo);
        const int64_t leading = primed == noErr ? primeInfo.leadingFrames : 0;
        const int64_t fileFrame = int64_t(double(target) / mExtAFRateRatio);
        result = mExtAFRef->seek(fileFrame + leading);
        if (result == noErr)
            result = skipToPlaybackFrame(fileFrame, target);
    }
    mSeeking = false;
    return result;
}

// A file frame stands for several playback frames when the playback rate is the higher one:
// the service lands on the first of them, and the frames up to the target are read past.
OSStatus EAFRead::skipToPlaybackFrame(int64_t fileFrame, int64_t target) {
    const int64_t landed = int64_t(std::ceil(double(fileFrame) * mExtAFRateRatio - 1e-6));
    int64_t skip = target - landed;
    std::vector<int16_t> scratch(size_t(std::max<int64_t>(skip, 0) * mExtAFNumChannels));
    while (skip > 0) {
        uint32_t frames = uint32_t(skip);
        AudioBufferList list;
        list.mBuffers.push_back(
            AudioBuffer{uint32_t(mExtAFNumChannels), uint32_t(scratch.size() * 2), scratch.data()});
        if (const OSStatus status = mExtAFRef->read(frames, list))
            return status;
        if (frames == 0)
            break;
        skip -= frames;
    }
    return noErr;
}

double EAFRead::sampleRate() const {
    return mExtAFRef ? mPlaybackSampleRate : 0.0;
}

double EAFRead::fileSampleRate() const {
    return mExtAFRef ? mExtAFSampleRate : 0.0;
}

int64_t EAFRead::tell() const {
    return mExtAFRef ? mRpos : 0;
}

void EAFRead::seekToStart() {
    seekToPercent(0.0);
}

std::vector<int16_t> EAFRead::copyFrames(int64_t& numFrames, OSStatus& error) {
    error = noErr;
    if (!mExtAFRef) {
        error = kAudioFileNotOpenError;
        numFrames = 0;
        return {};
    }
    const int64_t channels = mExtAFNumChannels;
    // One read hands over at most what a 32-bit byte count holds.
    numFrames = std::clamp<int64_t>(numFrames, 0, INT32_MAX / 2 / std::max<int64_t>(channels, 1));
    double size = double(channels * numFrames);
    size = mExtAFRateRatio < 1.0 ? size / mExtAFRateRatio : mExtAFRateRatio * size;
    std::vector<int16_t> block;
    try {
        block.assign(size_t(std::max(int64_t(size + 0.5), channels * numFrames)), 0);
    } catch (const std::bad_alloc&) {
        qCWarning(lcSound) << "data is nil";
        error = kAudioFileMemFullError;
        return {};
    }
    uint32_t frames = uint32_t(numFrames);
    {
        QMutexLocker locker(&mLock);
        AudioBufferList list;
        list.mBuffers.push_back(
            AudioBuffer{uint32_t(channels), uint32_t(2 * channels * numFrames), block.data()});
        error = mExtAFRef->read(frames, list);
    }
    numFrames = frames;
    mRpos += numFrames;
    return block;
}

template <typename Store>
int32_t EAFRead::readConsecutive(int64_t numFrames, int64_t offset, Store store) {
    if (!mExtAFRef && !mReadFromAsset)
        return -1;
    OSStatus error = noErr;
    const std::vector<int16_t> block = copyFrames(numFrames, error);
    if (block.empty() && error == kAudioFileMemFullError) {
        qCWarning(lcSound) << "data is nil";
        return error;
    }
    const int32_t channels = mExtAFNumChannels;
    for (int32_t i = 0; i < channels; ++i)
        for (int64_t j = 0; j < numFrames; ++j)
            store(i, offset + j, block[size_t(j * channels + i)]);
    return error != noErr ? error : int32_t(numFrames);
}

int32_t EAFRead::readFloatsConsecutive(int64_t numFrames, float** arrays, int64_t offset) {
    return readConsecutive(numFrames, offset, [arrays](int32_t channel, int64_t at, int16_t v) {
        if (arrays && arrays[channel])
            arrays[channel][at] = float(v) * kSixteenBitScale;
    });
}

int32_t EAFRead::readSInt16Consecutive(int64_t numFrames, int16_t** arrays, int64_t offset) {
    return readConsecutive(numFrames, offset, [arrays](int32_t channel, int64_t at, int16_t v) {
        if (arrays && arrays[channel])
            arrays[channel][at] = v;
    });
}

int64_t EAFRead::fileNumFrames() {
    if (!mExtAFRef)
        return 0;
    int64_t fileFrames = 0;
    {
        QMutexLocker locker(&mLock);
        const OSStatus status = mExtAFRef->getFileLengthFrames(fileFrames);
        if (status != noErr) {
            qCWarning(lcSound,
                      "!!! Error in ExtAudioFileGetProperty "
                      "kExtAudioFileProperty_FileLengthFrames, %ld",
                      long(status));
            fileFrames = 0;
        }
    }
    mTotalNumFramesInFile = uint64_t(double(fileFrames) * mExtAFRateRatio + 0.5);
    return int64_t(mTotalNumFramesInFile);
}

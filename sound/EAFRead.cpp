// SPDX-License-Identifier: GPL-3.0-or-later
#include "sound/EAFRead.h"

#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <new>

namespace zwirl {

OSStatus EAFRead::openFileForRead(const QUrl& inPath, double sr, int numChannels) {
    mRpos = 0;
    // Positions are divided by the rate ratio, which a rate of 0 would make infinite.
    if (sr == 0.0 || !std::isfinite(sr)) {
        qCWarning(lcSound, "!!! Error: playback sample rate %g cannot be read at, %ld", sr,
                  long(kAudioFileParamError));
        return kAudioFileParamError;
    }
    QMutexLocker locker(&mLock);
    mExtAFRef.reset();
    auto reader = media::makeReader();
    OSStatus status = !inPath.isLocalFile() && !inPath.isRelative() ? kAudioFileParamError
                      : reader ? statusFor(reader->open(inPath.toLocalFile()))
                               : statusFor(media::MediaError::Other);
    if (status != noErr) {
        qCWarning(lcSound, "!!! Error in ExtAudioFileOpen, %ld", long(status));
        return status;
    }
    mExtAFRef = std::move(reader);
    const double fileRate = mExtAFRef->fileRate();
    mPlaybackSampleRate = sr < 0.0 ? fileRate : sr;
    mExtAFRateRatio = mPlaybackSampleRate / fileRate;
    status = statusFor(mExtAFRef->setOutput(mPlaybackSampleRate, numChannels));
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
    return noErr;
}

OSStatus EAFRead::seekToPercent(double percent) {
    mSeeking = true;
    const int64_t total = fileNumFrames();
    if (!mExtAFRef || std::isnan(percent)) {
        mSeeking = false;
        return mExtAFRef ? kAudioFileParamError : noErr;
    }
    // Truncated toward zero; a percentage far out of range stays within 64 bits.
    const int64_t target =
        std::min(int64_t(std::clamp(double(total) * (percent * 0.01), -9.2e18, 9.2e18)), total - 1);
    mRpos = target;
    const QMutexLocker locker(&mLock);
    const OSStatus result = statusFor(mExtAFRef->seek(target));
    mSeeking = false;
    return result;
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
    // Sized for the rate ratio, at most 8 times: a damaged file's rate may be far off.
    constexpr double kMaxOversize = 8.0;
    const double factor = mExtAFRateRatio < 1.0 ? 1.0 / mExtAFRateRatio : mExtAFRateRatio;
    const double size = double(channels * numFrames) * std::min(factor, kMaxOversize);
    std::vector<int16_t> block;
    try {
        block.assign(size_t(std::max(int64_t(size + 0.5), channels * numFrames)), 0);
    } catch (const std::bad_alloc&) {
        qCWarning(lcSound) << "data is nil";
        error = kAudioFileMemFullError;
        return {};
    }
    const QMutexLocker locker(&mLock);
    error = statusFor(mExtAFRef->read(block.data(), numFrames));
    mRpos += numFrames;
    return block;
}

template <typename Sample, typename Convert>
int32_t EAFRead::readConsecutive(int64_t numFrames, Sample** arrays, int64_t offset,
                                 Convert convert) {
    if (!mExtAFRef)
        return -1;
    OSStatus error = noErr;
    const std::vector<int16_t> block = copyFrames(numFrames, error);
    if (block.empty() && error == kAudioFileMemFullError) {
        qCWarning(lcSound) << "data is nil";
        return error;
    }
    const int32_t channels = mExtAFNumChannels;
    for (int32_t i = 0; arrays && i < channels; ++i)
        for (int64_t j = 0; arrays[i] && j < numFrames; ++j)
            arrays[i][offset + j] = convert(block[size_t(j * channels + i)]);
    return error != noErr ? error : int32_t(numFrames);
}

int32_t EAFRead::readFloatsConsecutive(int64_t numFrames, float** arrays, int64_t offset) {
    // 1 / 32768 as a 32-bit float: -32768 reads as -1.0.
    return readConsecutive(numFrames, arrays, offset,
                           [](int16_t v) { return float(v) * 3.0517578125e-05f; });
}

int32_t EAFRead::readSInt16Consecutive(int64_t numFrames, int16_t** arrays, int64_t offset) {
    return readConsecutive(numFrames, arrays, offset, [](int16_t v) { return v; });
}

int64_t EAFRead::fileNumFrames() {
    const QMutexLocker locker(&mLock);
    if (!mExtAFRef)
        return 0;
    // A rate refused at open may leave any ratio here; the length stays within 64 bits.
    return int64_t(std::min(double(mExtAFRef->fileLength()) * mExtAFRateRatio + 0.5, 9.2e18));
}

} // namespace zwirl

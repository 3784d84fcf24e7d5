// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"
#include "sound/AudioFormat.h"

#include <QRecursiveMutex>
#include <QUrl>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace zwirl {

// Reads any audio file FFmpeg decodes, converted to a playback rate and channel count, in
// consecutive blocks from a position that seeks move by percentage. Positions count playback
// frames without the codec's priming and padding. With no file open queries answer 0, reads -1.
class EAFRead {
public:
    // sr below 0 keeps the file's own rate; 0, NaN and infinities give kAudioFileParamError.
    OSStatus openFileForRead(const QUrl& inPath, double sr, int numChannels);
    OSStatus closeFile();
    bool isSeeking() const { return mSeeking; }
    // percent 0 to 100 of the length; beyond the end lands on the last frame.
    OSStatus seekToPercent(double percent);
    double sampleRate() const { return mExtAFRef ? mPlaybackSampleRate : 0.0; }
    double fileSampleRate() const { return mExtAFRef ? mExtAFRef->fileRate() : 0.0; }
    int64_t tell() const { return mExtAFRef ? mRpos : 0; }
    void seekToStart() { seekToPercent(0.0); }
    // Into each non-null channel array from `offset` on; the frames read or a failure status.
    int32_t readFloatsConsecutive(int64_t numFrames, float** arrays, int64_t offset = 0);
    // The next interleaved 16-bit frames; numFrames becomes the number delivered.
    std::vector<int16_t> copyFrames(int64_t& numFrames, OSStatus& error);
    int32_t readSInt16Consecutive(int64_t numFrames, int16_t** arrays, int64_t offset = 0);
    int64_t fileNumFrames();
    double rateRatio() const { return mExtAFRateRatio; }

private:
    template <typename Sample, typename Convert>
    int32_t readConsecutive(int64_t numFrames, Sample** arrays, int64_t offset, Convert convert);

    std::unique_ptr<media::AudioFileReader> mExtAFRef;
    int32_t mExtAFNumChannels = 0;
    double mExtAFRateRatio = 1.0;
    double mPlaybackSampleRate = 0.0;
    int64_t mRpos = 0;
    std::atomic<bool> mSeeking{false};
    QRecursiveMutex mLock;
};

} // namespace zwirl

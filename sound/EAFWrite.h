// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"
#include "sound/AudioFormat.h"

#include <QByteArray>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <vector>

namespace zwirl {

// Writes 16-bit samples (or floats clipped to 16 bits) into a new audio file of a type given by
// its code ('m4af', 'AIFF', 'AIFC', 'WAVE', 'caff', 'NeXT', 'Sd2f'); failures print one line.
class EAFWrite {
public:
    ~EAFWrite() { closeFile(); }

    // Any other type code leaves the format zero and mType as it was.
    void SetupStreamAndFileFormatForType(uint32_t aftype, float sr, int64_t numChannels,
                                         int64_t wordLength);
    OSStatus openFileForWrite(const QUrl& inPath, double sr, int numChannels, int wordLength,
                              uint32_t type);
    OSStatus closeFile();
    // A null channel writes silence; -1 for no array or no frames.
    OSStatus writeShorts(int64_t numFrames, int16_t** arrays);
    // Values above 0.999 become 0.999 and below -1.0 become -1.0, in the caller's arrays too.
    OSStatus writeFloats(int64_t numFrames, float** arrays);
    // Told before the first write, so that an '.m4a' ends its last AAC packet with the sound
    // and a player cutting only the encoder's delay gets the length.
    OSStatus expectFrames(int64_t numFrames) {
        return mAfid ? statusFor(mAfid->expectFrames(numFrames)) : kAudioFileNotOpenError;
    }
    // JPEG or PNG cover art and text tags, written at the close; '.m4a' only.
    OSStatus setCoverArt(const QByteArray& picture) {
        return mAfid ? statusFor(mAfid->setCoverArt(picture)) : kAudioFileNotOpenError;
    }
    OSStatus setTags(const AudioFileTags& tags) {
        return mAfid ? statusFor(mAfid->setTags(tags)) : kAudioFileNotOpenError;
    }
    media::AudioFileWriter* audioFileId() const { return mAfid.get(); }

    const AudioStreamBasicDescription& streamFormat() const { return mStreamFormat; }
    const AudioStreamBasicDescription& clientFormat() const { return mOutputFormat; }
    uint32_t fileType() const { return mType; }

private:
    template <typename Sample, typename Convert>
    OSStatus writeFrames(int64_t numFrames, Sample** arrays, Convert convert);

    uint32_t mAudioChannels = 0;
    AudioStreamBasicDescription mOutputFormat;
    AudioStreamBasicDescription mStreamFormat;
    uint32_t mType = 0;
    std::unique_ptr<media::AudioFileWriter> mAfid;
    std::vector<int16_t> m_sixteenBit; // one slice per channel, reused from write to write
};

} // namespace zwirl

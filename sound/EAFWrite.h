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

// Writes blocks of 16-bit samples (or floats, clipped to 16 bits) into a new audio file of a
// type given by its code ('m4af', 'AIFF', 'AIFC', 'WAVE', 'caff', 'NeXT', 'Sd2f'). Each failing
// call prints one line to standard error. Destroying a writer closes its file.
class EAFWrite {
public:
    ~EAFWrite() { closeFile(); }

    // Any other type code leaves the format zero and mType as it was.
    void SetupStreamAndFileFormatForType(uint32_t aftype, float sr, int64_t numChannels,
                                         int64_t wordLength);
    // Creates the file, replacing one that is there.
    OSStatus openFileForWrite(const QUrl& inPath, double sr, int numChannels, int wordLength,
                              uint32_t type);
    // A second call does nothing. The status of the finish.
    OSStatus closeFile();
    // A null channel writes silence; -1 for no array or no frames.
    OSStatus writeShorts(int64_t numFrames, int16_t** arrays);
    // Values above 0.999 become 0.999 and below -1.0 become -1.0, in the caller's arrays too.
    OSStatus writeFloats(int64_t numFrames, float** arrays);
    // The frames the writes will bring, told before the first: an '.m4a' then ends its last AAC
    // packet with the sound, so that a player cutting only the encoder's delay gets the length.
    OSStatus expectFrames(int64_t numFrames);
    // JPEG or PNG cover art and text tags, written at the close; '.m4a' only
    // (kAudioFileUnsupportedDataFormatError for the other types).
    OSStatus setCoverArt(const QByteArray& picture);
    OSStatus setTags(const AudioFileTags& tags);
    // The file itself; null when it is not open.
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

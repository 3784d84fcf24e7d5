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

// Writes blocks of samples into a new audio file of a type given by its code ('m4af', 'AIFF',
// 'AIFC', 'WAVE', 'caff', 'NeXT', 'Sd2f'), converting the caller's 16-bit samples (or floats,
// clipped and converted to 16 bits) into the file's own format as it goes. Failures are printed
// to standard error, one line per failing call, with the status in decimal and as a
// four-character code. Destroying a writer closes its file.
class EAFWrite {
public:
    ~EAFWrite() { closeFile(); }

    // Builds the file's data format for a type code; any other code leaves the format zero
    // and mType as it was.
    void SetupStreamAndFileFormatForType(uint32_t aftype, float sr, int64_t numChannels,
                                         int64_t wordLength);
    // Creates the file (replacing one that is there) and the encoder for it.
    OSStatus openFileForWrite(const QUrl& inPath, double sr, int numChannels, int wordLength,
                              uint32_t type);
    // Finishes the file. A second call does nothing. The first failure of the finish, which
    // nothing but a caller that wants to know looks at.
    OSStatus closeFile();
    // numFrames 16-bit samples from each channel's array; a null channel writes silence.
    // -1 for no array or no frames.
    OSStatus writeShorts(int64_t numFrames, int16_t** arrays);
    // As writeShorts from floats in -1.0 ... 1.0: values above 0.999 become 0.999 and values
    // below -1.0 become -1.0, in the caller's arrays too, before the 16-bit conversion.
    OSStatus writeFloats(int64_t numFrames, float** arrays);
    // The number of frames the writes will bring, told after the open and before the first
    // write: an '.m4a' then ends its last AAC packet with the sound, so that a player that cuts
    // only the encoder's delay still gives the exact length.
    OSStatus expectFrames(int64_t numFrames);
    // A JPEG or PNG picture embedded as the file's cover art when it is closed; '.m4a' only
    // (kAudioFileUnsupportedDataFormatError for the other types).
    OSStatus setCoverArt(const QByteArray& picture);
    // Text tags embedded when the file is closed; '.m4a' only, as setCoverArt.
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

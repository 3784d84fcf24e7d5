// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"

#include <sndfile.h>
#include <vector>

namespace zwirl::media {

// A Sound Designer II file of linear PCM, written through libsndfile: FFmpeg cannot write the
// format. Its resource fork lands beside it in "._NAME". Destroying it closes the file.
class SoundDesignerFile {
public:
    // Creates the file at `path`, replacing one that is there; 8, 16, 24 or 32 bits a sample.
    MediaError open(const QString& path, int sampleRate, int channels, int bitsPerSample);
    // `frames` samples from each channel's array.
    MediaError write(const int16_t* const* channels, int64_t frames);
    void close() { m_file.reset(); }
    bool isOpen() const { return bool(m_file); }

private:
    struct Closer {
        void operator()(SNDFILE* file) const { sf_close(file); }
    };
    std::unique_ptr<SNDFILE, Closer> m_file;
    int m_channels = 0;
    std::vector<int16_t> m_interleaved; // reused from write to write
};

} // namespace zwirl::media

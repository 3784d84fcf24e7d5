// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"

namespace zwirl::media {

struct MediaBackend {
    // The version of zwirl the module was built with; one of another build is not used.
    const char* version;
    std::unique_ptr<AudioFileReader> (*makeReader)();
    std::unique_ptr<AudioFileWriter> (*makeWriter)();
    std::unique_ptr<AudioOutput> (*makeOutput)();
    QList<std::pair<QString, QString>> (*libraryVersions)();
};

// For a program with the implementation built in: uses `backend` instead; before the first use.
void useBuiltInMediaModule(const MediaBackend* backend);

// The module's implementations.
std::unique_ptr<AudioFileReader> makeFFmpegReader();
std::unique_ptr<AudioFileWriter> makeFFmpegWriter();

} // namespace zwirl::media

// The module's one exported symbol.
extern "C" const zwirl::media::MediaBackend* zwirl_media_backend();

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"

namespace zwirl::media {

// The media module's table of entry points.
struct MediaBackend {
    // The version of zwirl the module was built with; one of another build is not used.
    const char* version;
    std::unique_ptr<AudioFileReader> (*makeReader)();
    std::unique_ptr<AudioFileWriter> (*makeWriter)();
    std::unique_ptr<AudioOutput> (*makeOutput)();
    const char* (*outputErrorText)(int error);
    QList<std::pair<QString, QString>> (*libraryVersions)();
};

// Uses `backend` instead of loading the module; before the first use only. For a program that
// has the implementation built in.
void useBuiltInMediaModule(const MediaBackend* backend);

} // namespace zwirl::media

// The module's one exported symbol.
extern "C" const zwirl::media::MediaBackend* zwirl_media_backend();

// SPDX-License-Identifier: GPL-3.0-or-later
// The media module's entry point: the table of its implementations over FFmpeg, TagLib,
// libsndfile and PortAudio.
#include "media/FFmpegFileReader.h"
#include "media/FFmpegFileWriter.h"
#include "media/MediaModule.h"
#include "media/PortAudioOutput.h"

#include <portaudio.h>
#include <taglib/taglib.h>

namespace zwirl::media {
namespace {

// FFmpeg and PortAudio as loaded at run time, TagLib as built against (it tells no other).
QList<std::pair<QString, QString>> versions() {
    const PaVersionInfo* portAudio = Pa_GetVersionInfo();
    return {{QStringLiteral("FFmpeg"), QString::fromUtf8(av_version_info())},
            {QStringLiteral("TagLib"), QStringLiteral("%1.%2.%3")
                                           .arg(TAGLIB_MAJOR_VERSION)
                                           .arg(TAGLIB_MINOR_VERSION)
                                           .arg(TAGLIB_PATCH_VERSION)},
            {QStringLiteral("PortAudio"), QStringLiteral("%1.%2.%3")
                                              .arg(portAudio->versionMajor)
                                              .arg(portAudio->versionMinor)
                                              .arg(portAudio->versionSubMinor)}};
}

const MediaBackend kBackend{
    ZWIRL_VERSION,
    []() -> std::unique_ptr<AudioFileReader> { return std::make_unique<FFmpegFileReader>(); },
    []() -> std::unique_ptr<AudioFileWriter> { return std::make_unique<FFmpegFileWriter>(); },
    []() -> std::unique_ptr<AudioOutput> { return std::make_unique<PortAudioOutput>(); },
    &Pa_GetErrorText,
    &versions,
};

} // namespace
} // namespace zwirl::media

extern "C" __attribute__((visibility("default"))) const zwirl::media::MediaBackend*
zwirl_media_backend() {
    return &zwirl::media::kBackend;
}

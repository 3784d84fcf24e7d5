#include "media/LibraryVersions.h"

extern "C" {
#include <libavutil/avutil.h>
}
#include <portaudio.h>
#include <taglib/taglib.h>

namespace zwirl::media {

QList<std::pair<QString, QString>> libraryVersions() {
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

} // namespace zwirl::media

#pragma once

#include "media/MediaError.h"

#include <QByteArray>
#include <QString>

namespace zwirl::media {

// The cover art ("covr") of an MPEG-4 audio file, through TagLib.
class Mp4CoverArt {
public:
    Mp4CoverArt() = delete;
    // Embeds a JPEG or PNG picture into the finished file at `path`, replacing any cover.
    static MediaError embed(const QString& path, const QByteArray& picture);
};

} // namespace zwirl::media

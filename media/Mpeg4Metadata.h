// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"

namespace zwirl::media {

// Embeds the tags and a JPEG or PNG picture as the cover art into the finished MPEG-4 file.
MediaError embedMetadata(const QString& path, const AudioFileTags& tags, const QByteArray& picture);
// Lengthens the finished MPEG-4 file's movie header by `extra` frames; the track stays as it is.
MediaError lengthenMovie(const QString& path, int64_t extra);

} // namespace zwirl::media

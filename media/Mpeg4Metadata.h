// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/Media.h"

namespace zwirl::media {

// Embeds the tags and a JPEG or PNG picture as the cover art into the finished MPEG-4 file.
MediaError embedMetadata(const QString& path, const AudioFileTags& tags, const QByteArray& picture);
// Lengthens the movie header of the finished MPEG-4 file by `extra` frames of its time scale;
// the track's own length and its edit list stay as they are.
MediaError lengthenMovie(const QString& path, int64_t extra);

} // namespace zwirl::media

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "media/FFmpegPtr.h"
#include "media/Media.h"

#include <QString>
#include <cstdint>

namespace zwirl::media {

// Opens the file at `path` for demuxing into `input`: only a regular file (a FIFO or a device
// may block the open or never end, a directory has nothing to read), read through the file
// protocol alone, by any demuxer that reads nothing but the file. `size` becomes the file's
// size in bytes.
MediaError openInputFile(const QString& path, FFmpegPtr<AVFormatContext>& input, int64_t& size);

} // namespace zwirl::media

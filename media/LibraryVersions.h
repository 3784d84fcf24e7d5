// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include <utility>

namespace zwirl::media {

// The audio libraries zwirl runs with and their versions, in the order FFmpeg, TagLib,
// PortAudio: FFmpeg and PortAudio as loaded at run time, TagLib as built against (it tells no
// other). Empty when the media module cannot be loaded.
QList<std::pair<QString, QString>> libraryVersions();

} // namespace zwirl::media

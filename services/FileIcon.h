// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

namespace zwirl {

// Custom icons of files and folders as the file managers of GNOME and its relatives show them:
// the image is stored as a PNG under $XDG_DATA_HOME/zwirl/icons and the file's
// `metadata::custom-icon` attribute (gvfs's metadata store) names it.
class FileIcon {
public:
    FileIcon() = delete;

    // False when the file does not exist, the image is null or cannot be stored, or there is no
    // metadata store (no session bus, no gvfs); never waits for a bus that is not there.
    static bool set(const QString& path, const QImage& image);
    static bool remove(const QString& path);

    static QString iconDirectory();
};

} // namespace zwirl

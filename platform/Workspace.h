#pragma once

#include <QImage>
#include <QString>

class QUrl;

// The desktop's file services: custom icons of files and folders, kept by the file manager's
// metadata store (gvfs) as `metadata::custom-icon`, and opening URLs and folders with the
// user's preferred applications.
class Workspace {
public:
    static Workspace& sharedWorkspace();

    // Gives the file or folder at `path` `image` as its custom icon: the image is stored as a
    // PNG under the user's data folder and the file's metadata names it. A null image removes
    // the custom icon. False when the file does not exist, the PNG cannot be stored, or the
    // metadata store is not available (no session bus, no gvfs metadata service); never waits
    // for a session bus that is not there.
    bool setIcon(const QImage& image, const QString& path);

    // Opens the URL (or, for a file URL, the file or folder) in the user's preferred
    // application; false when no application could be started.
    bool openURL(const QUrl& url);
    bool openFile(const QString& path);

    // Where the icon images live: $XDG_DATA_HOME/zwirl/icons.
    static QString iconDirectory();

private:
    Workspace() = default;
};

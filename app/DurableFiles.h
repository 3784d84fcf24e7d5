// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Files that survive a crash or a power cut: written whole, synced, and named only when complete.
namespace zwirl::durable {

// Makes the names in the folder at `path` durable (after a file is made or renamed there).
void syncFolder(const QString& path);
// Syncs the complete file at `part` and gives it the name `path`.
bool commit(const QString& part, const QString& path);
// Creates a file for writing, never over a file or link that is there; -1 (with errno) when it
// cannot.
int createNew(const QString& path);
// Renames a file of the folder `folder` (a descriptor, or AT_FDCWD) to a name no other file has.
bool renameFree(int folder, const QByteArray& from, const QByteArray& to);

} // namespace zwirl::durable

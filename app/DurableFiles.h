// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Files that survive a crash or a power cut: written whole, synced, and named only when complete.
namespace zwirl::durable {

// Makes the names in the folder at `path` durable (after a file is made or renamed there).
void syncFolder(const QString& path);
// Syncs the complete file at `part` and gives it the name `path`.
bool commit(const QString& part, const QString& path);

} // namespace zwirl::durable

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace zwirl::media {

// The text tags of an MPEG-4 file; empty ones are left out.
struct AudioFileTags {
    QString title;
    QString artist;
    QString date; // ISO 8601
    QString comment;

    bool isEmpty() const {
        return title.isEmpty() && artist.isEmpty() && date.isEmpty() && comment.isEmpty();
    }
};

} // namespace zwirl::media

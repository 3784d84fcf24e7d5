// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace zwirl::media {

// What went wrong in a media call, in terms a caller can act on; the libraries' own error
// values stay inside media/.
enum class MediaError {
    None,
    FileNotFound,      // the file or its folder does not exist
    NoPermission,      // the file or folder may not be read or written
    DiskFull,          // no space left for the file
    NoMemory,          // memory could not be allocated
    BadArgument,       // a call's argument is out of range (a rate of 0, a null buffer)
    NotOpen,           // the file is not open, or its open failed
    InvalidFile,       // the file holds no audio stream that can be decoded
    UnsupportedFormat, // the container, codec or sample format cannot be written
    IOError,           // reading or writing the file failed
    Other,             // any other failure of the libraries
};

} // namespace zwirl::media

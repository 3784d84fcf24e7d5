#pragma once

#include "platform/AudioTypes.h"

// Turns an FFmpeg error (a negative AVERROR value) into the audio file service's status.
OSStatus statusForAvError(int avError);

#include <string>

// Keeps FFmpeg's own chatter (encoder statistics, probing notes) off standard error; its
// errors still show. Safe to call from any thread, any number of times.
void quietenFFmpegLog();

// FFmpeg's description of an error, for the log.
std::string avErrorText(int avError);

// The status for a file that is about to be created at `path`: the folder missing, not
// writable, or the file existing without `erase`; noErr when creating it may go ahead.
class QString;
OSStatus statusForCreatingFile(const QString& path, bool erase);

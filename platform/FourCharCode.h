#pragma once

#include "platform/AudioTypes.h"

#include <string>

// A status or type code as four characters, most significant byte first, the way the audio
// service's messages print them. Bytes that are not printable ASCII show as '.', so that a
// negative status such as -43 still prints as four plain characters.
std::string fourCharCodeString(uint32_t code);

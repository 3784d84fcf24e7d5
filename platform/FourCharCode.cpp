#include "platform/FourCharCode.h"

std::string fourCharCodeString(uint32_t code) {
    std::string text(4, '.');
    for (int i = 0; i < 4; ++i) {
        const unsigned char byte = (code >> (24 - 8 * i)) & 0xFF;
        if (byte >= 0x20 && byte < 0x7F)
            text[i] = char(byte);
    }
    return text;
}

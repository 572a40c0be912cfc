#include "util/Printable.h"

std::string Printable(const std::string& Text)
{
    static const char digits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(Text.size());
    for (const char c : Text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 32 && c != '\t') || byte == 127) {
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

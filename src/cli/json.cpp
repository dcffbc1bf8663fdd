// JSON strings and numbers for tarnwick-cli.
#include "cli/json.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at bytes[at], or 0 when there is none (overlong
// forms, surrogates and values beyond U+10FFFF are not valid).
size_t Utf8Length(std::string_view bytes, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > bytes.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string JsonString(std::string_view bytes) {
    std::string text = "\"";
    for (size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        char escape[8];
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += static_cast<char>(byte);
        } else if (byte == '\n') {
            text += "\\n";
        } else if (byte == '\t') {
            text += "\\t";
        } else if (byte == '\r') {
            text += "\\r";
        } else if (byte < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            text += escape;
        } else if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else if (const size_t length = Utf8Length(bytes, i); length > 0) {
            text.append(bytes.substr(i, length));
            i += length;
            continue;
        } else {
            std::snprintf(escape, sizeof escape, "\\udc%02x", byte);
            text += escape;
        }
        ++i;
    }
    return text + '"';
}

std::string JsonSeconds(std::optional<double> seconds) {
    if (!seconds) {
        return "null";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.6f", *seconds);
    return text;
}

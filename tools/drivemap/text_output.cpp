#include "text_output.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <strings.h>

namespace drivemap {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at the start of `s`, or 0 (overlong forms, surrogates and
// code points past U+10FFFF are not valid). `codePoint` receives its value.
size_t Utf8SequenceLength(std::string_view s, char32_t &codePoint) {
    const auto c = static_cast<unsigned char>(s[0]);
    size_t length;
    char32_t min;
    if (c < 0x80) return codePoint = c, 1;
    if ((c & 0xE0) == 0xC0)
        length = 2, min = 0x80, codePoint = c & 0x1F;
    else if ((c & 0xF0) == 0xE0)
        length = 3, min = 0x800, codePoint = c & 0x0F;
    else if ((c & 0xF8) == 0xF0)
        length = 4, min = 0x10000, codePoint = c & 0x07;
    else
        return 0;
    if (s.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(s[i]))) return 0;
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void AppendEscaped(std::string &out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    out += text;
}

void AppendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

TerminalText LocaleTerminalText() {
    static const TerminalText mode = [] {
        // Asked of the environment's locale and given back at once: the library and the host
        // layer run in the "C" locale, as every program does until it calls setlocale.
        const std::string kept = std::setlocale(LC_CTYPE, nullptr);
        const char *set = std::setlocale(LC_CTYPE, "");
        const bool utf8 = set != nullptr && (strcasecmp(nl_langinfo(CODESET), "UTF-8") == 0 ||
                                             strcasecmp(nl_langinfo(CODESET), "utf8") == 0);
        std::setlocale(LC_CTYPE, kept.c_str());
        return utf8 ? TerminalText::kUtf8 : TerminalText::kSingleByte;
    }();
    return mode;
}

std::string Printable(std::string_view bytes, TerminalText mode, bool keepNewlines) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const auto byte = static_cast<unsigned char>(bytes[0]);
        char32_t codePoint = byte;
        size_t length = 1;
        if (byte >= 0x80 && mode == TerminalText::kUtf8) length = Utf8SequenceLength(bytes, codePoint);
        if (length == 0 || (IsControl(codePoint) && !(keepNewlines && byte == '\n'))) {
            // An invalid byte, or every byte of a control's sequence, written out in hex.
            for (size_t i = 0; i < std::max<size_t>(length, 1); ++i)
                AppendEscaped(out, static_cast<unsigned char>(bytes[i]));
            bytes.remove_prefix(std::max<size_t>(length, 1));
            continue;
        }
        out.append(bytes.substr(0, length));
        bytes.remove_prefix(length);
    }
    return out;
}

std::string Printable(std::string_view bytes) { return Printable(bytes, LocaleTerminalText()); }

std::string Cp1252ToUtf8(std::string_view bytes) {
    // 0x80-0x9F; the undefined bytes map to the C1 code point of the same value.
    static const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte);
    }
    return out;
}

std::string JsonText(const nlohmann::json &value) {
    return value.dump(2, ' ', /*ensure_ascii=*/true, nlohmann::json::error_handler_t::replace);
}

void PrintMessage(std::string_view message) {
    const std::string line = "drivemap: " + Printable(message, LocaleTerminalText(), /*keepNewlines=*/true) + "\n";
    std::fputs(line.c_str(), stderr);
}

}  // namespace drivemap

// Text that drivemap writes: every path and name reaches a terminal only as printable characters,
// and JSON only as valid, pure-ASCII JSON, whatever bytes the disks hold.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace drivemap {

enum class TerminalText {
    kUtf8,       // the terminal decodes UTF-8: valid sequences pass, except those of C1 code points
    kSingleByte  // any other encoding: every byte 0x80-0x9F is a C1 control
};

// What the user's locale (LC_ALL, LC_CTYPE, LANG) says the terminal decodes. Read once.
TerminalText LocaleTerminalText();

// `bytes` with every C0 control, DEL and C1 control written as \xHH, and, for kUtf8, every byte
// that is not part of a valid UTF-8 sequence too; newlines kept when `keepNewlines` is set.
std::string Printable(std::string_view bytes, TerminalText mode, bool keepNewlines = false);
// The same in the locale's mode.
std::string Printable(std::string_view bytes);

// A Windows path or name, which is ANSI code page 1252 text, as UTF-8. The five bytes the code page
// leaves undefined become U+0081, U+008D, U+008F, U+0090 and U+009D, so the decoding is reversible.
std::string Cp1252ToUtf8(std::string_view bytes);

// `value` as JSON text: pure ASCII (anything else as \u escapes, so nothing reaches a terminal
// raw), host bytes that are not UTF-8 replaced by U+FFFD rather than an exception.
std::string JsonText(const nlohmann::json &value);

// Writes a message line to stderr as "drivemap: <message>", made printable (newlines kept).
void PrintMessage(std::string_view message);

}  // namespace drivemap

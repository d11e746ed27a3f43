#include "result_writer.h"

#include "host_machine.h"
#include "text_output.h"

#include <cstdio>
#include <unistd.h>

namespace drivemap {

ResultWriter::ResultWriter(const OutputOptions &options) : options_(options) {
    if (!options_.human && !options_.bytes) options_.human = isatty(STDOUT_FILENO) != 0;
    if (options_.bytes) options_.human = false;
}

std::string ResultWriter::Shown(const std::string &windowsPath) const {
    if (!options_.host) return windowsPath;
    char hostPath[4096];
    if (!HostMachine_ResolvePath(windowsPath.c_str(), hostPath, sizeof hostPath)) return windowsPath;
    return hostPath;
}

void ResultWriter::Result(const std::string &text) {
    if (options_.null) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\0', stdout);
        return;
    }
    const std::string line = Printable(text);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void ResultWriter::ResultFields(std::initializer_list<std::string_view> fields) {
    std::string line;
    for (const std::string_view &field : fields) {
        if (&field != fields.begin()) line += '\t';
        line += options_.null ? std::string(field) : Printable(field);
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc(options_.null ? '\0' : '\n', stdout);
}

void ResultWriter::NoteFields(std::initializer_list<std::string_view> fields) {
    if (options_.null) return;
    ResultFields(fields);
}

void ResultWriter::Note(const std::string &text) {
    if (options_.null) return;
    const std::string line = Printable(text, LocaleTerminalText(), /*keepNewlines=*/true);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::string HumanSize(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes);
    static const char kUnits[] = "KMGTPE";
    double value = static_cast<double>(bytes);
    int unit = -1;
    do {
        value /= 1024;
        ++unit;
    } while (value >= 1024 && kUnits[unit + 1] != '\0');
    char text[32];
    // du rounds up, so that a size is never shown smaller than it is.
    if (value < 10)
        std::snprintf(text, sizeof text, "%.1f%c", static_cast<double>(static_cast<uint64_t>(value * 10 + 0.999)) / 10,
                      kUnits[unit]);
    else
        std::snprintf(text, sizeof text, "%llu%c", static_cast<unsigned long long>(value + 0.999), kUnits[unit]);
    return text;
}

std::string ResultWriter::Size(uint64_t bytes) const {
    return options_.human ? HumanSize(bytes) : std::to_string(bytes);
}

void ResultWriter::AddPath(nlohmann::json &object, const std::string &windowsPath, const std::string &key) const {
    object[key] = Cp1252ToUtf8(windowsPath);
    if (!options_.host) return;
    std::string hostKey = key;
    hostKey[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(hostKey[0])));
    object["host" + hostKey] = Shown(windowsPath);
}

nlohmann::json ResultWriter::PathObject(const std::string &windowsPath) const {
    nlohmann::json object = nlohmann::json::object();
    AddPath(object, windowsPath);
    return object;
}

void ResultWriter::PrintJson(const nlohmann::json &document) {
    const std::string text = JsonText(document);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

}  // namespace drivemap

// How drivemap writes a command's results: one result a line (or NUL-terminated with -0, for
// xargs -0), paths as Windows paths of the machine or, with --host, as the host paths they stand
// for, sizes human-readable or in bytes, or one JSON document.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace drivemap {

struct OutputOptions {
    bool json = false;
    bool null = false;   // -0/--null: results NUL-terminated, written as the bytes they are
    bool host = false;   // --host: paths as host paths
    bool human = false;  // -h: sizes such as 1.5K, 20M
    bool bytes = false;  // --bytes: sizes in bytes (the default when stdout is not a terminal)
};

class ResultWriter {
public:
    explicit ResultWriter(const OutputOptions &options);

    bool Json() const { return options_.json; }

    // A Windows path as the user asked to see it: as it stands, or with --host the host path it
    // resolves to (the Windows path when it resolves to none). Not yet made printable.
    std::string Shown(const std::string &windowsPath) const;

    // Writes one result line: printable (or raw with -0), then a newline (or a NUL with -0).
    void Result(const std::string &text);
    // Writes one result line of fields separated by tabs ("size<TAB>path"), each field printable (or
    // raw with -0).
    void ResultFields(std::initializer_list<std::string_view> fields);
    // Result(Shown(windowsPath)).
    void PathResult(const std::string &windowsPath) { Result(Shown(windowsPath)); }
    // Text that is not a result (a heading, a total): to stdout, printable; nothing with -0.
    void Note(const std::string &text);
    // A note of fields separated by tabs, each printable.
    void NoteFields(std::initializer_list<std::string_view> fields);

    // A size as the user asked: "1.5K", "20M" (powers of 1024, as du -h) or the bytes.
    std::string Size(uint64_t bytes) const;

    // Sets object[key] to the Windows path (code page 1252 decoded) and, with --host, the host
    // path under "host" + Key ("path" -> "hostPath").
    void AddPath(nlohmann::json &object, const std::string &windowsPath, const std::string &key = "path") const;
    // A JSON array element for a path: {"path": ...} (and "hostPath").
    nlohmann::json PathObject(const std::string &windowsPath) const;

    // Writes the command's JSON document.
    void PrintJson(const nlohmann::json &document);

private:
    OutputOptions options_;
};

// `bytes` as du -h writes it: below 1024 the bytes, else one decimal under 10 and none above,
// with K, M, G, T.
std::string HumanSize(uint64_t bytes);

}  // namespace drivemap

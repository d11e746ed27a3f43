#include "common/mingw_programs.h"

#include "common/exe_builder.h"

#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>

namespace {

const char kHelperSource[] = "__declspec(dllexport) int helper_value(void) { return 42; }\n";
const char kHelperDef[] = "LIBRARY helper.dll\nEXPORTS\nhelper_value\n";
const char kProgramSource[] =
    "__declspec(dllimport) int helper_value(void);\n"
    "int main(void) { return helper_value(); }\n";
const char kUserSource[] =
    "__declspec(dllimport) int helper_value(void);\n"
    "__declspec(dllexport) int user_value(void) { return helper_value() + 1; }\n";

bool WriteText(const std::string &path, const char *text) {
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out << text);
}

// Runs `command` in `dir`; true when it exits 0.
bool Run(const std::string &dir, const std::string &command) {
    return RunCommand("cd '" + dir + "' && " + command + " >/dev/null 2>&1 && echo ok") == "ok\n";
}

// The hexadecimal value after `label` on the line of `text` that begins with it; 0 without one.
unsigned long long HexAfter(const std::string &text, const std::string &label) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(label, 0) == 0) return std::strtoull(line.c_str() + label.size(), nullptr, 16);
    return 0;
}

std::vector<std::string> DllNames(const std::string &objdump) {
    std::vector<std::string> names;
    std::istringstream lines(objdump);
    const std::string label = "DLL Name: ";
    for (std::string line; std::getline(lines, line);)
        if (const size_t at = line.find(label); at != std::string::npos)
            names.push_back(line.substr(at + label.size()));
    return names;
}

// Points data directory 13 at the delay-load descriptor that nm finds in the file.
bool SetDelayDirectory(const std::string &prefix, const std::string &path, const std::string &objdump) {
    const std::string symbols = RunCommand(prefix + "nm '" + path + "' | grep ' __DELAY_IMPORT_DESCRIPTOR_'");
    const unsigned long long address = std::strtoull(symbols.c_str(), nullptr, 16);
    const unsigned long long imageBase = HexAfter(objdump, "ImageBase");
    if (address <= imageBase) return false;
    std::string bytes = ReadHostFile(path);
    if (bytes.size() < 0x40) return false;
    const size_t pe = static_cast<unsigned char>(bytes[0x3C]) | static_cast<unsigned char>(bytes[0x3D]) << 8;
    const bool pe32Plus = bytes.size() > pe + 0x1A && bytes[pe + 0x18] == 0x0B && bytes[pe + 0x19] == 0x02;
    const size_t field = pe + PeDataDirectoryField(pe32Plus, 13);
    if (bytes.size() < field + 8) return false;
    PutLe32(bytes, field, static_cast<uint32_t>(address - imageBase));
    PutLe32(bytes, field + 4, 32);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out << bytes);
}

}  // namespace

std::string MingwToolPrefix(const char *triplet) {
    const std::string prefix = std::string(triplet) + "-";
    for (const char *tool : {"gcc", "dlltool", "nm", "objdump"})
        if (RunCommand("command -v " + prefix + tool).empty()) return "";
    return prefix;
}

std::vector<MingwProgram> BuildMingwPrograms(const std::string &prefix, const std::string &dir, std::string &error) {
    if (!WriteText(dir + "/helper.c", kHelperSource) || !WriteText(dir + "/helper.def", kHelperDef) ||
        !WriteText(dir + "/program.c", kProgramSource) || !WriteText(dir + "/user.c", kUserSource)) {
        error = "cannot write the sources in " + dir;
        return {};
    }
    const std::string gcc = prefix + "gcc -O1 ";
    for (const std::string &command : {gcc + "-shared -o helper.dll helper.c -Wl,--out-implib,libhelper.a",
                                       prefix + "dlltool -d helper.def -y libhelperdelay.a"}) {
        if (!Run(dir, command)) {
            error = "failed: " + command;
            return {};
        }
    }
    std::vector<MingwProgram> programs = {
        {"helper.dll", false, false, {}},    {"console.exe", true, false, {}},      {"gui.exe", false, false, {}},
        {"user.dll", false, false, {}},      {"console-delay.exe", true, true, {}}, {"gui-delay.exe", false, true, {}},
        {"user-delay.dll", false, true, {}},
    };
    for (MingwProgram &program : programs) {
        const bool dll = program.file.find(".dll") != std::string::npos;
        const std::string command = gcc +
                                    (dll               ? "-shared "
                                     : program.console ? "-mconsole "
                                                       : "-mwindows ") +
                                    "-o " + program.file + (dll ? " user.c" : " program.c") + " -L. " +
                                    (program.delayLoad ? "-lhelperdelay" : "-lhelper");
        if (program.file != "helper.dll" && !Run(dir, command)) {
            error = "failed: " + command;
            return {};
        }
        const std::string path = dir + "/" + program.file;
        const std::string objdump = RunCommand(prefix + "objdump -p '" + path + "'");
        program.dlls = DllNames(objdump);
        program.console = HexAfter(objdump, "Subsystem") == 3;
        if (program.delayLoad && !SetDelayDirectory(prefix, path, objdump)) {
            error = "no delay-load descriptor in " + path;
            return {};
        }
    }
    return programs;
}

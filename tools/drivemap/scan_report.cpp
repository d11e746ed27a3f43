#include "scan_report.h"

#include "host_machine.h"
#include "text_output.h"

#include <new>

namespace drivemap {
namespace {

struct KindText {
    const char *jsonName;
    const char *text;
};

constexpr KindText kKinds[kReportedKinds] = {
    {"generatedNames", "names Windows cannot hold, shown under generated names"},
    {"caseTwins", "left out: names that differ from another entry of their directory only in case"},
    {"namesTooLong", "left out: names longer than 259 bytes"},
    {"otherFileSystems", "left out: directories on another file system than their drive"},
    {"unreadableDirectories", "directories that could not be read, mapped as empty"},
    {"dotDirectories", "directories passed over because their names begin with a dot"},
    {"pathsTooLong", "passed over: entries whose full path would pass 299 characters"},
    {"files4GiB", "files of 4 GiB or more, their sizes kept modulo 4 GiB"},
    {"unscannedExecutables",
     "files with an executable's extension not held as scanned NE or PE executables (DOS programs, "
     "damaged or unreadable files)"},
};

size_t Index(Reported kind) { return static_cast<size_t>(kind); }

void Observe(void *context, unsigned reason, const char *directory, const char *hostName, const char *shownAs) {
    static constexpr Reported kByReason[] = {
        Reported::kGeneratedName, Reported::kCaseTwin,     Reported::kNameTooLong, Reported::kOtherFileSystem,
        Reported::kUnreadable,    Reported::kDotDirectory, Reported::kPathTooLong, Reported::kFile4GiB,
    };
    static_assert(HOST_LISTING_GENERATED_NAME == 1 && HOST_LISTING_FILE_4GIB == 8, "reasons 1 to 8");
    if (reason < 1 || reason > std::size(kByReason)) return;
    auto *report = static_cast<ScanReport *>(context);
    report->Add(kByReason[reason - 1], {directory != nullptr ? directory : "", hostName != nullptr ? hostName : "",
                                        reason == HOST_LISTING_GENERATED_NAME && shownAs != nullptr ? shownAs : ""});
}

// `name` in the Windows directory `directory`.
std::string Join(const std::string &directory, const std::string &name) {
    if (name.empty()) return directory;
    return directory + (directory.empty() || directory.back() == '\\' ? "" : "\\") + name;
}

std::string Grouped(uint64_t value) {
    std::string digits = std::to_string(value);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

}  // namespace

void ScanReport::Add(Reported kind, ReportedItem item) {
    counts[Index(kind)]++;
    if (!keepItems || itemsIncomplete) return;
    // Called from inside the library's scan: nothing may be thrown through it.
    try {
        items[Index(kind)].push_back(std::move(item));
    } catch (const std::bad_alloc &) {
        itemsIncomplete = true;
    }
}

ListingObserver::ListingObserver(ScanReport &report) { HostMachine_ObserveListings(Observe, &report); }

ListingObserver::~ListingObserver() { HostMachine_ObserveListings(nullptr, nullptr); }

void CountUnscannedExecutables(GetEntryFunction getEntry, ScanReport &report) {
    const size_t index = Index(Reported::kUnscannedExecutable);
    std::function<void(const std::string &)> keep;
    if (report.keepItems) keep = [&](const std::string &path) { report.items[index].push_back({path, "", ""}); };
    report.counts[index] = ForEachUnscannedExecutable(getEntry, keep);
}

std::string ReportText(const ScanReport &report, bool afterSync) {
    std::string text;
    for (size_t kind = 0; kind < kReportedKinds; ++kind) {
        if (report.counts[kind] == 0) continue;
        std::string what = kKinds[kind].text;
        if (kind == Index(Reported::kUnreadable) && afterSync)
            what += "; the sync dropped what the map held inside them";
        const std::string count = Grouped(report.counts[kind]);
        text += "  " + std::string(count.size() < 8 ? 8 - count.size() : 0, ' ') + count + "  " + what + "\n";
        for (const ReportedItem &item : report.items[kind]) {
            text += "              " + Printable(Join(item.directory, item.hostName));
            if (!item.shownAs.empty()) text += "  shown as  " + Printable(Join(item.directory, item.shownAs));
            text += "\n";
        }
    }
    if (text.empty()) return text;
    if (report.itemsIncomplete) text += "  (memory ran out while listing the items: the lists are incomplete)\n";
    return "Left out or held differently:\n" + text;
}

nlohmann::json ReportJson(const ScanReport &report) {
    nlohmann::json out = nlohmann::json::object();
    for (size_t kind = 0; kind < kReportedKinds; ++kind) {
        nlohmann::json entry = {{"count", report.counts[kind]}};
        if (report.keepItems) {
            nlohmann::json items = nlohmann::json::array();
            for (const ReportedItem &item : report.items[kind]) {
                if (kind == Index(Reported::kUnscannedExecutable) || kind == Index(Reported::kUnreadable)) {
                    items.push_back({{"path", Cp1252ToUtf8(item.directory)}});
                    continue;
                }
                nlohmann::json i = {{"directory", Cp1252ToUtf8(item.directory)}, {"hostName", item.hostName}};
                if (!item.shownAs.empty()) i["shownAs"] = Cp1252ToUtf8(item.shownAs);
                items.push_back(std::move(i));
            }
            entry["items"] = std::move(items);
        }
        out[kKinds[kind].jsonName] = std::move(entry);
    }
    return out;
}

}  // namespace drivemap

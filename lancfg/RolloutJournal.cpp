#include "RolloutJournal.h"

#include "AtomicFile.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>

using nlohmann::json;

namespace {

// A journal of many sites' worth of lines; anything larger is not one.
constexpr std::streamoff MaxJournalSize = 64LL * 1024 * 1024;

} // namespace

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

RolloutJournal::~RolloutJournal() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RolloutJournal::Open(const std::string& path, std::string* error) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        *error = "the journal " + path + " cannot be written: " + std::strerror(errno);
        return false;
    }
    return true;
}

void RolloutJournal::Append(const std::string& line) {
    if (fd_ >= 0)
        AtomicFile::WriteAll(fd_, line + "\n"); // one write: a kill leaves whole lines
}

void RolloutJournal::Started(const std::string& serial, const std::string& previousVersion,
                             unsigned attempt) {
    Append(json{{"time", UtcNow()},
                {"serialNumber", serial},
                {"event", "started"},
                {"previousVersion", previousVersion},
                {"attempt", attempt}}
               .dump(-1, ' ', false, json::error_handler_t::replace));
}

void RolloutJournal::Ended(const RolloutResult& result) {
    json line{{"time", UtcNow()},
              {"serialNumber", result.serial},
              {"event", "ended"},
              {"previousVersion", result.previousVersion},
              {"result", OutcomeWord(result.outcome)}};
    if (!result.version.empty())
        line["version"] = result.version;
    if (!result.reason.empty())
        line["reason"] = result.reason;
    Append(line.dump(-1, ' ', false, json::error_handler_t::replace));
}

bool RolloutJournal::Read(const std::string& path, std::set<std::string>* endedWell,
                          std::set<std::string>* unfinished, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "the journal " + path + " cannot be read";
        return false;
    }
    in.seekg(0, std::ios::end);
    if (in.tellg() > MaxJournalSize) {
        *error = path + " is larger than any journal (64 MiB)";
        return false;
    }
    in.seekg(0);
    std::map<std::string, bool> last; // serial number to: its last line says it ended well
    size_t lines = 0, read = 0;
    for (std::string text; std::getline(in, text);) {
        if (text.empty())
            continue;
        ++lines;
        const json line = json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object() || !line.contains("serialNumber") ||
            !line["serialNumber"].is_string() || !line.contains("event"))
            continue;
        ++read;
        const std::string serial = line["serialNumber"].get<std::string>();
        const std::string result = line.value("result", std::string());
        last[serial] = line["event"] == "ended" &&
                       (result == "updated" || result == "current" || result == "sameVersion");
    }
    if (lines > 0 && read == 0) {
        *error = path + " is not the journal of a firmware rollout";
        return false;
    }
    for (const auto& [serial, well] : last)
        (well ? endedWell : unfinished)->insert(serial);
    return true;
}

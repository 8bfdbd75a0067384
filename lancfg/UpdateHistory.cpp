#include "UpdateHistory.h"

#include "AtomicFile.h"
#include "OSCompat.h"
#include "RolloutJournal.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

using nlohmann::json;

namespace {

constexpr std::streamoff MaxHistorySize = 256LL * 1024 * 1024;

} // namespace

std::string UpdateHistory::DefaultPath(
    const std::function<const char*(const char*)>& environment) {
    const char* state = environment ? environment("XDG_STATE_HOME") : nullptr;
    const char* home = environment ? environment("HOME") : nullptr;
    std::string base;
    if (state && state[0] == '/')
        base = state;
    else if (home && home[0] == '/')
        base = std::string(home) + "/.local/state";
    else
        base = OSCompat::HomeDirectory() + "/.local/state";
    return base + "/velantrix-konfigurator/history.jsonl";
}

bool UpdateHistory::Append(const std::vector<RolloutResult>& results, const std::string& file,
                           std::string* error) const {
    const std::string folder = path_.substr(0, path_.rfind('/'));
    OSCompat::MakeDirectory(folder);
    ::chmod(folder.c_str(), 0700);
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                          0600);
    if (fd < 0) {
        *error = "the update history " + path_ + " cannot be written: " + std::strerror(errno);
        return false;
    }
    const std::string time = UtcNow();
    std::string lines;
    for (const RolloutResult& r : results) {
        json line{{"time", time},
                  {"serialNumber", r.serial},
                  {"previousVersion", r.previousVersion},
                  {"result", OutcomeWord(r.outcome)},
                  {"attempts", r.attempts},
                  {"durationS", std::round(r.durationS * 10) / 10},
                  {"file", file}};
        if (!r.version.empty())
            line["version"] = r.version;
        if (!r.reason.empty())
            line["reason"] = r.reason;
        lines += line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    }
    const bool ok = AtomicFile::WriteAll(fd, lines);
    if (!ok)
        *error = "the update history " + path_ + " cannot be written: " + std::strerror(errno);
    ::close(fd);
    return ok;
}

bool UpdateHistory::Read(const std::string& serial, std::vector<HistoryEntry>* entries,
                         std::string* error) const {
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        return true; // no run yet
    in.seekg(0, std::ios::end);
    if (in.tellg() > MaxHistorySize) {
        *error = "the update history " + path_ + " is larger than 256 MiB";
        return false;
    }
    in.seekg(0);
    for (std::string text; std::getline(in, text);) {
        const json line = json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.is_object())
            continue;
        HistoryEntry e;
        auto text_ = [&](const char* name) {
            const auto it = line.find(name);
            return it != line.end() && it->is_string() ? it->get<std::string>() : std::string();
        };
        e.serialNumber = text_("serialNumber");
        if (e.serialNumber.empty() || (!serial.empty() && e.serialNumber != serial))
            continue;
        e.time = text_("time");
        e.previousVersion = text_("previousVersion");
        e.version = text_("version");
        e.result = text_("result");
        e.reason = text_("reason");
        e.file = text_("file");
        if (line.contains("attempts") && line["attempts"].is_number_unsigned())
            e.attempts = line["attempts"].get<unsigned>();
        if (line.contains("durationS") && line["durationS"].is_number())
            e.durationS = line["durationS"].get<double>();
        entries->push_back(e);
    }
    return true;
}

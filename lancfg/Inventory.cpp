#include "Inventory.h"

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "Command.h"
#include "ConsoleTexts.h"
#include "InventoryFile.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "OSCompat.h"
#include "UpdateHistory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_map>

namespace {

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The folder is the user's alone: made 0700, and put back to 0700 when found otherwise.
void PrepareFolder(const std::string& folder) {
    const size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0)
        OSCompat::MakeDirectory(folder.substr(0, slash));
    ::mkdir(folder.c_str(), 0700);
    ::chmod(folder.c_str(), 0700);
}

// An exclusive lock on a file beside the inventory, held while it lives. The inventory itself
// cannot carry the lock: it is replaced by a rename, and a lock on the old file locks nothing.
class InventoryLock {
public:
    explicit InventoryLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~InventoryLock() {
        if (fd_ >= 0)
            ::close(fd_); // closing the descriptor releases the lock
    }
    InventoryLock(const InventoryLock&) = delete;
    InventoryLock& operator=(const InventoryLock&) = delete;

    bool Held() const { return fd_ >= 0; }
    int Error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// A free name for a damaged file: inventory.json.damaged-20260105T100000Z, with a number after
// it when that name is taken.
std::string SetAsideName(const std::string& path) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string base = path + ".damaged-" + stamp;
    std::string name = base;
    struct stat info {};
    for (int n = 1; ::lstat(name.c_str(), &info) == 0 && n < 1000; ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

} // namespace

std::string Inventory::DefaultPath(const KeySource::Environment& environment) {
    // Beside the update history, in the user's state folder.
    const std::string history = UpdateHistory::DefaultPath(environment);
    return history.substr(0, history.rfind('/')) + "/inventory.json";
}

std::vector<InventoryEntry> Inventory::Seen(const std::vector<LanInterface>& devices,
                                            int64_t now) {
    std::vector<InventoryEntry> seen;
    seen.reserve(devices.size());
    for (const LanInterface& d : devices) {
        InventoryEntry e;
        e.serialNumber = lanproto::PrintableText(d.serialNumber);
        e.address = d.address;
        e.network = d.network;
        e.version = d.version;
        e.state = StateWord(d.state);
        e.firstSeen = e.lastSeen = now;
        seen.push_back(std::move(e));
    }
    return seen;
}

std::vector<size_t> Inventory::Match(const std::vector<InventoryEntry>& known,
                                     const std::vector<InventoryEntry>& seen) {
    std::unordered_map<std::string, std::vector<size_t>> bySerial;
    for (size_t k = 0; k < known.size(); ++k)
        bySerial[known[k].serialNumber].push_back(k);
    std::vector<size_t> match(seen.size(), std::string::npos);
    std::vector<bool> taken(known.size(), false);
    for (size_t i = 0; i < seen.size(); ++i) {
        const auto found = bySerial.find(seen[i].serialNumber);
        if (found == bySerial.end())
            continue;
        for (size_t k : found->second)
            if (known[k].address == seen[i].address) {
                match[i] = k;
                taken[k] = true;
                break;
            }
    }
    // An entry whose address did not answer, for a device that answered from another one.
    for (size_t i = 0; i < seen.size(); ++i) {
        const auto found = bySerial.find(seen[i].serialNumber);
        if (match[i] != std::string::npos || found == bySerial.end())
            continue;
        size_t best = std::string::npos;
        for (size_t k : found->second)
            if (!taken[k] && (best == std::string::npos || known[k].lastSeen > known[best].lastSeen))
                best = k;
        if (best != std::string::npos) {
            match[i] = best;
            taken[best] = true;
        }
    }
    return match;
}

Inventory::ReadOutcome Inventory::Read(std::vector<InventoryEntry>* entries,
                                       std::string* why) const {
    BoundedFile file(MaxFileSize, true);
    switch (file.Read(path_)) {
    case BoundedFile::NotFound:
        return ReadOutcome::Missing;
    case BoundedFile::NotRegular:
        *why = "it is not a regular file";
        return ReadOutcome::Damaged;
    case BoundedFile::TooLarge:
        *why = "it is larger than 64 MiB";
        return ReadOutcome::Damaged;
    case BoundedFile::Failed:
        *why = std::strerror(file.Error());
        // A link in its place is set aside like any other stranger; the rename moves the link.
        return file.Error() == ELOOP ? ReadOutcome::Damaged : ReadOutcome::Unreadable;
    case BoundedFile::ReadOk:
        break;
    }
    return InventoryFile::Parse(file.Text(), entries, why) ? ReadOutcome::Read
                                                           : ReadOutcome::Damaged;
}

std::vector<InventoryEntry> Inventory::Load(std::string* notice) const {
    std::vector<InventoryEntry> entries;
    std::string why;
    const ReadOutcome outcome = Read(&entries, &why);
    if (outcome == ReadOutcome::Damaged || outcome == ReadOutcome::Unreadable)
        *notice = TextOf<kInventoryUnread>(path_.c_str(), why.c_str());
    return entries;
}

template <typename Change> bool Inventory::Update(Change change, std::string* notice) const {
    PrepareFolder(Folder(path_));
    const InventoryLock lock(path_);
    if (!lock.Held()) {
        *notice = TextOf<kInventoryNotWritten>(path_.c_str(), std::strerror(lock.Error()));
        return false;
    }
    std::vector<InventoryEntry> entries;
    std::string why;
    switch (Read(&entries, &why)) {
    case ReadOutcome::Unreadable:
        // Left as it is: what cannot be read may still be the user's, and must not be lost.
        *notice = TextOf<kInventoryNotWritten>(path_.c_str(), why.c_str());
        return false;
    case ReadOutcome::Damaged: {
        const std::string aside = SetAsideName(path_);
        if (::rename(path_.c_str(), aside.c_str()) != 0) {
            *notice = TextOf<kInventoryNotWritten>(path_.c_str(), std::strerror(errno));
            return false;
        }
        *notice = TextOf<kInventorySetAside>(path_.c_str(), why.c_str(), aside.c_str());
        break;
    }
    default:
        break;
    }
    if (!change(entries))
        return true; // nothing to write
    if (entries.size() > MaxEntries) {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const InventoryEntry& a, const InventoryEntry& b) {
                             return a.lastSeen > b.lastSeen;
                         });
        entries.resize(MaxEntries);
    }
    std::string error;
    if (AtomicFile::Write(path_, InventoryFile::Text(entries), 0600, &error))
        return true;
    *notice = TextOf<kInventoryNotWritten>(path_.c_str(), error.c_str());
    return false;
}

bool Inventory::Record(const std::vector<InventoryEntry>& seen, std::string* notice) const {
    return Update(
        [&seen](std::vector<InventoryEntry>& entries) {
            const std::vector<size_t> match = Match(entries, seen);
            for (size_t i = 0; i < seen.size(); ++i) {
                if (match[i] == std::string::npos) {
                    entries.push_back(seen[i]);
                    continue;
                }
                InventoryEntry& e = entries[match[i]];
                const int64_t first = std::min(e.firstSeen, seen[i].firstSeen);
                e = seen[i];
                e.firstSeen = first;
            }
            return true;
        },
        notice);
}

bool Inventory::Forget(const std::string& serial, size_t* dropped, std::string* notice) const {
    *dropped = 0;
    return Update(
        [&](std::vector<InventoryEntry>& entries) {
            const size_t before = entries.size();
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [&serial](const InventoryEntry& e) {
                                             return e.serialNumber == serial;
                                         }),
                          entries.end());
            *dropped = before - entries.size();
            return *dropped > 0;
        },
        notice);
}

void RememberDevices(const CommandContext& context, const std::vector<LanInterface>& devices) {
    if (!context.remember || context.inventory.empty() || devices.empty())
        return;
    std::string notice;
    Inventory(context.inventory).Record(Inventory::Seen(devices, std::time(nullptr)), &notice);
    if (!notice.empty())
        SayOn<kWarning>(context.err, notice.c_str());
}

Recalled Recall(const CommandContext& context, const std::vector<LanInterface>& devices) {
    Recalled recalled;
    std::string notice;
    const std::vector<InventoryEntry> known = Inventory(context.inventory).Load(&notice);
    if (!notice.empty())
        SayOn<kWarning>(context.err, notice.c_str());
    recalled.found = Inventory::Seen(devices, std::time(nullptr));
    const std::vector<size_t> match = Inventory::Match(known, recalled.found);
    std::vector<bool> answered(known.size(), false);
    for (size_t i = 0; i < match.size(); ++i) {
        if (match[i] == std::string::npos)
            continue;
        answered[match[i]] = true;
        recalled.found[i].firstSeen = std::min(known[match[i]].firstSeen, recalled.found[i].firstSeen);
    }
    for (size_t k = 0; k < known.size(); ++k)
        if (!answered[k])
            recalled.offline.push_back(known[k]);
    std::sort(recalled.offline.begin(), recalled.offline.end(),
              [](const InventoryEntry& a, const InventoryEntry& b) {
                  return a.serialNumber != b.serialNumber ? a.serialNumber < b.serialNumber
                                                          : a.address < b.address;
              });
    return recalled;
}

std::string WhereSeen(const InventoryEntry& entry) {
    return entry.network.empty() ? entry.address : entry.address + " (" + entry.network + ")";
}

void AddSeenJson(JsonObject& json, const InventoryEntry& entry, bool online) {
    json["online"] = online;
    json["lastSeen"] = IsoTime(entry.lastSeen);
    json["firstSeen"] = IsoTime(entry.firstSeen);
}

JsonObject OfflineJson(const InventoryEntry& entry) {
    JsonObject json{{"serialNumber", entry.serialNumber},
                    {"version", entry.version},
                    {"state", kOffline.format},
                    {"address", JsonAddress(entry.address)},
                    {"network", JsonAddress(entry.network)}};
    AddSeenJson(json, entry, false);
    return json;
}

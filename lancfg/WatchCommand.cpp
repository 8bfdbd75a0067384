#include "WatchCommand.h"

#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "ExchangeLoop.h"
#include "Inventory.h"
#include "JsonLines.h"
#include "LanInterface.h"
#include "LanOperations.h"
#include "LanProtocol.h"
#include "LanSearch.h"
#include "SiteWatch.h"
#include "TerminationWatch.h"

#include <ctime>

namespace {

bool IsSeconds(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long n = std::stoul(text);
    return n >= 1 && n <= WatchCommand::MaxInterval;
}

JsonObject FlagJson(const std::optional<bool>& flag) {
    return flag ? JsonObject(*flag) : JsonObject();
}

// " STAT PLAIN" for a running device, as list prints it; "?" for what its reads did not learn.
std::string FlagWords(const WatchedDevice& d) {
    if (d.seen.state != StateWord(StateRun))
        return std::string();
    return std::string(" ") + (d.dhcp ? (*d.dhcp ? "DHCP" : "STAT") : "?") + " " +
           (d.crypt ? (*d.crypt ? "CRYPT" : "PLAIN") : "?");
}

std::string ChangesText(const std::vector<WatchChange>& changes) {
    std::string text;
    for (const WatchChange& c : changes)
        text += (text.empty() ? "" : ", ") + std::string(c.field) + " " + c.before + " -> " + c.after;
    return text;
}

JsonObject EventJson(const std::string& time, const WatchEvent& e) {
    const InventoryEntry& seen = e.device.seen;
    static const char* const kinds[] = {"appeared", "changed", "gone"};
    JsonObject json{{"time", time}, {"event", kinds[e.kind]}, {"serialNumber", seen.serialNumber}};
    if (e.kind == WatchEvent::Appeared) {
        json["version"] = seen.version;
        json["state"] = seen.state;
        json["dhcp"] = FlagJson(e.device.dhcp);
        json["encryption"] = FlagJson(e.device.crypt);
    }
    json["address"] = JsonAddress(seen.address);
    json["network"] = JsonAddress(seen.network);
    if (e.kind == WatchEvent::Changed) {
        JsonObject changes = JsonObject::object();
        for (const WatchChange& c : e.changes) {
            const bool flag = c.before == "on" || c.before == "off";
            changes[c.field] = flag ? JsonObject{{"from", c.before == "on"}, {"to", c.after == "on"}}
                                    : JsonObject{{"from", c.before}, {"to", c.after}};
        }
        json["changes"] = changes;
    }
    if (e.kind == WatchEvent::Gone)
        json["lastSeen"] = IsoTime(seen.lastSeen);
    return json;
}

// The rounds of one watch on one loop: a search, the reads of the running devices, the lines of
// what changed, then a pause until the next round is due. A termination signal stops the loop
// wherever it is.
class WatchRounds {
public:
    WatchRounds(const CommandLine& line, CommandContext& context)
        : context_(context), scope_(ScopeOf(context)), interval_(std::chrono::seconds(line.interval)) {}

    // Runs until a signal, or until the output cannot be written (false then).
    bool Run() {
        TerminationWatch signals;
        loop_.WatchWake(signals.WakeFd(), [this, &signals] {
            signals.Drain();
            if (signals.Count() > 0)
                loop_.Stop();
        });
        StartRound();
        loop_.Run();
        return !outputLost_;
    }

private:
    void StartRound() {
        started_ = ExchangeLoop::Clock::now();
        SearchLanInterfaces(loop_, scope_, SiteReplies, [this](SearchResult& found) {
            Found(found);
        });
    }

    void Found(SearchResult& found) {
        devices_ = std::move(found.devices);
        RememberDevices(context_, devices_);
        const int64_t now = std::time(nullptr);
        seen_.clear();
        for (const InventoryEntry& entry : Inventory::Seen(devices_, now))
            seen_.push_back({entry, std::nullopt, std::nullopt});
        pending_ = 0;
        for (size_t i = 0; i < devices_.size(); ++i) {
            if (devices_[i].state != StateRun)
                continue;
            context_.keys.GiveTo(devices_[i], seen_[i].seen.serialNumber);
            ++pending_;
            lanops::ReadStatus(loop_, devices_[i], [this, i](LanResult status) {
                // A device silent to its status read would only wait out a second window.
                if (status != ResultOk) {
                    ReadDone();
                    return;
                }
                lanops::ReadConfig(loop_, devices_[i], [this, i](LanResult config) {
                    if (config == ResultOk) {
                        seen_[i].dhcp = devices_[i].dhcp;
                        seen_[i].crypt = devices_[i].crypt;
                    }
                    ReadDone();
                });
            });
        }
        if (pending_ == 0)
            Report();
    }

    void ReadDone() {
        if (--pending_ == 0)
            Report();
    }

    void Report() {
        const std::string time = IsoTime(std::time(nullptr));
        for (const WatchEvent& e : site_.Round(seen_)) {
            const InventoryEntry& seen = e.device.seen;
            if (context_.json)
                context_.out << JsonLine(EventJson(time, e)) << '\n';
            else if (e.kind == WatchEvent::Appeared)
                SayOn<kWatchAppeared>(context_.out, time.c_str(), seen.serialNumber.c_str(),
                                      seen.version.c_str(), seen.state.c_str(),
                                      WhereSeen(seen).c_str(), FlagWords(e.device).c_str());
            else if (e.kind == WatchEvent::Changed)
                SayOn<kWatchChanged>(context_.out, time.c_str(), seen.serialNumber.c_str(),
                                     ChangesText(e.changes).c_str());
            else
                SayOn<kWatchGone>(context_.out, time.c_str(), seen.serialNumber.c_str(),
                                  IsoTime(seen.lastSeen).c_str(), WhereSeen(seen).c_str());
        }
        context_.out.flush();
        // Nobody reads what a watch prints any more (lancfg watch | head): it ends.
        if (!context_.out.good()) {
            outputLost_ = true;
            loop_.Stop();
            return;
        }
        const auto next = started_ + interval_;
        const auto now = ExchangeLoop::Clock::now();
        loop_.After(next > now ? std::chrono::duration_cast<std::chrono::milliseconds>(next - now)
                               : std::chrono::milliseconds(0),
                    [this] { StartRound(); });
    }

    CommandContext& context_;
    const SearchScope scope_;
    const std::chrono::milliseconds interval_;
    SiteWatch site_;
    ExchangeLoop::Clock::time_point started_;
    // This round's records: the reads run on them, so they stay in place until the round ends.
    std::vector<LanInterface> devices_;
    std::vector<WatchedDevice> seen_;
    size_t pending_ = 0;
    bool outputLost_ = false;
    ExchangeLoop loop_; // last: it goes first, before the records its exchanges work on
};

} // namespace

const CommandSyntax& WatchCommand::Syntax() const {
    static const CommandSyntax syntax{
        "watch",
        Positional::None,
        nullptr,
        nullptr,
        {SharedOptions::Address,
         {"--interval", "<seconds>", IsSeconds, "is not a number of seconds from 1 to 86400",
          [](CommandLine& line, const std::string& value) {
              line.interval = static_cast<unsigned>(std::stoul(value));
          },
          "seconds from the start of one search to the start of the next; 10 by default"},
         SharedOptions::Json,
         SharedOptions::Key,
         SharedOptions::NoInventory},
        {{{"[--interval]", "[--json]"},
          "one line per device that appears (+), changes (~) or is gone (-), until Ctrl-C"}}};
    return syntax;
}

int WatchCommand::Execute(const CommandLine& line, CommandContext& context) const {
    // A watch ended by its user has done its work; a lost output is reported by the caller.
    WatchRounds(line, context).Run();
    return ExitOk;
}

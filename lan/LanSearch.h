#pragma once

// Searches for devices: where the request goes (the group on every local network, or a list of
// addresses for devices behind routers) and everything the search found out, so that a program
// can say which networks it could not ask and whether the reply limit cut the list short.

#include "ExchangeLoop.h"
#include "LanInterface.h"

#include <functional>
#include <string>
#include <vector>

// Where a search goes: the group on every local network, or each of these addresses (dotted;
// broadcast addresses allowed). A record found there keeps the address that answered for its
// later requests.
struct SearchScope {
    std::vector<std::string> addresses;
};

struct SearchResult {
    // One record per accepted reply, in arrival order. The same reply from the same address
    // (one device heard by two ports of this host) is one record; one serial number answering
    // from two addresses is two devices.
    std::vector<LanInterface> devices;
    bool sent = false;                // the request went out at least once
    std::vector<std::string> asked;   // "eth0 (192.168.1.10)", or the addresses sent to
    std::vector<std::string> unasked; // the networks ("eth0") or addresses not sent to
    std::string reason;               // the system's text for the first of those
    bool capped = false;              // the reply limit was reached: more may have answered
};

// The search for every device whose type matches the pattern (I to "vK7Lan*"), collecting
// answers for the search window or until maxReplies came.
SearchResult SearchLanInterfaces(const SearchScope& scope, unsigned maxReplies = 1000,
                                 const std::string& pattern = "vK7Lan*");
void SearchLanInterfaces(ExchangeLoop& loop, const SearchScope& scope, unsigned maxReplies,
                         std::function<void(SearchResult&)> done,
                         const std::string& pattern = "vK7Lan*");

// Every device that answers the search for one serial number, not only the first: up to a reply
// window (2 s) for the first answer, then the find window (200 ms) for more. More than one
// record means namesakes (two devices, or a clone) that a program must not pick between by
// chance.
SearchResult FindAllBySerial(const std::string& serial, const SearchScope& scope);
void FindAllBySerial(ExchangeLoop& loop, const std::string& serial, const SearchScope& scope,
                     std::function<void(SearchResult&)> done);

// How the reads of one record ended: ResultOk, ResultKeyError (it wants its key for reads, and
// none was set or the one set was refused) or ResultFailed.
struct DeviceReads {
    bool asked = false; // false for a record that was not to be read
    LanResult status = ResultFailed;
    LanResult config = ResultFailed;
    // Both reads ended well; else the worse of the two, a key error first.
    LanResult Result() const;
};

// Reads the addresses in effect and the stored configuration of the records, all at once on one
// loop: the list takes as long as its slowest device, not as long as all of them together. A
// record that did not answer its status read is not asked for its configuration. With running
// only, only records in StateRun are read (as list does); else every record (a device in its
// bootloader answers too). Set each record's key before, for devices that want it for reads.
std::vector<DeviceReads> ReadAll(std::vector<LanInterface>& devices, bool runningOnly);

#include "LanInterface.h"

#include "ExchangeLoop.h"
#include "FirmwareFile.h"
#include "FirmwareUpdate.h"
#include "LanOperations.h"
#include "LanProtocol.h"
#include "LanSearch.h"
#include "Transaction.h"

#include <ctime>
#include <memory>
#include <utility>

using namespace lanproto;

namespace {

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// Runs one operation of one device on a loop of its own until it is over: the blocking form of
// the steps that many devices share on one loop.
template <typename Result, typename Start> Result RunAlone(Start start) {
    ExchangeLoop loop;
    Result result{};
    start(loop, [&result](auto... outcome) { result = Result{outcome...}; });
    loop.Run();
    return result;
}

} // namespace

LanInterface::LanInterface() : stateTime(Now()) {}

void LanInterface::SetState(int32_t newState) {
    state = newState;
    stateTime = Now();
}

std::string LanInterface::SerialText() const {
    return serialNumber.substr(0, serialNumber.find('\0'));
}

bool DiscoverLanInterfaces(const std::string& pattern, std::vector<LanInterface>& list) {
    return DiscoverLanInterfaces(pattern, list, std::string());
}

bool DiscoverLanInterfaces(const std::string& pattern, std::vector<LanInterface>& list,
                           const std::string& address, UnaskedNetworks* unasked) {
    SearchScope scope;
    if (!address.empty())
        scope.addresses.push_back(address);
    SearchResult found = SearchLanInterfaces(scope, DiscoverMaxReplies, pattern);
    if (unasked) {
        *unasked = UnaskedNetworks();
        if (address.empty()) {
            unasked->names = found.unasked;
            unasked->reason = found.reason;
        }
    }
    if (!found.sent)
        return false;
    for (LanInterface& device : found.devices) {
        device.unicastAddress = address;
        list.push_back(std::move(device));
    }
    return true;
}

bool LanInterface::FindBySerial(const std::string& serial) {
    ExchangeLoop loop;
    const std::string request = BuildFindRequest(serial);
    auto sender = std::make_unique<MulticastSender>(
        unicastAddress.empty() ? MulticastGroup : unicastAddress.c_str(), Port, true);
    // Any host on the segment can answer: only a reply naming this serial number counts.
    sender->SetAcceptor([request](const std::string& r) { return AcceptsReply(request, r); });
    bool found = false;
    loop.Start(std::move(sender), request, FindWaitMs, 1, [&](bool sent, MulticastSender& s) {
        if (!sent || s.Replies().empty() || !ParseIdentification(s.Replies().front().bytes))
            return;
        interfaceIndex = s.Replies().front().interfaceIndex;
        address = s.Replies().front().from;
        network = s.Replies().front().network;
        found = true;
    });
    loop.Run();
    return found;
}

bool LanInterface::ParseIdentification(const std::string& reply) {
    Identity identity;
    if (!DecodeIdentification(reply, &identity))
        return false;
    serialNumber = identity.serial;
    deviceType = identity.type;
    version = FormatVersion(identity.version);
    SetState(deviceType == BootloaderType ? StateMaintenance : StateRun);
    return true;
}

std::string LanInterface::Transact(char command, const std::string& payload) {
    ExchangeLoop loop;
    std::string answer;
    lanops::Transact(loop, *this, command, payload,
                     [&answer](const Transaction& t) { answer = t.Payload(); });
    loop.Run();
    return answer;
}

bool LanInterface::ReadStatus() {
    return RunAlone<LanResult>([this](ExchangeLoop& loop, auto done) {
               lanops::ReadStatus(loop, *this, done);
           }) == ResultOk;
}

bool LanInterface::ReadConfig() {
    return RunAlone<LanResult>([this](ExchangeLoop& loop, auto done) {
               lanops::ReadConfig(loop, *this, done);
           }) == ResultOk;
}

LanResult LanInterface::Read() {
    return RunAlone<LanResult>(
        [this](ExchangeLoop& loop, auto done) { lanops::Read(loop, *this, done); });
}

LanResult LanInterface::WriteConfig(WriteFailure* why) {
    LanResult result = ResultFailed;
    WriteFailure failure = WriteNoAnswer;
    ExchangeLoop loop;
    lanops::WriteConfig(loop, *this, [&](LanResult r, WriteFailure f) {
        result = r;
        failure = f;
    });
    loop.Run();
    if (why)
        *why = failure;
    return result;
}

bool LanInterface::Identify() {
    return RunAlone<bool>(
        [this](ExchangeLoop& loop, auto done) { lanops::Identify(loop, *this, done); });
}

void LanInterface::SetCryptKey(const std::string& keyText) {
    cryptKey = ParseKeyText(keyText);
}

LanResult LanInterface::EnterBootloader() {
    return RunAlone<LanResult>(
        [this](ExchangeLoop& loop, auto done) { lanops::EnterBootloader(loop, *this, done); });
}

LanResult LanInterface::UpdateFirmware(const std::string& path, ProgressObserver& observer) {
    return UpdateFirmware(path, observer, nullptr);
}

LanResult LanInterface::UpdateFirmware(const std::string& path, ProgressObserver& observer,
                                       std::string* refusal) {
    // A file that is known bad before the update began never puts the device into its bootloader.
    std::string digits;
    if (!LoadFirmwareFile(path, &digits, refusal))
        return ResultFailed;
    return UpdateFirmwareDigits(digits, observer, nullptr);
}

LanResult LanInterface::UpdateFirmwareDigits(const std::string& digits, ProgressObserver& observer,
                                             std::string* failure) {
    LanResult result = ResultFailed;
    ExchangeLoop loop;
    lanops::UpdateFirmware(loop, *this, std::make_shared<const std::string>(digits), observer,
                           [&](LanResult r, const std::string& why) {
                               result = r;
                               if (failure)
                                   *failure = why;
                           });
    loop.Run();
    return result;
}

bool LanInterface::WaitForApplication(unsigned allowanceMs) {
    return RunAlone<lanops::ComeBack>([this, allowanceMs](ExchangeLoop& loop, auto done) {
               lanops::WaitForApplication(loop, *this, allowanceMs, done);
           }) == lanops::ComeBack::Application;
}

bool LanInterface::SendFirmwareBlock(std::istream& file) {
    std::string block;
    switch (ReadFirmwareBlock(file, VersionThousandths(version) >= 10, blockCounter, &block)) {
    case BlockRead::End:
        return true;
    case BlockRead::Bad:
        return false;
    case BlockRead::Block:
        break;
    }
    std::string p = Transact(CmdWriteBlock, block);
    if (p.empty())
        p = Transact(CmdWriteBlock, block);
    if (p.empty())
        return false;
    ++blockCounter;
    switch (static_cast<uint8_t>(p[0])) {
    case 1:
        return true;
    case 2:
        SetState(StateBooting);
        return true;
    default:
        return false;
    }
}

const char* StateWord(int32_t state) {
    switch (state) {
    case StateDisconnected:
        return "Disconnected";
    case StateRun:
        return "Run";
    case StateMaintenance:
        return "Maintenance";
    case StateBooting:
        return "Booting";
    default:
        return "Error";
    }
}

#include "LanOperations.h"

#include "LanProtocol.h"
#include "Transaction.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <utility>

using namespace lanproto;

namespace lanops {

namespace {

void SetState(LanInterface& device, int32_t state) {
    device.state = state;
    device.stateTime = static_cast<int64_t>(std::time(nullptr));
}

void Step(ExchangeLoop& loop, std::shared_ptr<Transaction> transaction,
          std::function<void(const Transaction&)> done) {
    if (transaction->Over()) {
        loop.After(std::chrono::milliseconds(0),
                   [transaction, done = std::move(done)] { done(*transaction); });
        return;
    }
    loop.Start(transaction->Sender(), transaction->Request(), Transaction::WaitMs, 1,
               [&loop, transaction, done = std::move(done)](bool sent, MulticastSender& sender) {
                   const bool answered = sent && !sender.Replies().empty();
                   transaction->Take(answered ? &sender.Replies().front() : nullptr);
                   Step(loop, transaction, done);
               });
}

LanResult TakeStatus(LanInterface& device, const Transaction& t) {
    AddressSet a;
    if (t.Challenge())
        return ResultKeyError;
    if (!DecodeAddresses(t.Payload(), &a))
        return ResultFailed;
    device.currentIp = a.ip;
    device.currentGateway = a.gateway;
    device.currentNetmask = a.netmask;
    device.currentAddress4 = a.address4;
    device.currentAddress5 = a.address5;
    if (device.currentIp.rfind("127.", 0) == 0 || device.currentIp == "0.0.0.0") {
        device.currentIp = "n/a";
        device.currentNetmask = "n/a";
        device.currentGateway = "n/a";
    }
    return ResultOk;
}

LanResult TakeConfig(LanInterface& device, const Transaction& t) {
    StoredConfig c;
    if (t.Challenge())
        return ResultKeyError;
    if (!DecodeConfig(t.Payload(), &c))
        return ResultFailed;
    device.staticIp = c.addresses.ip;
    device.staticGateway = c.addresses.gateway;
    device.staticNetmask = c.addresses.netmask;
    device.staticAddress4 = c.addresses.address4;
    device.staticAddress5 = c.addresses.address5;
    device.dhcp = c.dhcp;
    device.crypt = c.crypt;
    return ResultOk;
}

} // namespace

void Transact(ExchangeLoop& loop, LanInterface& device, char command, std::string payload,
              std::function<void(const Transaction&)> done) {
    Step(loop, std::make_shared<Transaction>(device, command, std::move(payload)),
         std::move(done));
}

void ReadStatus(ExchangeLoop& loop, LanInterface& device, Done done) {
    Transact(loop, device, CmdReadStatus, std::string(),
             [&device, done = std::move(done)](const Transaction& t) {
                 done(TakeStatus(device, t));
             });
}

void ReadConfig(ExchangeLoop& loop, LanInterface& device, Done done) {
    Transact(loop, device, CmdReadConfig, std::string(),
             [&device, done = std::move(done)](const Transaction& t) {
                 done(TakeConfig(device, t));
             });
}

void Read(ExchangeLoop& loop, LanInterface& device, Done done) {
    ReadStatus(loop, device, [&loop, &device, done = std::move(done)](LanResult status) {
        if (status != ResultOk)
            done(status);
        else
            ReadConfig(loop, device, done);
    });
}

void WriteConfig(ExchangeLoop& loop, LanInterface& device,
                 std::function<void(LanResult, WriteFailure)> done) {
    StoredConfig wanted;
    wanted.addresses = {device.staticIp, device.staticGateway, device.staticNetmask,
                        device.staticAddress4, device.staticAddress5};
    wanted.dhcp = device.dhcp;
    wanted.crypt = device.crypt;
    const std::string payload = EncodeConfig(wanted);
    Transact(loop, device, CmdWriteConfig, payload,
             [&loop, &device, payload, done = std::move(done)](const Transaction& t) {
                 const std::string& p = t.Payload();
                 if (p.empty()) {
                     done(ResultFailed, WriteNoAnswer);
                     return;
                 }
                 const auto code = static_cast<uint8_t>(p[0]);
                 if (code == 0 || code == 1) {
                     // The record shows what the device kept; taken, it must be what was sent.
                     ReadConfig(loop, device, [&device, code, payload, done](LanResult read) {
                         if (code == 0)
                             done(ResultFailed, WriteRefused);
                         else if (read != ResultOk)
                             done(ResultFailed, WriteReadBackFailed);
                         else if (EncodeConfig({{device.staticIp, device.staticGateway,
                                                 device.staticNetmask, device.staticAddress4,
                                                 device.staticAddress5},
                                                device.dhcp, device.crypt}) != payload)
                             done(ResultFailed, WriteNotKept);
                         else
                             done(ResultOk, WriteKept);
                     });
                     return;
                 }
                 if (code == 2) {
                     SetState(device, StateBooting);
                     done(ResultOk, WriteKept);
                 } else if (code == CodeKeyError) {
                     done(ResultKeyError, WriteRefused);
                 } else {
                     done(ResultOk, WriteKept);
                 }
             });
}

void EnterBootloader(ExchangeLoop& loop, LanInterface& device, Done done) {
    Transact(loop, device, CmdBootloader, std::string(),
             [&device, done = std::move(done)](const Transaction& t) {
                 const std::string& p = t.Payload();
                 const auto code = p.empty() ? 0 : static_cast<uint8_t>(p[0]);
                 if (code == 0) {
                     done(ResultFailed);
                     return;
                 }
                 if (code == 2)
                     SetState(device, StateBooting);
                 done(code == CodeKeyError ? ResultKeyError : ResultOk);
             });
}

void Identify(ExchangeLoop& loop, LanInterface& device, std::function<void(bool)> done) {
    Transact(loop, device, CmdIdentify, std::string(),
             [&loop, &device, done = std::move(done)](const Transaction& t) {
                 unsigned version = 0;
                 if (!DecodeIdentifyPayload(t.Payload(), &version)) {
                     done(false);
                     return;
                 }
                 device.version = FormatVersion(version);
                 SetState(device, device.deviceType == BootloaderType ? StateMaintenance : StateRun);
                 ReadStatus(loop, device, [done](LanResult r) { done(r == ResultOk); });
             });
}

namespace {

void AskAgain(ExchangeLoop& loop, LanInterface& device,
              std::chrono::steady_clock::time_point deadline, bool answered,
              std::function<void(ComeBack)> done) {
    Transact(loop, device, CmdIdentify, std::string(),
             [&loop, &device, deadline, answered, done = std::move(done)](const Transaction& t) {
                 unsigned version = 0;
                 const bool identified =
                     !t.Challenge() && DecodeIdentifyPayload(t.Payload(), &version);
                 if (identified && device.deviceType != BootloaderType) {
                     device.version = FormatVersion(version);
                     SetState(device, StateRun);
                     done(ComeBack::Application);
                     return;
                 }
                 if (identified)
                     device.version = FormatVersion(version);
                 const bool heard = answered || identified;
                 const auto now = std::chrono::steady_clock::now();
                 if (now >= deadline) {
                     done(heard ? ComeBack::Bootloader : ComeBack::Silent);
                     return;
                 }
                 // An answer from the bootloader comes at once: ask again after a pause, not
                 // in a burst. Without an answer the exchange has already waited its window.
                 const auto pause = std::chrono::milliseconds(t.Payload().empty() ? 100 : 500);
                 const auto wait = std::min<std::chrono::steady_clock::duration>(pause,
                                                                                 deadline - now);
                 loop.After(std::chrono::ceil<std::chrono::milliseconds>(wait),
                            [&loop, &device, deadline, heard, done] {
                                AskAgain(loop, device, deadline, heard, done);
                            });
             });
}

} // namespace

void WaitForApplication(ExchangeLoop& loop, LanInterface& device, unsigned allowanceMs,
                        std::function<void(ComeBack)> done) {
    AskAgain(loop, device,
             std::chrono::steady_clock::now() + std::chrono::milliseconds(allowanceMs), false,
             std::move(done));
}

} // namespace lanops

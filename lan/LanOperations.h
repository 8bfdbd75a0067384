#pragma once

// The protocol operations of a LanInterface as steps on an ExchangeLoop, so that one thread
// drives many devices at once; LanInterface's own blocking operations run the same steps for
// one device on a loop of their own. The record is taken by reference and must outlive the
// operation; done is called once, from the loop's Run, never from the call itself.

#include "ExchangeLoop.h"
#include "LanInterface.h"

#include <functional>
#include <memory>
#include <string>

class Transaction;

namespace lanops {

using Done = std::function<void(LanResult)>;

// One exchange with its challenge and envelope (Transact); done sees the finished transaction.
void Transact(ExchangeLoop& loop, LanInterface& device, char command, std::string payload,
              std::function<void(const Transaction&)> done);

// N: the five addresses in effect. ResultKeyError when the device answered with a challenge
// (it wants its key for reads, and none was set or the one set was refused).
void ReadStatus(ExchangeLoop& loop, LanInterface& device, Done done);
// c: the stored configuration, with the same results.
void ReadConfig(ExchangeLoop& loop, LanInterface& device, Done done);
// ReadStatus, then ReadConfig when the status was read: what show and set need.
void Read(ExchangeLoop& loop, LanInterface& device, Done done);
// C with the record's configuration, then the read-back of a write taken without restart; a
// read-back that differs from what was written is a failure (WriteNotKept).
void WriteConfig(ExchangeLoop& loop, LanInterface& device,
                 std::function<void(LanResult, WriteFailure)> done);
// B: the device restarts into its bootloader (2: StateBooting), or its bootloader runs already.
// ResultFailed without an answer or for code 0, ResultKeyError for code 3.
void EnterBootloader(ExchangeLoop& loop, LanInterface& device, Done done);
// I to this one device (its version and state), then ReadStatus; false when either failed.
void Identify(ExchangeLoop& loop, LanInterface& device, std::function<void(bool)> done);

// How a device ended the wait for its return after an update.
enum class ComeBack {
    Application, // answered as its application; the record holds its version
    Bootloader,  // answered, but as its bootloader (the record holds the bootloader's version)
    Silent,      // did not answer in time
};
// Identifies the device again until it answers as its application, for at most allowanceMs.
void WaitForApplication(ExchangeLoop& loop, LanInterface& device, unsigned allowanceMs,
                        std::function<void(ComeBack)> done);

} // namespace lanops

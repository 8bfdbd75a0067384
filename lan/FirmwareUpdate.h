#pragma once

#include "ExchangeLoop.h"
#include "LanInterface.h"
#include "ProgressObserver.h"

#include <functional>
#include <memory>
#include <string>

namespace lanops {

// The firmware update of one device as steps on an ExchangeLoop: B, the wait for the
// bootloader (fifty progress reports 100 ms apart, then an identification, as long as the
// device restarts), U, then one W per record of the checked firmware text, each sent once more
// when unanswered. Many devices share one loop and one text; nothing waits on a thread.
// failure names the step that failed, for the user ("no answer to U", "refused block 3").
// The record and the observer must outlive the update; done is called from the loop.
void UpdateFirmware(ExchangeLoop& loop, LanInterface& device,
                    std::shared_ptr<const std::string> digits, ProgressObserver& observer,
                    std::function<void(LanResult, const std::string& failure)> done);

} // namespace lanops

#include "FirmwareUpdate.h"

#include "FirmwareFile.h"
#include "LanOperations.h"
#include "LanProtocol.h"
#include "Transaction.h"

#include <chrono>
#include <ctime>
#include <streambuf>
#include <utility>

using namespace lanproto;

namespace lanops {

namespace {

// Reads a text in place as a stream, without a copy; tellg tells the position.
class TextReader : public std::streambuf {
public:
    explicit TextReader(const std::string& text) {
        char* begin = const_cast<char*>(text.data()); // only ever read
        setg(begin, begin, begin + text.size());
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        if (off != 0 || dir != std::ios_base::cur)
            return pos_type(off_type(-1));
        return pos_type(gptr() - eback());
    }
};

constexpr int WaitReports = 50;
constexpr auto WaitTick = std::chrono::milliseconds(100);

class Update : public std::enable_shared_from_this<Update> {
public:
    Update(ExchangeLoop& loop, LanInterface& device, std::shared_ptr<const std::string> digits,
           ProgressObserver& observer, std::function<void(LanResult, const std::string&)> done)
        : loop_(loop), device_(device), digits_(std::move(digits)), reader_(*digits_),
          in_(&reader_), observer_(observer), done_(std::move(done)) {}

    void EnterBootloader() {
        auto self = shared_from_this();
        lanops::EnterBootloader(loop_, device_, [self](LanResult r) {
            if (r == ResultFailed)
                self->Fail(self->device_.state == StateDisconnected
                               ? "no answer to B"
                               : "refused to enter its bootloader");
            else if (r == ResultKeyError)
                self->done_(ResultKeyError, std::string());
            else
                self->WaitWhileBooting(0);
        });
    }

private:
    void SetState(int32_t state) {
        device_.state = state;
        device_.stateTime = static_cast<int64_t>(std::time(nullptr));
    }

    void Fail(const std::string& why) { done_(ResultFailed, why); }

    // While the device restarts: the reports of one waiting step, then an identification.
    void WaitWhileBooting(int reported) {
        if (device_.state != StateBooting) {
            StartUpdate();
            return;
        }
        auto self = shared_from_this();
        if (reported == WaitReports) {
            Identify(loop_, device_, [self](bool) { self->WaitWhileBooting(0); });
            return;
        }
        observer_.OnProgress(0, "Waiting for device to enter bootloader");
        loop_.After(WaitTick, [self, reported] { self->WaitWhileBooting(reported + 1); });
    }

    void StartUpdate() {
        if (device_.state != StateMaintenance) {
            Fail(device_.state == StateRun ? "answered as its application, not its bootloader"
                                           : "did not come back as its bootloader");
            return;
        }
        auto self = shared_from_this();
        Transact(loop_, device_, CmdStartUpdate, std::string(), [self](const Transaction& t) {
            if (t.Payload().empty()) {
                self->Fail("no answer to U");
                return;
            }
            self->device_.blockCounter = 0;
            self->NextBlock();
        });
    }

    void NextBlock() {
        if (!in_.good()) {
            done_(ResultOk, std::string());
            return;
        }
        const auto position = in_.tellg();
        const long long at = position < 0 ? 0 : static_cast<long long>(position);
        observer_.OnProgress(static_cast<int>(at * 100 / static_cast<long long>(digits_->size())),
                             "Performing update");
        const bool counted = VersionThousandths(device_.version) >= 10;
        switch (ReadFirmwareBlock(in_, counted, device_.blockCounter, &block_)) {
        case BlockRead::End:
            NextBlock(); // the stream has ended: the update is over
            return;
        case BlockRead::Bad: // cannot happen for a checked text
            Fail("record " + std::to_string(device_.blockCounter + 1) +
                 " of the firmware cannot be sent");
            return;
        case BlockRead::Block:
            SendBlock(false);
            return;
        }
    }

    // A block without an answer is sent once more; a second silence ends the update.
    void SendBlock(bool again) {
        auto self = shared_from_this();
        Transact(loop_, device_, CmdWriteBlock, block_, [self, again](const Transaction& t) {
            const std::string& p = t.Payload();
            const std::string number = std::to_string(self->device_.blockCounter + 1);
            if (p.empty() && !again) {
                self->SendBlock(true);
                return;
            }
            if (p.empty()) {
                self->Fail("no answer to block " + number);
                return;
            }
            ++self->device_.blockCounter;
            const auto code = static_cast<uint8_t>(p[0]);
            if (code != 1 && code != 2) {
                self->Fail("refused block " + number);
                return;
            }
            if (code == 2)
                self->SetState(StateBooting);
            self->NextBlock();
        });
    }

    ExchangeLoop& loop_;
    LanInterface& device_;
    std::shared_ptr<const std::string> digits_;
    TextReader reader_;
    std::istream in_;
    ProgressObserver& observer_;
    std::function<void(LanResult, const std::string&)> done_;
    std::string block_;
};

} // namespace

void UpdateFirmware(ExchangeLoop& loop, LanInterface& device,
                    std::shared_ptr<const std::string> digits, ProgressObserver& observer,
                    std::function<void(LanResult, const std::string& failure)> done) {
    if (!digits || digits->empty()) {
        loop.After(std::chrono::milliseconds(0), [done] { done(ResultFailed, "holds no record"); });
        return;
    }
    std::make_shared<Update>(loop, device, std::move(digits), observer, std::move(done))
        ->EnterBootloader();
}

} // namespace lanops

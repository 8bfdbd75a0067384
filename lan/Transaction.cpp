#include "Transaction.h"

#include "LanProtocol.h"

#include <ctime>
#include <utility>

using namespace lanproto;

Transaction::Transaction(LanInterface& device, char command, std::string payload)
    : device_(device), command_(command), sentPayload_(std::move(payload)) {
    request_ = BuildDeviceRequest(device_.serialNumber, command_, sentPayload_);
    over_ = device_.serialNumber.find(Wildcard) != std::string::npos;
}

std::unique_ptr<MulticastSender> Transaction::Sender() const {
    const std::string& to = device_.unicastAddress;
    auto sender = std::make_unique<MulticastSender>(to.empty() ? MulticastGroup : to.c_str(), Port,
                                                    true);
    sender->SetInterface(device_.interfaceIndex);
    // Any host on the segment can answer: only a reply that names this device counts.
    sender->SetAcceptor(
        [request = request_](const std::string& reply) { return AcceptsReply(request, reply); });
    return sender;
}

void Transaction::Answered(const MulticastSender::Reply& reply) {
    if (reply.interfaceIndex != 0)
        device_.interfaceIndex = reply.interfaceIndex;
    device_.state = device_.deviceType == BootloaderType ? StateMaintenance : StateRun;
    device_.stateTime = static_cast<int64_t>(std::time(nullptr));
}

void Transaction::Silent() {
    // A restarting device is silent for a while; only after the grace period is it lost.
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (device_.state == StateBooting && now < device_.stateTime + BootGraceSeconds)
        return;
    device_.state = StateDisconnected;
    device_.stateTime = now;
}

void Transaction::Take(const MulticastSender::Reply* reply) {
    if (over_)
        return;
    if (!reply) {
        Silent();
        // Without an answer to the envelope the caller gets the challenge itself.
        End(step_ == Step::Envelope ? earlier_ : std::string(), step_ == Step::Envelope);
        return;
    }
    Answered(*reply);
    const std::string& bytes = reply->bytes;
    if (bytes.size() < ReplyHeaderSize) {
        End(step_ == Step::Envelope ? earlier_ : std::string(), step_ == Step::Envelope);
        return;
    }
    switch (step_) {
    case Step::Plain:
        if (IsChallenge(bytes) && AnswerSize(command_) != 0 &&
            bytes.size() >= AnswerSize(command_)) {
            // As long as an answer, yet with a 3 where a challenge has its code: an address
            // that begins with 3, or a challenge with more bytes after its IV. A challenge
            // carries a fresh IV each time, an answer is the same again: ask once more.
            earlier_ = bytes;
            step_ = Step::Again;
            return;
        }
        Resolve(bytes, IsChallenge(bytes));
        return;
    case Step::Again:
        Resolve(bytes, bytes != earlier_ && IsChallenge(bytes));
        return;
    case Step::Envelope:
        // The reply to an envelope is the plain answer to the command inside it; a challenge
        // instead (one like the challenge answered, or too short to be the answer) means the
        // key was refused, and the caller gets the first challenge.
        if (IsChallenge(bytes) &&
            (bytes.size() == earlier_.size() || IsChallengeFor(command_, bytes)))
            End(earlier_, true);
        else
            End(bytes, false);
        return;
    }
}

void Transaction::Resolve(const std::string& reply, bool challenge) {
    std::string iv;
    if (!challenge || device_.cryptKey.size() < KeySize || !DecodeChallenge(reply, &iv)) {
        End(reply, challenge);
        return;
    }
    earlier_ = reply;
    step_ = Step::Envelope;
    request_ = BuildDeviceRequest(
        device_.serialNumber, CmdEnvelope,
        EncryptEnvelope(BuildEnvelopePlaintext(command_, sentPayload_), device_.cryptKey, iv));
}

void Transaction::End(const std::string& reply, bool challenge) {
    over_ = true;
    challenge_ = challenge && !reply.empty();
    if (reply.size() >= ReplyHeaderSize) {
        device_.deviceType = reply.substr(0, TypeFieldSize);
        payload_ = reply.substr(ReplyHeaderSize);
    } else {
        payload_.clear();
    }
}

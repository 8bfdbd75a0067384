#pragma once

#include "LanInterface.h"
#include "MulticastSender.h"

#include <memory>
#include <string>

// One request to a device and the rules for what comes back, without a socket: the state a
// reply (or its absence) moves the record to, the envelope a challenge asks for when the record
// holds a key, and telling a challenge from an answer that looks like one. The caller sends
// Request() with Sender(), hands the outcome to Take and repeats while Take asks for another
// datagram, until Over(); one device alone and many devices on one ExchangeLoop share these
// rules.
class Transaction {
public:
    Transaction(LanInterface& device, char command, std::string payload);

    // The datagram to send now, and a sender set up for the device's destination that accepts
    // only the device's answer to it.
    const std::string& Request() const { return request_; }
    std::unique_ptr<MulticastSender> Sender() const;
    static constexpr unsigned WaitMs = 2000;

    // Takes the first accepted reply to Request() (nullptr: none came, or nothing was sent).
    // Unless the transaction is then over, Request() holds the next datagram: the same request
    // again, to tell a challenge from an answer, or the envelope.
    void Take(const MulticastSender::Reply* reply);
    // Over from the start when the record's serial number holds the wildcard, which would
    // address every device: nothing is sent then.
    bool Over() const { return over_; }

    // The reply's payload (bytes 20 on), empty when no usable reply came; Challenge tells that
    // it is the payload of a challenge, which never holds the answer to the request.
    const std::string& Payload() const { return payload_; }
    bool Challenge() const { return challenge_; }

private:
    enum class Step { Plain, Again, Envelope };
    // The record's state after a reply of the device, or after silence.
    void Answered(const MulticastSender::Reply& reply);
    void Silent();
    // Ends with reply as the answer, or asks for the envelope when it is a challenge and the
    // record holds a key.
    void Resolve(const std::string& reply, bool challenge);
    void End(const std::string& reply, bool challenge);

    LanInterface& device_;
    char command_;
    std::string sentPayload_; // the request's payload, wrapped into the envelope when asked
    std::string request_;
    std::string payload_;
    Step step_ = Step::Plain;
    std::string earlier_; // the reply asked again about, or the challenge the envelope answers
    bool challenge_ = false;
    bool over_ = false;
};

#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Sends one UDP datagram to a multicast group and collects the datagrams that answer it. A group
// is link-local, so the datagram leaves by every network interface that can carry it, not only by
// the one the routing table picks. A destination that is no group address gets one datagram the
// ordinary way, as for a device behind a router.
class MulticastSender {
public:
    // loopback turns multicast loopback on, so that devices on this host hear the request too.
    MulticastSender(const char* group, unsigned port, bool loopback);
    ~MulticastSender();
    MulticastSender(const MulticastSender&) = delete;
    MulticastSender& operator=(const MulticastSender&) = delete;

    // A network interface a group datagram leaves by.
    struct Interface {
        unsigned index = 0;
        std::string name;    // "eth0"
        std::string address; // its first IPv4 address, dotted
    };
    // The interfaces that are up, have an IPv4 address and can send multicast, loopback
    // included, as the system lists them now.
    static std::vector<Interface> Interfaces();

    // One answering datagram and the interface whose datagram it answers (0 when the routing
    // table chose the way).
    struct Reply {
        std::string bytes;
        unsigned interfaceIndex = 0;
        std::string from;    // the sender's address, dotted
        std::string network; // name of the interface it came by ("eth0"), when known
    };

    // Sends to the group only by this interface (0: by all of them, the default). When the
    // interface is gone, for example unplugged and plugged in again, all of them are used.
    void SetInterface(unsigned index) { interface_ = index; }

    // Only the datagrams that accept returns true for count as replies; the others are dropped
    // and the wait goes on. Without one every datagram counts.
    void SetAcceptor(std::function<bool(const std::string&)> accept) { accept_ = std::move(accept); }

    // Sends message as one datagram per interface, then appends each answering datagram whole,
    // in arrival order, until waitMs milliseconds have passed or maxReplies replies came,
    // whichever is first. The same bytes from the same sender arriving by two interfaces (two
    // ports on one bridged network) count once. Returns false only when no datagram could be
    // sent.
    bool SendUDPMessage(const std::string& message, std::vector<std::string>* replies,
                        unsigned waitMs, unsigned maxReplies);
    // The same, telling for each reply the interface it answers.
    bool Exchange(const std::string& message, std::vector<Reply>* replies, unsigned waitMs,
                  unsigned maxReplies);

    // The interfaces the last exchange could not send by (no socket could be opened for them,
    // or the datagram not sent), in the order listed, and the system's reason for the first.
    const std::vector<Interface>& Unasked() const { return unasked_; }
    int UnaskedError() const { return unaskedError_; }

    // Largest datagram received whole.
    static constexpr size_t MaxDatagram = 65536;

private:
    std::string group_;
    unsigned port_;
    bool loopback_;
    unsigned interface_ = 0;
    std::function<bool(const std::string&)> accept_;
    std::vector<Interface> unasked_;
    int unaskedError_ = 0;
};

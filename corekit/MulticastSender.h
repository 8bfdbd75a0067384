#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct pollfd;

// Sends one UDP datagram to a multicast group and collects the datagrams that answer it. A group
// is link-local, so the datagram leaves by every network interface that can carry it, not only by
// the one the routing table picks. A destination that is no group address gets one datagram the
// ordinary way, as for a device behind a router; SetAddresses sends it to many such addresses.
//
// An exchange runs either at once (SendUDPMessage, Exchange: they block until it is over) or in
// steps (Start, then Receive whenever its sockets are readable, until Finished), so that one
// thread can wait for many exchanges together (ExchangeLoop). No socket outlives its exchange.
class MulticastSender {
public:
    using Clock = std::chrono::steady_clock;

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

    // Sends the datagram to each of these addresses (dotted; broadcast addresses allowed)
    // instead of the destination given to the constructor. The same bytes from the same sender
    // count once.
    void SetAddresses(std::vector<std::string> addresses) { addresses_ = std::move(addresses); }

    // Once the first reply came, waits at most this much longer for more (0: the whole window),
    // for an exchange whose first answer may be slow but whose others come soon after it.
    void SetSettleMs(unsigned ms) { settleMs_ = ms; }

    // Only the datagrams that accept returns true for count as replies; the others are dropped
    // and the wait goes on. Without one every datagram counts.
    void SetAcceptor(std::function<bool(const std::string&)> accept) { accept_ = std::move(accept); }

    // Sends message as one datagram per interface, then appends each answering datagram whole,
    // in arrival order, until waitMs milliseconds have passed or maxReplies replies came,
    // whichever is first (maxReplies 0: only the window bounds them). The same bytes from the
    // same sender arriving by two interfaces (two ports on one bridged network) count once.
    // Returns false only when no datagram could be sent.
    bool SendUDPMessage(const std::string& message, std::vector<std::string>* replies,
                        unsigned waitMs, unsigned maxReplies);
    // The same, telling for each reply the interface it answers.
    bool Exchange(const std::string& message, std::vector<Reply>* replies, unsigned waitMs,
                  unsigned maxReplies);

    // The same exchange in steps. Start sends (false when no datagram could be sent: the
    // exchange is then over); PollEntries appends its sockets for a poll on input; Receive
    // reads what is waiting on the entries of this exchange (from first on, in the order
    // PollEntries gave them), using buffer for the datagram; Finished tells when it is over.
    bool Start(const std::string& message, unsigned waitMs, unsigned maxReplies);
    size_t PollEntries(std::vector<pollfd>& entries) const;
    void Receive(const std::vector<pollfd>& entries, size_t first, std::string& buffer);
    bool Finished(Clock::time_point now) const;
    Clock::time_point Deadline() const { return deadline_; }
    // The replies collected so far, to be taken once Finished.
    std::vector<Reply>& Replies() { return replies_; }
    // Whether maxReplies came: more devices may have answered than were collected.
    bool ReachedLimit() const { return replies_.size() >= maxReplies_ && maxReplies_ > 0; }

    // The interfaces the last exchange could not send by (no socket could be opened for them,
    // or the datagram not sent), in the order listed, and the system's reason for the first.
    const std::vector<Interface>& Unasked() const { return unasked_; }
    int UnaskedError() const { return unaskedError_; }
    // The addresses of SetAddresses the last exchange could not send to, in order.
    const std::vector<std::string>& UnaskedAddresses() const { return unaskedAddresses_; }

    // Largest datagram received whole.
    static constexpr size_t MaxDatagram = 65536;

private:
    struct Channel {
        int fd = -1;
        unsigned index = 0; // the interface it sends by, 0 when the routing table picks
        std::string name;
        bool open = true; // false after an error: nothing more will come here
    };
    void Close();
    void StartGroup(const std::string& message, const void* to);
    void StartAddresses(const std::string& message);
    // Keeps one datagram unless it is refused or a copy; sender is its address and port as
    // bytes, from the address as text, arrival the interface it came by.
    void Take(size_t channel, std::string bytes, const std::string& sender, const char* from,
              unsigned arrival);

    std::string group_;
    unsigned port_;
    bool loopback_;
    unsigned interface_ = 0;
    unsigned settleMs_ = 0;
    std::vector<std::string> addresses_;
    std::function<bool(const std::string&)> accept_;
    std::vector<Interface> unasked_;
    int unaskedError_ = 0;
    std::vector<std::string> unaskedAddresses_;

    // The exchange under way.
    std::vector<Channel> channels_;
    std::vector<Reply> replies_;
    unsigned maxReplies_ = 0;
    Clock::time_point deadline_{};
    // Copies of one datagram: per sender and bytes, how many came by each channel. With the
    // group a reply is kept only when its channel saw it more often than any other did, so a
    // device that answers twice is still kept twice; with addresses each one counts once.
    std::map<std::string, std::vector<unsigned>> seen_;
};

#pragma once

#include <string>
#include <vector>

// Sends one UDP datagram to a multicast group and collects the datagrams that answer it.
class MulticastSender {
public:
    // loopback turns multicast loopback on, so that devices on this host hear the request too.
    MulticastSender(const char* group, unsigned port, bool loopback);
    ~MulticastSender();
    MulticastSender(const MulticastSender&) = delete;
    MulticastSender& operator=(const MulticastSender&) = delete;

    // Sends message as one datagram, then appends each answering datagram whole, in arrival
    // order, until waitMs milliseconds have passed or maxReplies replies came, whichever is
    // first. Returns false only when the datagram could not be sent.
    bool SendUDPMessage(const std::string& message, std::vector<std::string>* replies,
                        unsigned waitMs, unsigned maxReplies);

    // Largest datagram received whole.
    static constexpr size_t MaxDatagram = 65536;

private:
    std::string group_;
    unsigned port_;
    bool loopback_;
    int fd_ = -1;
};

#include "LanIfSimulator.h"

#include "DeviceModel.h"
#include "PropertyMap.h"
#include "SimConfig.h"
#include "SimNetwork.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace lanifsim {

namespace {

using detail::Clock;
using detail::DeviceModel;

// Replies to one search leave in bursts of this many with a pause after each, so that a client
// reading with an ordinary receive buffer keeps up with hundreds of devices on loopback.
constexpr size_t kReplyBurst = 16;
constexpr auto kBurstPause = std::chrono::microseconds(1000);

std::string SysError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void SendReply(int fd, const std::string& reply, const sockaddr_in& to) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        ssize_t n = ::sendto(fd, reply.data(), reply.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n >= 0)
            return;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != ENOBUFS)
            return; // e.g. the client's port is gone: nothing to be done for this reply
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

} // namespace

struct Simulator::Impl {
    mutable std::mutex mutex; // devices, requests, observer, lastError
    std::vector<std::unique_ptr<DeviceModel>> devices;
    std::vector<RecordedRequest> requests;
    std::function<void(const RecordedRequest&)> observer;
    std::string lastError;

    std::mutex lifecycle; // Start and Stop
    std::thread thread;
    int fd = -1;
    int wake = -1;
    bool running = false;

    DeviceModel* Find(const std::string& serial) const {
        for (const auto& d : devices)
            if (d->Device().serial == serial)
                return d.get();
        return nullptr;
    }

    void SetError(std::string error) {
        std::lock_guard lock(mutex);
        lastError = std::move(error);
    }

    bool OpenSocket();
    void CloseFds();
    void Serve();
    void HandleDatagram(const std::string& datagram, const sockaddr_in& from);
};

bool Simulator::Impl::OpenSocket() {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        SetError(SysError("socket"));
        return false;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        SetError(SysError("bind 0.0.0.0:23272"));
        return false;
    }
    ip_mreq join{};
    ::inet_pton(AF_INET, kMulticastGroup, &join.imr_multiaddr);
    ::inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
    if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
        SetError(SysError("join 224.0.0.1 on loopback"));
        return false;
    }
    unsigned char loop = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    // Searches of hundreds of devices arrive together with other clients' requests.
    int buffer = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);

    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        SetError(SysError("eventfd"));
        return false;
    }
    return true;
}

void Simulator::Impl::CloseFds() {
    if (fd >= 0)
        ::close(fd);
    if (wake >= 0)
        ::close(wake);
    fd = wake = -1;
}

void Simulator::Impl::Serve() {
    std::string buffer(65536, '\0');
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            SetError(SysError("poll"));
            return;
        }
        if (fds[1].revents != 0)
            return;
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                break; // EAGAIN: drained
            }
            // A datagram above 64 KiB cannot come over UDP/IPv4; MSG_TRUNC keeps this honest.
            size_t length =
                static_cast<size_t>(n) < buffer.size() ? static_cast<size_t>(n) : buffer.size();
            HandleDatagram(buffer.substr(0, length), from);
        }
    }
}

void Simulator::Impl::HandleDatagram(const std::string& datagram, const sockaddr_in& from) {
    RecordedRequest record;
    std::vector<std::string> replies;
    std::function<void(const RecordedRequest&)> notify;
    {
        std::lock_guard lock(mutex);
        if (detail::DecodeRequest(datagram, &record)) {
            const auto now = Clock::now();
            for (auto& device : devices) {
                device->Settle(now);
                if (!device->Addressed(record.typeField, record.serialField))
                    continue;
                if (auto reply = device->Handle(record, now, &record)) {
                    replies.push_back(std::move(*reply));
                    record.answeredBy.push_back(device->Device().serial);
                }
            }
        }
        // Recorded before anything is sent: whoever reads a reply finds its request here.
        requests.push_back(record);
        notify = observer;
    }
    for (size_t i = 0; i < replies.size(); ++i) {
        if (i > 0 && i % kReplyBurst == 0)
            std::this_thread::sleep_for(kBurstPause);
        SendReply(fd, replies[i], from);
    }
    if (notify)
        notify(record);
}

Simulator::Simulator() : impl_(std::make_unique<Impl>()) {}

Simulator::~Simulator() {
    Stop();
}

void Simulator::AddDevice(const SimDevice& device) {
    std::lock_guard lock(impl_->mutex);
    impl_->devices.push_back(std::make_unique<DeviceModel>(device));
}

bool Simulator::LoadConfig(const std::string& path) {
    return LoadConfig(path, nullptr);
}

bool Simulator::LoadConfig(const std::string& path, std::string* error) {
    std::string message;
    PropertyMap map;
    std::vector<SimDevice> devices;
    bool ok = false;
    if (!map.ReadFromFile(path))
        message = path + ": cannot read it, or a line is neither [section], key = value nor "
                         "a comment";
    else if (!detail::DevicesFromProperties(map, &devices, &message))
        message = path + ": " + message;
    else
        ok = true;
    if (!ok) {
        impl_->SetError(message);
        if (error)
            *error = message;
        return false;
    }
    std::lock_guard lock(impl_->mutex);
    for (const auto& device : devices)
        impl_->devices.push_back(std::make_unique<DeviceModel>(device));
    return true;
}

size_t Simulator::DeviceCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->devices.size();
}

bool Simulator::InIsolatedNetwork() {
    // Judged by the interfaces themselves rather than by namespace ids, which a sandbox may
    // hide: every interface must be a loopback one.
    return detail::OnlyLoopbackBesides({});
}

bool Simulator::Start() {
    std::lock_guard lifecycle(impl_->lifecycle);
    if (impl_->running)
        return true;
    if (!InIsolatedNetwork()) {
        impl_->SetError("network interfaces other than loopback are present: run the simulator "
                        "in a private network namespace (scripts/netns-run.sh)");
        return false;
    }
    if (!impl_->OpenSocket()) {
        impl_->CloseFds();
        return false;
    }
    impl_->running = true;
    impl_->thread = std::thread([this] { impl_->Serve(); });
    return true;
}

void Simulator::Stop() {
    std::lock_guard lifecycle(impl_->lifecycle);
    if (!impl_->running)
        return;
    uint64_t one = 1;
    while (::write(impl_->wake, &one, sizeof one) < 0 && errno == EINTR) {
    }
    impl_->thread.join();
    impl_->CloseFds();
    impl_->running = false;
}

bool Simulator::Running() const {
    std::lock_guard lifecycle(impl_->lifecycle);
    return impl_->running;
}

std::string Simulator::LastError() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->lastError;
}

void Simulator::SetRequestObserver(std::function<void(const RecordedRequest&)> observer) {
    std::lock_guard lock(impl_->mutex);
    impl_->observer = std::move(observer);
}

std::vector<RecordedRequest> Simulator::Requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

void Simulator::ClearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
}

bool Simulator::GetDevice(const std::string& serial, SimDevice* out) const {
    std::lock_guard lock(impl_->mutex);
    DeviceModel* device = impl_->Find(serial);
    if (!device)
        return false;
    device->Settle(Clock::now());
    if (out)
        *out = device->Device();
    return true;
}

bool Simulator::ModifyDevice(const std::string& serial,
                             const std::function<void(SimDevice&)>& change) {
    std::lock_guard lock(impl_->mutex);
    DeviceModel* device = impl_->Find(serial);
    if (!device)
        return false;
    device->Settle(Clock::now());
    if (change)
        change(device->MutableDevice());
    return true;
}

std::vector<std::string> Simulator::ReceivedBlocks(const std::string& serial) const {
    std::lock_guard lock(impl_->mutex);
    DeviceModel* device = impl_->Find(serial);
    return device ? device->Blocks() : std::vector<std::string>{};
}

} // namespace lanifsim

// CServiceController with the stand-in radio service over loopback TCP. The stand-in is told to
// pretend its interface is there ("present"), so no datagram is sent by these tests.

#include "CServiceController.h"
#include "FileLogger.h"
#include "ProcessTable.h"
#include "PropertyMap.h"
#include "RpcClient.h"
#include "ServiceProcess.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

using namespace servicetest;
using Clock = std::chrono::steady_clock;

namespace {

// A loopback listener that takes connections but never answers (at address:port; port 0: one
// the system chooses).
struct SilentListener {
    explicit SilentListener(const std::string& address = "127.0.0.1", int wanted = 0,
                            int backlog = 8) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(wanted));
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, backlog);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    int fd = -1;
    int port = 0;
};

bool SendAll(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string HttpAnswer(const std::string& xml) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
           std::to_string(xml.size()) + "\r\n\r\n" + xml;
}

// A service's answer: one interface, connected.
const std::string ConnectedAnswer =
    HttpAnswer("<?xml version=\"1.0\"?><methodResponse><params><param><value><array><data>"
               "<value><struct><member><name>ADDRESS</name><value>REMOTE0001</value></member>"
               "<member><name>CONNECTED</name><value><boolean>1</boolean></value></member>"
               "</struct></value></data></array></value></param></params></methodResponse>");

// Sends request on a new loopback connection to port and returns what comes back until the
// other side closes (at most 3 s).
std::string Exchange(int port, const std::string& request) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        SendAll(fd, request); // the other side may stop reading early
        char buf[4096];
        pollfd p{fd, POLLIN, 0};
        ssize_t n;
        while (::poll(&p, 1, 3000) > 0 && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            answer.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer;
}

// A loopback peer that reads each call whole, counts it and lets `reply` answer on the
// connection, which is closed afterwards.
class FakeService {
public:
    explicit FakeService(std::function<void(int)> reply, const std::string& address = "127.0.0.1")
        : listener_(address), reply_(std::move(reply)) {
        port = listener_.port;
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeService() {
        stop_ = true;
        thread_.join();
    }
    int port = 0;
    std::atomic<int> calls{0};

private:
    void Serve() {
        while (!stop_) {
            pollfd p{listener_.fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            int fd = ::accept(listener_.fd, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::string request;
            char buf[4096];
            size_t end = std::string::npos;
            while (end == std::string::npos || request.size() < end + 4 + BodyLength(request)) {
                pollfd q{fd, POLLIN, 0};
                ssize_t n = ::poll(&q, 1, 2000) > 0 ? ::recv(fd, buf, sizeof buf, 0) : 0;
                if (n <= 0)
                    break;
                request.append(buf, static_cast<size_t>(n));
                end = request.find("\r\n\r\n");
            }
            ++calls;
            reply_(fd);
            ::close(fd);
        }
    }
    static size_t BodyLength(const std::string& request) {
        size_t at = request.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(request.substr(at + 16));
    }

    SilentListener listener_;
    std::function<void(int)> reply_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool InNamespace() {
    const char* flag = std::getenv("VK_IN_NETNS");
    return flag && std::string(flag) == "1";
}

// The system's first name server, made an address of this namespace's loopback interface. It
// answers a query for the IPv4 addresses of any name with `addresses`, in this order, and any
// other query with none; without addresses it takes queries and never answers them.
class TestNameServer {
public:
    explicit TestNameServer(std::vector<std::string> addresses = {})
        : addresses_(std::move(addresses)) {
        std::ifstream conf("/etc/resolv.conf");
        std::string word, address = "127.0.0.1";
        while (conf >> word)
            if (word == "nameserver" && conf >> word && word.find(':') == std::string::npos) {
                address = word;
                break;
            }
        if (address.rfind("127.", 0) != 0 &&
            std::system(("ip addr add " + address + "/32 dev lo").c_str()) != 0)
            return;
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { Serve(); });
    }
    ~TestNameServer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Listening() const { return fd_ >= 0; }
    int Queries() const { return queries_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            unsigned char query[512];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(fd_, query, sizeof query, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 12)
                continue;
            ++queries_;
            if (addresses_.empty())
                continue;
            // The question: its name's labels, then type and class.
            size_t end = 12;
            while (end < static_cast<size_t>(n) && query[end] != 0)
                end += query[end] + 1u;
            end += 5;
            if (end > static_cast<size_t>(n))
                continue;
            const bool wantsIpv4 = query[end - 4] == 0 && query[end - 3] == 1;
            std::string reply(reinterpret_cast<char*>(query), end);
            reply[2] = static_cast<char>(0x81 | (query[2] & 0x01)); // an answer, recursion as asked
            reply[3] = static_cast<char>(0x80);
            reply[6] = 0;
            reply[7] = static_cast<char>(wantsIpv4 ? addresses_.size() : 0);
            reply[8] = reply[9] = reply[10] = reply[11] = 0;
            for (const std::string& address : wantsIpv4 ? addresses_ : std::vector<std::string>{}) {
                // The name by reference to the question's, type A, class IN, 60 s, 4 bytes.
                reply += std::string("\xc0\x0c\x00\x01\x00\x01\x00\x00\x00\x3c\x00\x04", 12);
                in_addr ip{};
                ::inet_pton(AF_INET, address.c_str(), &ip);
                reply.append(reinterpret_cast<const char*>(&ip), 4);
            }
            ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     fromLength);
        }
    }

    std::vector<std::string> addresses_;
    int fd_ = -1;
    std::atomic<int> queries_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The addresses of a name in the order the system's resolver gives them, as a call tries them.
std::vector<std::string> AddressesOf(const std::string& name) {
    std::vector<std::string> found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0)
        return found;
    for (addrinfo* a = list; a; a = a->ai_next) {
        char text[INET_ADDRSTRLEN] = "";
        if (a->ai_family == AF_INET)
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr, text,
                        sizeof text);
        found.push_back(text);
    }
    ::freeaddrinfo(list);
    return found;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Named semaphores whose names begin with prefix (without its leading slash).
int EventsNamed(const std::string& prefix) {
    int n = 0;
    if (DIR* d = ::opendir("/dev/shm")) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name).rfind("sem." + prefix.substr(1), 0) == 0)
                ++n;
        ::closedir(d);
    }
    return n;
}

// Another local user (nobody, when the test may become it) that knows how start-up event names
// used to be made, from the user and process id and a counter. Before the program starts it
// creates such names, some owner-only and some open to all, and then keeps posting them and any
// start-up event of the program that it can open, until it is killed.
class EventIntruder {
public:
    EventIntruder() {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        const std::string victim =
            "-" + std::to_string(::getuid()) + "-" + std::to_string(::getpid()) + "-";
        for (int n = 1; n <= 200; ++n)
            names_.push_back(ServiceEventName + victim + std::to_string(n));
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            const bool other = ::getuid() == 0 && ::setgroups(0, nullptr) == 0 &&
                               ::setgid(65534) == 0 && ::setuid(65534) == 0;
            ::umask(0);
            std::vector<sem_t*> held;
            for (size_t i = 0; i < names_.size(); ++i) {
                sem_t* sem = ::sem_open(names_[i].c_str(), O_CREAT, i % 2 ? 0600 : 0666, 0);
                if (sem != SEM_FAILED)
                    held.push_back(sem);
            }
            (void)!::write(ready[1], other ? "o" : "s", 1);
            const std::string live = std::string("sem.") + (ServiceEventName + 1) + "-";
            for (;;) {
                for (sem_t* sem : held)
                    ::sem_post(sem);
                // As the same user it could open the program's own events; that is no attack.
                if (DIR* d = other ? ::opendir("/dev/shm") : nullptr) {
                    while (dirent* e = ::readdir(d)) {
                        const std::string file = e->d_name;
                        if (file.rfind(live, 0) != 0)
                            continue;
                        sem_t* sem = ::sem_open(("/" + file.substr(4)).c_str(), 0);
                        if (sem != SEM_FAILED) {
                            ::sem_post(sem);
                            ::sem_close(sem);
                        }
                    }
                    ::closedir(d);
                }
                ::usleep(500);
            }
        }
        ::close(ready[1]);
        char c = 0;
        if (pid_ > 0 && ::read(ready[0], &c, 1) == 1)
            anotherUser = c == 'o';
        ::close(ready[0]);
    }
    ~EventIntruder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (const std::string& name : names_)
            ::sem_unlink(name.c_str());
    }
    bool Running() const { return pid_ > 0; }
    bool anotherUser = false;

private:
    std::vector<std::string> names_;
    pid_t pid_ = -1;
};

} // namespace

// ---- Start and its failures ----

TEST(ServiceControllerStart, LocalStartReadsPortAndSupervisionConnects) {
    CServiceController c(StandIn({"present=up"}));
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    ASSERT_TRUE(c.Start(Usb()));
    std::string url = c.GetServiceUrl();
    EXPECT_EQ(url.rfind("bin://127.0.0.1:", 0), 0u) << url;
    EXPECT_GT(PortOf(url), 0);
    EXPECT_EQ(EventsNamed(StandIn().eventPrefix), 0) << "the start-up event was left behind";
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    // An empty USB serial is filled from the address the service reports.
    EXPECT_EQ(c.GetDescription(), "TEST000001@USB");
    c.Stop();
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

TEST(ServiceControllerStart, KnownSerialIsNeverReplaced) {
    CServiceController c(StandIn({"present=down"}));
    ASSERT_TRUE(c.Start(Usb("USB4711")));
    EXPECT_EQ(c.GetDescription(), "USB4711@USB");
    EXPECT_TRUE(WaitForState(c, ServiceState::InterfaceDown, 3000));
    EXPECT_EQ(c.GetInterfaceSerial(), "USB4711");
}

TEST(ServiceControllerStart, EachStartWritesItsOwnConfigurationAndEmptiesTheLog) {
    CServiceController c(StandIn({"present=up"}));
    const std::string log = c.LogPath();
    ASSERT_TRUE(c.Start(Usb()));
    const std::string config = c.ConfigPath();
    PropertyMap map;
    ASSERT_TRUE(map.ReadFromFile(config));
    EXPECT_EQ(map.GetStringValue("", "Log Filename"), log);
    std::string firstLog = ReadFile(log);
    EXPECT_NE(firstLog.find("XmlRpc Server is listening on TCP port "), std::string::npos);
    { std::ofstream(log, std::ios::app) << "marker of the first run\n"; }
    ASSERT_TRUE(c.Start(Usb()));
    EXPECT_NE(::access(config.c_str(), F_OK), 0) << "the first service's file outlived it";
    ASSERT_TRUE(map.ReadFromFile(c.ConfigPath()));
    EXPECT_EQ(map.GetStringValue("", "Log Filename"), log);
    EXPECT_EQ(c.LogPath(), log);
    EXPECT_EQ(ReadFile(log).find("marker of the first run"), std::string::npos);
}

// The file with the LAN interface's key goes as soon as its service has stopped: here when the
// wizard switches to a remote service, long before the program ends.
TEST(ServiceControllerStart, KeyFileIsGoneOnceTheServiceStops) {
    CServiceController c(StandIn({"present=up"}));
    ConnectionSettings lan;
    lan.connection = ConnectionType::Lan;
    lan.lanSerial = "KPL0000001";
    lan.lanKey = "000102030405060708090A0B0C0D0E0F";
    ASSERT_TRUE(c.Start(lan));
    const std::string config = c.ConfigPath();
    EXPECT_NE(ReadFile(config).find(lan.lanKey), std::string::npos);
    c.Stop();
    EXPECT_NE(::access(config.c_str(), F_OK), 0);

    ASSERT_TRUE(c.Start(lan));
    const std::string second = c.ConfigPath();
    ASSERT_TRUE(c.Start(Remote("127.0.0.1", FreePort())));
    EXPECT_NE(::access(second.c_str(), F_OK), 0);
    EXPECT_EQ(c.ConfigPath(), "");
}

TEST(ServiceControllerStart, TemporaryFilesArePrivateAndRemovedAtDestruction) {
    std::string config, log;
    {
        CServiceController c(StandIn());
        config = c.ConfigPath();
        log = c.LogPath();
        struct stat st {};
        ASSERT_EQ(::stat(config.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_NE(config, log);
        EXPECT_EQ(config.substr(config.rfind('/') + 1, 3), "nrd");
    }
    EXPECT_NE(::access(config.c_str(), F_OK), 0);
    EXPECT_NE(::access(log.c_str(), F_OK), 0);
}

TEST(ServiceControllerStart, FailsWhenServiceNeverPostsTheEvent) {
    ServiceControllerOptions o = StandIn({"present=up", "no-event"});
    o.startupTimeoutMs = 500;
    CServiceController c(o);
    auto t0 = Clock::now();
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_GE(ElapsedMs(t0), 500);
    EXPECT_LT(ElapsedMs(t0), 750);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

// Names taken before the program starts and a flood of posts neither keep the service from
// starting nor pass it off as ready before it is, at the first start or at a restart.
TEST(ServiceControllerStart, StartUpEventIsNeitherBlockedNorFakedByOthers) {
    EventIntruder intruder;
    ASSERT_TRUE(intruder.Running());
    if (!intruder.anotherUser)
        std::cout << "[          ] not root: the intruder runs as this user\n";
    ServiceControllerOptions o = StandIn({"present=up"});
    o.eventPrefix = ServiceEventName;
    CServiceController c(o);
    for (int start = 0; start < 2; ++start) {
        ASSERT_TRUE(c.Start(Usb())) << "start " << start;
        EXPECT_GT(PortOf(c.GetServiceUrl()), 0);
        EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    }
}

// Starts, state changes and stops go to the program's log, one stamped line each; the key does
// not.
TEST(ServiceControllerStart, StartStateChangesAndStopAreLoggedWithoutTheKey) {
    char path[] = "/tmp/vk-service-log-XXXXXX";
    ::close(::mkstemp(path));
    auto* logger = new FileLogger;
    logger->SetFilename(path);
    logger->SetLevel(1);
    Logger::s_logger = logger;
    ConnectionSettings lan;
    lan.connection = ConnectionType::Lan;
    lan.lanSerial = "KPL0000001";
    lan.lanKey = "000102030405060708090A0B0C0D0E0F";
    {
        CServiceController c(StandIn({"present=up"}));
        ASSERT_TRUE(c.Start(lan));
        EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
        c.Stop();
    }
    delete Logger::s_logger;
    Logger::s_logger = nullptr;
    const std::string text = ReadFile(path);
    ::unlink(path);

    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << text;
    const std::regex stamped(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} .*\[service\] .*)");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_NE(lines[0].find("started"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("KPL0000001"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("Unreachable -> Connected"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("stopped"), std::string::npos) << lines[2];
    EXPECT_EQ(text.find(lan.lanKey), std::string::npos);
}

// A service that ends before it is ready is not waited for until the time-out.
TEST(ServiceControllerStart, ServiceThatEndsBeforeItIsReadyFailsAtOnce) {
    ServiceControllerOptions o = StandIn({"present=up", "no-event", "exit-after=300"});
    o.startupTimeoutMs = 10000;
    CServiceController c(o);
    auto t0 = Clock::now();
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_LT(ElapsedMs(t0), 2000);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

TEST(ServiceControllerStart, FailsWithoutReadyLine) {
    CServiceController c(StandIn({"present=up", "no-ready-line"}));
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
}

TEST(ServiceControllerStart, FailsWhenNoInterfaceIsAvailable) {
    // The stand-in finds no USB interface in its (absent) HID tree.
    CServiceController c(StandIn());
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_NE(ReadFile(c.LogPath()).find("No Radlex-Interface available"), std::string::npos);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

TEST(ServiceControllerStart, FailsWhenTheProgramIsMissing) {
    ServiceControllerOptions o = StandIn();
    o.servicePath = std::string(VK_BIN_DIR) + "/no-such-service";
    CServiceController c(o);
    EXPECT_FALSE(c.Start(Usb()));
    EXPECT_EQ(c.GetServiceUrl(), "");
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

TEST(ServiceControllerStart, LongLogLineBeforeReadyLineIsAccepted) {
    CServiceController c(StandIn({"present=up", "long-line=4000"}));
    EXPECT_TRUE(c.Start(Usb()));
    EXPECT_GT(PortOf(c.GetServiceUrl()), 0);
}

TEST(ServiceControllerStart, UnknownConnectionTypeStillStartsTheService) {
    CServiceController c(StandIn({"present=up"}));
    ConnectionSettings s;
    s.connection = static_cast<ConnectionType>(9);
    EXPECT_TRUE(c.Start(s));
    EXPECT_EQ(c.GetDescription(), "");
    EXPECT_EQ(c.GetInterfaceSerial(), "");
}

TEST(ServiceControllerStart, RemoteServiceWritesNothingAndStartsWithoutTraffic) {
    FakeService remote([](int fd) { SendAll(fd, ConnectedAnswer); });
    ServiceControllerOptions o = StandIn();
    o.connectedPollMs = 5000; // after the first probe, nothing for a while
    CServiceController c(o);
    { std::ofstream(c.LogPath()) << "kept\n"; }
    ASSERT_TRUE(c.Start(Remote("127.0.0.1", remote.port)));
    EXPECT_EQ(ReadFile(c.LogPath()), "kept\n");
    EXPECT_EQ(ReadFile(c.ConfigPath()), "");
    EXPECT_EQ(c.GetServiceUrl(), "bin://127.0.0.1:" + std::to_string(remote.port));
    // The first probe decides the state; Start itself sent nothing.
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(remote.calls.load(), 1);
}

// ---- supervision ----

TEST(ServiceControllerSupervision, ServiceThatExitsGivesStoppedAndThreadEnds) {
    const int threadsBefore = SupervisionThreads();
    CServiceController c(StandIn({"present=up", "exit-after=400"}));
    ASSERT_TRUE(c.Start(Usb()));
    const std::string config = c.ConfigPath();
    EXPECT_TRUE(WaitForState(c, ServiceState::Stopped, 4000));
    EXPECT_TRUE(WaitFor([&] { return SupervisionThreads() == threadsBefore; }, 2000));
    EXPECT_NE(::access(config.c_str(), F_OK), 0) << "its configuration outlived the service";
    // Reaped at once, not left a zombie until the next Stop.
    for (const proctable::Process& p : proctable::Descendants(::getpid()))
        EXPECT_NE(p.name, "nrd") << "state " << p.state;
    c.Stop();
}

// Another user's program that knows only the port of the service and takes it over at once when
// the service has ended, with an interface of its own that is down: nothing is asked of it, and
// the status never shows its interface.
TEST(ServiceControllerSupervision, PortTakenOverAfterTheServiceEndedIsNeverCalled) {
    ServiceControllerOptions o = StandIn({"present=up", "exit-after=600"});
    o.connectedPollMs = o.unreachablePollMs = 0; // one probe after the other
    CServiceController c(o);
    ASSERT_TRUE(c.Start(Usb()));
    ASSERT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    const int port = PortOf(c.GetServiceUrl());

    char config[] = "/tmp/vk-other-config-XXXXXX";
    char log[] = "/tmp/vk-other-log-XXXXXX";
    ::close(::mkstemp(config));
    ::close(::mkstemp(log));
    PropertyMap map;
    map.SetIntValue("Listen Port", port);
    map.SetStringValue("Log Filename", log);
    map.SetCurrentSection("Interface 0");
    map.SetStringValue("Type", "USB Interface");
    map.SetStringValue("Serial Number", "OTHER00001");
    map.WriteToFile(config);
    ServiceProcess other;
    ASSERT_TRUE(other.Spawn(VK_BIN_DIR "/nrd",
                            {"-f", config, "-e", "/vk7-test-unused", "-t", "present=down", "-t",
                             "take-port=5000", "-t", "log-calls"}));

    const std::string taken = "XmlRpc Server is listening on TCP port " + std::to_string(port);
    std::set<ServiceState> states;
    std::set<std::string> serials;
    auto end = Clock::now() + std::chrono::seconds(5);
    bool tookIt = false;
    while (Clock::now() < end) {
        states.insert(c.GetState());
        serials.insert(c.GetInterfaceSerial());
        if (!tookIt && ReadFile(log).find(taken) != std::string::npos) {
            tookIt = true; // watched on for a second more
            end = Clock::now() + std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(tookIt) << ReadFile(log);
    EXPECT_EQ(states.count(ServiceState::InterfaceDown), 0u);
    EXPECT_EQ(serials.count("OTHER00001"), 0u);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
    EXPECT_EQ(c.GetServiceUrl(), "");
    EXPECT_EQ(ReadFile(log).find("call "), std::string::npos) << ReadFile(log);
    other.Terminate();
    ::unlink(config);
    ::unlink(log);
}

// The stand-in's log has the answer to call n (the probes before it are then done).
bool WaitForCall(const CServiceController& c, int n) {
    const std::string line = "call " + std::to_string(n) + " answered";
    return WaitFor([&] { return ReadFile(c.LogPath()).find(line) != std::string::npos; }, 3000);
}

// A fault answer leaves the state as it was: Connected after a good answer, through the faults
// that follow it (calls 2 to 4).
TEST(ServiceControllerSupervision, FaultAnswerKeepsTheState) {
    CServiceController c(StandIn({"present=up", "fault", "normal-first=1", "log-calls"}));
    ASSERT_TRUE(c.Start(Usb()));
    ASSERT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    ASSERT_TRUE(WaitForCall(c, 4)) << ReadFile(c.LogPath());
    EXPECT_EQ(c.GetState(), ServiceState::Connected);
}

TEST(ServiceControllerSupervision, SlowAnswerCountsAsUnreachable) {
    ServiceControllerOptions o = StandIn({"present=up", "slow=700"});
    o.probeTimeoutMs = 300;
    CServiceController c(o);
    ASSERT_TRUE(c.Start(Usb()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(c.GetState(), ServiceState::Unreachable);
}

// Answers that cannot be read as an interface list: those that still tell "not connected" give
// InterfaceDown; those that tell nothing leave the state that a good answer before them set.
TEST(ServiceControllerSupervision, UnexpectedShapes) {
    struct Case {
        const char* shape;
        bool afterGoodAnswer;
        ServiceState expected;
        const char* serial;
    } cases[] = {
        {"shape=empty", false, ServiceState::InterfaceDown, ""},
        {"shape=no-connected", false, ServiceState::InterfaceDown, "TEST000001"},
        {"shape=address-int", false, ServiceState::Connected, ""},
        {"shape=not-array", true, ServiceState::Connected, "TEST000001"},
        {"shape=element-int", true, ServiceState::Connected, "TEST000001"},
        {"shape=connected-int", true, ServiceState::Connected, "TEST000001"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.shape);
        std::vector<std::string> behaviours = {"present=up", k.shape, "log-calls"};
        if (k.afterGoodAnswer)
            behaviours.push_back("normal-first=1");
        CServiceController c(StandIn(behaviours));
        ASSERT_TRUE(c.Start(Usb()));
        EXPECT_TRUE(WaitForState(c, k.expected, 3000));
        if (k.afterGoodAnswer) {
            ASSERT_TRUE(WaitForCall(c, 4)) << ReadFile(c.LogPath());
            EXPECT_EQ(c.GetState(), k.expected);
        }
        EXPECT_EQ(c.GetInterfaceSerial(), k.serial);
    }
}

// While Connected, a service that stops answering is given the 15 s of a Connected probe before
// the state drops, not the 1 s of the other states.
TEST(ServiceControllerSupervision, ConnectedServiceThatStopsAnsweringIsGivenFifteenSeconds) {
    CServiceController c(StandIn({"present=up", "normal-first=1", "slow=60000"}));
    ASSERT_TRUE(c.Start(Usb()));
    ASSERT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    const auto connected = Clock::now();
    ASSERT_TRUE(WaitForState(c, ServiceState::Unreachable, 23000));
    EXPECT_GE(ElapsedMs(connected), 15000);
    EXPECT_LE(ElapsedMs(connected), 15000 * 3 / 2);
}

// A probe waiting on its long time-out while Connected must not hold up Stop or a restart, and a
// restart must leave exactly one supervision thread.
TEST(ServiceControllerSupervision, StopAndRestartWhileProbeWaits) {
    ServiceControllerOptions o = StandIn({"present=up", "slow=8000"});
    o.probeTimeoutMs = 15000; // every probe waits, like a Connected one that gets no answer
    const int threadsBefore = SupervisionThreads();
    CServiceController c(o);
    ASSERT_TRUE(c.Start(Usb()));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the first probe is in flight
    EXPECT_EQ(SupervisionThreads(), threadsBefore + 1);

    auto t0 = Clock::now();
    ASSERT_TRUE(c.Start(Usb()));
    EXPECT_LT(ElapsedMs(t0), 5000); // a new service started; the old probe did not hold it up
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(SupervisionThreads(), threadsBefore + 1);

    t0 = Clock::now();
    c.Stop();
    EXPECT_LT(ElapsedMs(t0), 1000);
    EXPECT_EQ(SupervisionThreads(), threadsBefore);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

TEST(ServiceControllerSupervision, RemoteServiceIsProbedAtItsAddress) {
    CServiceController service(StandIn({"present=up"}));
    ASSERT_TRUE(service.Start(Usb()));
    CServiceController c(StandIn());
    ASSERT_TRUE(c.Start(Remote("127.0.0.1", PortOf(service.GetServiceUrl()))));
    EXPECT_TRUE(WaitForState(c, ServiceState::Connected, 3000));
    EXPECT_EQ(c.GetDescription(),
              "xmlrpc://127.0.0.1:" + std::to_string(PortOf(service.GetServiceUrl())));
    service.Stop();
    // The remote service is gone: the Connected probe fails and the state drops.
    EXPECT_TRUE(WaitForState(c, ServiceState::Unreachable, 3000));
}

// ---- the stand-in service ----

// Requests nested deeper than any call needs are refused before they are parsed: one of 4.3 MB
// nested 100,000 values deep is not read on, one of 60 kB nested 1,400 deep gets a fault. The
// stand-in answers the next call at once.
TEST(StandInService, DeepRequestsAreRefusedAndTheServiceKeepsAnswering) {
    CServiceController c(StandIn({"present=up"}));
    ASSERT_TRUE(c.Start(Usb()));
    const int port = PortOf(c.GetServiceUrl());
    for (int depth : {100000, 1400}) {
        SCOPED_TRACE(depth);
        std::string call = "<?xml version=\"1.0\"?><methodCall><methodName>" +
                           std::string(ListInterfacesMethod) + "</methodName><params><param>";
        for (int i = 0; i < depth; ++i)
            call += "<value><array><data>";
        for (int i = 0; i < depth; ++i)
            call += "</data></array></value>";
        call += "</param></params></methodCall>";
        const std::string answer =
            Exchange(port, "POST /RPC2 HTTP/1.0\r\nContent-Type: text/xml\r\nContent-Length: " +
                               std::to_string(call.size()) + "\r\n\r\n" + call);
        if (call.size() < (64u << 10)) {
            XmlRpc::XmlRpcValue refused;
            bool fault = false;
            const size_t body = answer.find("\r\n\r\n");
            ASSERT_NE(body, std::string::npos) << answer;
            EXPECT_TRUE(RpcClient::ReadAnswer(answer.substr(body + 4), refused, fault));
            EXPECT_TRUE(fault) << answer;
        }
        RpcClient client("127.0.0.1", port);
        XmlRpc::XmlRpcValue params, result;
        auto t0 = Clock::now();
        EXPECT_TRUE(client.Execute(ListInterfacesMethod, params, result));
        EXPECT_FALSE(client.IsFault());
        EXPECT_LT(ElapsedMs(t0), 500);
    }
    EXPECT_NE(c.GetState(), ServiceState::Stopped);
}

// ---- the remote check and descriptions ----

TEST(ServiceControllerVerify, RemoteCheckAnsweringFaultingAndAbsent) {
    CServiceController answering(StandIn({"present=up"}));
    ASSERT_TRUE(answering.Start(Usb()));
    CServiceController faulting(StandIn({"present=up", "fault"}));
    ASSERT_TRUE(faulting.Start(Usb()));

    CServiceController c(StandIn());
    ConnectionSettings s = Remote("127.0.0.1", PortOf(answering.GetServiceUrl()));
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    s.servicePort = PortOf(faulting.GetServiceUrl());
    EXPECT_EQ(c.VerifySettings(s), VerifyOk);
    s.servicePort = FreePort();
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);

    SilentListener silent;
    s.servicePort = silent.port;
    auto t0 = Clock::now();
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);
    EXPECT_GE(ElapsedMs(t0), 1000);
    EXPECT_LT(ElapsedMs(t0), 1500); // the check's 1 s time-out, not the probe's 15 s

    s.connection = static_cast<ConnectionType>(5);
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);
}

TEST(ServiceControllerVerify, DescriptionPerConnectionType) {
    CServiceController c(StandIn({"present=up"}));
    EXPECT_EQ(c.GetDescription(), "@USB"); // default settings before any start
    ConnectionSettings lan;
    lan.connection = ConnectionType::Lan;
    lan.lanSerial = "LEQ0000042";
    ASSERT_TRUE(c.Start(lan));
    EXPECT_EQ(c.GetDescription(), "LEQ0000042@LAN");
    ASSERT_TRUE(c.Start(Remote("radio.example", 2001)));
    EXPECT_EQ(c.GetDescription(), "xmlrpc://radio.example:2001");
    c.Stop();
}

// ---- the RPC client ----

TEST(RpcClientTest, ReadsAddressTexts) {
    std::string host, path;
    int port = 0;
    EXPECT_TRUE(RpcClient::ParseUrl("bin://127.0.0.1:2001", host, port, path));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 2001);
    EXPECT_EQ(path, "");
    EXPECT_TRUE(RpcClient::ParseUrl("http://[::1]:80/RPC2", host, port, path));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(path, "/RPC2");
    EXPECT_FALSE(RpcClient::ParseUrl("bin://127.0.0.1:", host, port, path));
    EXPECT_FALSE(RpcClient::ParseUrl("bin://127.0.0.1:99999999", host, port, path));
    EXPECT_FALSE(RpcClient::ParseUrl("ftp://h:1", host, port, path));
    EXPECT_FALSE(RpcClient::ParseUrl("bin://:2001", host, port, path));
}

// A call that gets no answer ends at its time-out, not later, and an abort ends it at once.
TEST(RpcClientTest, TimeOutAndAbortEndAWaitingCall) {
    SilentListener silent;
    XmlRpc::XmlRpcValue params, result;
    RpcClient timed("127.0.0.1", silent.port);
    timed.SetTimeout(300);
    auto t0 = Clock::now();
    EXPECT_FALSE(timed.Execute(ListInterfacesMethod, params, result));
    EXPECT_GE(ElapsedMs(t0), 300);
    EXPECT_LT(ElapsedMs(t0), 450);

    RpcAbort abort;
    RpcClient waiting("bin://127.0.0.1:" + std::to_string(silent.port));
    waiting.SetTimeout(15000);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        abort.Signal();
    });
    t0 = Clock::now();
    EXPECT_FALSE(waiting.Execute(ListInterfacesMethod, params, result, &abort));
    EXPECT_LT(ElapsedMs(t0), 300); // the abort, not the 15 s time-out
    stopper.join();
    // Signalled stays signalled until reset.
    EXPECT_TRUE(abort.IsSignalled());
    abort.Reset();
    EXPECT_FALSE(abort.IsSignalled());
}

TEST(RpcClientTest, RefusedConnectionIsAFailureNotAnEmptyAnswer) {
    RpcClient c("127.0.0.1", FreePort());
    XmlRpc::XmlRpcValue params, result;
    EXPECT_FALSE(c.Execute(ListInterfacesMethod, params, result));
    EXPECT_FALSE(c.IsFault());
}

// A service that drops the connection after reading the call gets it once: the probe is
// never sent again on a new connection.
TEST(RpcClientTest, ProbeIsSentOnceWhenTheServiceDropsTheConnection) {
    FakeService dropping([](int) {});
    RpcClient c("127.0.0.1", dropping.port);
    XmlRpc::XmlRpcValue params, result;
    EXPECT_FALSE(c.Execute(ListInterfacesMethod, params, result));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(dropping.calls.load(), 1);
}

// Answers built to hurt the client are refused as failed calls within the time-out, and the
// client stops reading them: nested 60,000 levels deep, announced as 2 GB, streamed without end,
// or with two different lengths.
TEST(RpcClientTest, HostileAnswersAreRefusedWithinTheTimeOut) {
    std::string deep = "<?xml version=\"1.0\"?><methodResponse><params><param>";
    for (int i = 0; i < 60000; ++i)
        deep += "<value><array><data>";
    for (int i = 0; i < 60000; ++i)
        deep += "</data></array></value>";
    deep += "</param></params></methodResponse>";
    FakeService nested([&](int fd) { SendAll(fd, HttpAnswer(deep)); });

    std::atomic<size_t> streamed{0};
    auto stream = [&](const std::string& head) {
        return [&streamed, head](int fd) {
            if (!SendAll(fd, head))
                return;
            const std::string chunk(65536, ' ');
            // Bounded, so the test ends even if the client kept reading.
            while (streamed < (64u << 20) && SendAll(fd, chunk))
                streamed += chunk.size();
        };
    };
    FakeService announced(stream("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                                 "Content-Length: 2147483648\r\n\r\n"));
    FakeService endless(stream("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n"));
    // Two lengths: which part of the stream is the answer is in doubt.
    const std::string body = ConnectedAnswer.substr(ConnectedAnswer.find("\r\n\r\n") + 4);
    FakeService twoLengths([&](int fd) {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: text/xml\r\n"
                    "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body);
    });

    for (FakeService* service : {&nested, &announced, &endless, &twoLengths}) {
        streamed = 0;
        RpcClient c("127.0.0.1", service->port);
        c.SetTimeout(3000);
        XmlRpc::XmlRpcValue params, result;
        auto t0 = Clock::now();
        EXPECT_FALSE(c.Execute(ListInterfacesMethod, params, result));
        EXPECT_LT(ElapsedMs(t0), 3000);
        EXPECT_FALSE(result.valid());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_LT(streamed.load(), 2 * RpcClient::MaxAnswerBytes + (8u << 20));
    }
}

// With a name server that takes queries and never answers, the wizard's remote check ends at
// its 1 s time-out, and Stop does not wait for a probe stuck in the lookup.
TEST(RpcClientTest, SilentNameServerCostsNoMoreThanTheTimeOut) {
    if (!InNamespace())
        GTEST_SKIP() << "runs only inside its private network namespace";
    TestNameServer dns;
    ASSERT_TRUE(dns.Listening());
    CServiceController c(StandIn());
    ConnectionSettings s = Remote("radio-service.example", 2001);
    auto t0 = Clock::now();
    EXPECT_EQ(c.VerifySettings(s), VerifyNotFound);
    EXPECT_GE(ElapsedMs(t0), 1000);
    EXPECT_LT(ElapsedMs(t0), 1500);
    EXPECT_GT(dns.Queries(), 0); // the lookup did go to the name server

    ASSERT_TRUE(c.Start(s));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the first probe waits
    t0 = Clock::now();
    c.Stop();
    EXPECT_LT(ElapsedMs(t0), 300);
    EXPECT_EQ(c.GetState(), ServiceState::Stopped);
}

// A host name whose first address never answers: the call goes on to the next address within
// its time-out and gets the answer there.
TEST(RpcClientTest, FirstAddressThatNeverAnswersGivesWayToTheNext) {
    if (!InNamespace())
        GTEST_SKIP() << "runs only inside its private network namespace";
    TestNameServer dns({"127.0.0.2", "127.0.0.3"});
    ASSERT_TRUE(dns.Listening());
    const std::vector<std::string> order = AddressesOf("radio-service.example");
    ASSERT_EQ(order.size(), 2u);
    FakeService second([](int fd) { SendAll(fd, ConnectedAnswer); }, order[1]);
    // The first address listens on the same port, but its queue is full, so a new connection
    // is never answered.
    SilentListener first(order[0], second.port, 0);
    std::vector<int> fillers;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(second.port));
    ::inet_pton(AF_INET, order[0].c_str(), &a.sin_addr);
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    RpcClient c("radio-service.example", second.port);
    c.SetTimeout(1000);
    XmlRpc::XmlRpcValue params, result;
    auto t0 = Clock::now();
    EXPECT_TRUE(c.Execute(ListInterfacesMethod, params, result));
    EXPECT_LT(ElapsedMs(t0), 1000);
    EXPECT_EQ(second.calls.load(), 1);
    for (int fd : fillers)
        ::close(fd);
}

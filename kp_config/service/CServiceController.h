#pragma once

#include "ConnectionSettings.h"
#include "RpcClient.h"
#include "ServiceProcess.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Supervision state of the radio service.
enum class ServiceState : int32_t {
    Stopped = 0,       // no service, or the local service process has ended
    Unreachable = 1,   // started, but the last call got no answer
    InterfaceDown = 2, // the service answers; its first interface is not connected
    Connected = 3,     // the service answers; its first interface is connected
};

// The state's name as the log writes it: "Stopped", "Unreachable", ...
const char* StateName(ServiceState state);

// Results of VerifySettings.
enum VerifyResult : int {
    VerifyOk = 0,
    VerifyNotFound = 1,
    VerifyInUse = 2,
    VerifyNoDhcpAddress = 3,
    VerifyStaticConfig = 4,
    VerifyWrongAccessCode = 5,
    VerifyNotChecked = 6,
    // A USB interface is attached, but this user may not open it (no udev rule, no group).
    VerifyNoPermission = 7,
};

// The start of the start-up event's name; each start of the local service adds a random part.
inline constexpr const char* ServiceEventName = "/vK7-nrd-ready";
// The name the supervision thread carries (seen in ps and debuggers).
inline constexpr const char* SupervisionThreadName = "vk-supervision";
// The RPC method that reports the service's interfaces.
inline constexpr const char* ListInterfacesMethod = "listRadlexInterfaces";

// What the program leaves at its defaults; tests shorten the waits and choose the service.
struct ServiceControllerOptions {
    std::string servicePath; // empty: the nrd program beside this one
    // The start-up event's name before its random part.
    std::string eventPrefix = ServiceEventName;
    std::vector<std::string> extraArguments; // put before "-f"; the program passes none
    int startupTimeoutMs = 10000;            // wait for the start-up event
    int probeTimeoutMs = 1000;               // a probe in any state but Connected
    int connectedProbeTimeoutMs = 15000;     // a probe while Connected
    int unreachablePollMs = 100;
    int interfaceDownPollMs = 1000;
    int connectedPollMs = 5000;
    std::string hidSysRoot = "/sys"; // where the USB check looks for HID devices
    std::string hidDevRoot = "/dev"; // where it opens them
    // Asked every few milliseconds while a start waits for the service to be ready; true gives
    // the start up at once (the program is being ended). Empty: the wait runs its course.
    std::function<bool()> abandonStart;
};

// Owns the local radio service: writes its configuration, starts it, reads its port from its log
// and supervises it over RPC on a thread of its own; also checks a remote service. All
// operations are called from one thread (the GUI thread); the supervision thread only probes.
class CServiceController {
public:
    CServiceController();
    explicit CServiceController(const ServiceControllerOptions& options);
    ~CServiceController(); // stops, then deletes the log file
    CServiceController(const CServiceController&) = delete;
    CServiceController& operator=(const CServiceController&) = delete;

    // Stops whatever runs and starts anew. True when the local service is ready, or the remote
    // service's address is formed; the supervision thread then runs.
    bool Start(const ConnectionSettings& settings);
    // Ends supervision (waiting for the thread, aborting a probe in flight), terminates the
    // local service and deletes its configuration file, which holds the LAN interface's key.
    // Returns within about a second even while a probe waits for its answer.
    void Stop();

    std::string GetServiceUrl() const;
    std::string GetInterfaceSerial() const;
    ServiceState GetState() const;
    // The connection's name for the status bar: "<serial>@USB", "<serial>@LAN",
    // "xmlrpc://host:port", or empty for an unknown connection type.
    std::string GetDescription() const;
    // Checks a connection choice against the hardware or the remote service; returns a
    // VerifyResult. The Usb branch writes the interface's serial number into usbSerial when it
    // can be read. Blocks for the LAN exchanges or the remote call.
    int VerifySettings(ConnectionSettings& settings);

    // The configuration file of the running (or last started) local service; empty once it has
    // been deleted. Each local start writes a new one.
    std::string ConfigPath() const;
    const std::string& LogPath() const { return logPath_; }

private:
    bool StartLocal();
    bool FailStart(const std::string& why);
    void RemoveConfigFile();
    void Supervise(std::string url);
    void Probe(const std::string& url);
    // Who listens at the local service's port: the service; nobody, since it has ended; or
    // perhaps another program, since the live service no longer holds the port.
    enum class PortHolder { Service, Ended, Other };
    PortHolder HolderOfPort(int port);
    int PollPeriodMs(ServiceState state) const;
    int VerifyUsb(ConnectionSettings& settings) const;
    int VerifyLan(const ConnectionSettings& settings) const;
    int VerifyRemote(const ConnectionSettings& settings) const;

    const ServiceControllerOptions options_;
    ServiceProcess process_;
    std::string logPath_;
    ConnectionSettings settings_; // of the last Start; written only while no thread runs

    std::thread supervisor_;
    RpcAbort abortProbe_; // wakes a probe that waits for its answer

    mutable std::mutex lock_; // guards the five members below
    std::condition_variable wake_;
    std::string configPath_; // the supervision thread deletes it when the service ends
    std::string serviceUrl_;
    std::string interfaceSerial_;
    bool stopRequested_ = false;
    ServiceState state_ = ServiceState::Stopped;
};

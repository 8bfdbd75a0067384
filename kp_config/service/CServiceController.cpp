#include "CServiceController.h"

#include "CHIDDevice.h"
#include "InterfaceAnswer.h"
#include "LanInterface.h"
#include "LanProtocol.h"
#include "Logger.h"
#include "OSCompat.h"
#include "ServiceConfigFile.h"
#include "ServiceLogScan.h"
#include "StartupEvent.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

// A new empty file in the temporary directory, named "nrd" and a unique part, owner-only.
std::string MakeTempFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/nrdXXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return std::string(); // shows later as a failed start
    ::close(fd);
    return pattern;
}

// One line of the program's log about the service. The key and the access code never go here.
void Log(const std::string& text) {
    Logger::Write(1, "service", text.c_str());
}

std::string InterfaceName(const ConnectionSettings& settings) {
    switch (settings.connection) {
    case ConnectionType::Usb:
        return "USB interface" + (settings.usbSerial.empty() ? "" : " " + settings.usbSerial);
    case ConnectionType::Lan:
        return "LAN interface " + settings.lanSerial +
               (settings.lanHost.empty() ? "" : " at " + settings.lanHost);
    default:
        return "connection type " + std::to_string(static_cast<int>(settings.connection));
    }
}

} // namespace

const char* StateName(ServiceState state) {
    switch (state) {
    case ServiceState::Stopped:
        return "Stopped";
    case ServiceState::Unreachable:
        return "Unreachable";
    case ServiceState::InterfaceDown:
        return "InterfaceDown";
    case ServiceState::Connected:
        return "Connected";
    }
    return "unknown";
}

CServiceController::CServiceController() : CServiceController(ServiceControllerOptions{}) {}

CServiceController::CServiceController(const ServiceControllerOptions& options)
    : options_(options) {
    configPath_ = MakeTempFile();
    logPath_ = MakeTempFile();
}

CServiceController::~CServiceController() {
    Stop();
    if (!logPath_.empty())
        ::unlink(logPath_.c_str());
    RemoveConfigFile(); // the one made at construction, when no local service ever started
}

std::string CServiceController::ConfigPath() const {
    std::lock_guard<std::mutex> guard(lock_);
    return configPath_;
}

void CServiceController::RemoveConfigFile() {
    std::lock_guard<std::mutex> guard(lock_);
    // Forgotten once deleted: another user may take the free name, and that file is not ours.
    if (!configPath_.empty())
        ::unlink(configPath_.c_str());
    configPath_.clear();
}

bool CServiceController::Start(const ConnectionSettings& settings) {
    Stop();
    settings_ = settings;
    {
        std::lock_guard<std::mutex> guard(lock_);
        interfaceSerial_.clear();
    }
    if (settings_.connection == ConnectionType::RemoteService) {
        const std::string address =
            settings_.serviceHost + ":" + std::to_string(settings_.servicePort);
        {
            std::lock_guard<std::mutex> guard(lock_);
            serviceUrl_ = "bin://" + address;
        }
        Log("using the remote radio service at " + address);
    } else if (!StartLocal()) {
        return false;
    }

    abortProbe_.Reset();
    std::string url;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopRequested_ = false;
        state_ = ServiceState::Unreachable;
        url = serviceUrl_;
    }
    supervisor_ = std::thread(&CServiceController::Supervise, this, url);
    return true;
}

bool CServiceController::StartLocal() {
    const std::string program =
        options_.servicePath.empty() ? OSCompat::FixPath("nrd.exe") : options_.servicePath;
    // A new file for every start: the last one was deleted when its service stopped, and its
    // name may since have been taken by someone else.
    const std::string configPath = MakeTempFile();
    {
        std::lock_guard<std::mutex> guard(lock_);
        configPath_ = configPath;
    }
    if (configPath.empty())
        return FailStart("no temporary file for its configuration");
    WriteServiceConfig(settings_, configPath, logPath_);
    EmptyServiceLog(logPath_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (settings_.connection == ConnectionType::Usb)
            interfaceSerial_ = settings_.usbSerial;
        else if (settings_.connection == ConnectionType::Lan)
            interfaceSerial_ = settings_.lanSerial;
    }

    StartupEvent ready;
    if (!ready.Create(options_.eventPrefix))
        return FailStart("no start-up event could be created");
    {
        std::lock_guard<std::mutex> guard(lock_);
        serviceUrl_ = "bin://127.0.0.1:";
    }
    std::vector<std::string> args = options_.extraArguments;
    args.insert(args.end(), {"-f", configPath, "-e", ready.Name()});
    if (!process_.Spawn(program, args))
        return FailStart("the program " + program + " could not be run");
    // A service that ends before it is ready will never post: stop waiting for it then, and
    // when the program is being ended.
    bool abandoned = false;
    const bool posted = ready.Wait(options_.startupTimeoutMs, [this, &abandoned] {
        abandoned = options_.abandonStart && options_.abandonStart();
        return !abandoned && !process_.HasExited();
    });
    ready.Close(); // whatever came of it, nobody needs the name any more
    if (!posted) {
        if (process_.HasExited())
            return FailStart("the service ended before it was ready (" + process_.EndText() + ")");
        return FailStart(abandoned ? "the program is ending"
                                   : "no start-up event within " +
                                         std::to_string(options_.startupTimeoutMs) + " ms");
    }

    std::ifstream log(logPath_);
    ServiceLogScan scan = ScanServiceLog(log);
    if (scan.result == ServiceLogScan::ScanNoInterface)
        return FailStart("the service found no interface");
    if (scan.result != ServiceLogScan::ScanReady)
        return FailStart("no port in the service's log");
    {
        std::lock_guard<std::mutex> guard(lock_);
        serviceUrl_ += scan.port;
    }
    Log("local radio service started (process " + std::to_string(process_.Pid()) + ") for the " +
        InterfaceName(settings_) + ", listening on port " + scan.port);
    return true;
}

bool CServiceController::FailStart(const std::string& why) {
    Log("local radio service for the " + InterfaceName(settings_) + " did not start: " + why);
    Stop();
    return false;
}

void CServiceController::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopRequested_ = true;
        serviceUrl_.clear();
    }
    wake_.notify_all();
    abortProbe_.Signal(); // a probe waiting for its answer gives up at once
    const bool supervised = supervisor_.joinable();
    if (supervised)
        supervisor_.join();
    // Only now, with no thread left to look at it, is the process ended and forgotten.
    const bool local = process_.IsStarted();
    process_.Terminate();
    // The key need not outlive the service that read it.
    RemoveConfigFile();
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_ = ServiceState::Stopped;
    }
    if (supervised)
        Log(local ? "local radio service stopped"
                  : "supervision of the remote radio service stopped");
}

std::string CServiceController::GetServiceUrl() const {
    std::lock_guard<std::mutex> guard(lock_);
    return serviceUrl_;
}

std::string CServiceController::GetInterfaceSerial() const {
    std::lock_guard<std::mutex> guard(lock_);
    return interfaceSerial_;
}

ServiceState CServiceController::GetState() const {
    std::lock_guard<std::mutex> guard(lock_);
    return state_;
}

std::string CServiceController::GetDescription() const {
    switch (settings_.connection) {
    case ConnectionType::Usb:
        return GetInterfaceSerial() + "@USB";
    case ConnectionType::Lan:
        return GetInterfaceSerial() + "@LAN";
    case ConnectionType::RemoteService:
        return "xmlrpc://" + settings_.serviceHost + ":" + std::to_string(settings_.servicePort);
    default:
        return std::string();
    }
}

int CServiceController::VerifySettings(ConnectionSettings& settings) {
    switch (settings.connection) {
    case ConnectionType::RemoteService:
        return VerifyRemote(settings);
    case ConnectionType::Usb:
        return VerifyUsb(settings);
    case ConnectionType::Lan:
        return VerifyLan(settings);
    default:
        return VerifyNotFound;
    }
}

int CServiceController::VerifyUsb(ConnectionSettings& settings) const {
    CHIDDevice hid(options_.hidSysRoot, options_.hidDevRoot);
    if (hid.CountDevices() == 0)
        return VerifyNotFound;
    hid.ReadSerialNumber(&settings.usbSerial); // a failed read keeps the serial number given
    // A running service started on the USB interface holds it itself, so it cannot be opened
    // here; that is no conflict.
    if (GetState() != ServiceState::Stopped && settings_.connection == ConnectionType::Usb)
        return VerifyOk;
    switch (hid.Open()) {
    case HidOpenOk:
        hid.Close();
        return VerifyOk;
    case HidOpenNoPermission:
        return VerifyNoPermission; // may well be free: only this user cannot tell
    default:
        return VerifyInUse;
    }
}

int CServiceController::VerifyLan(const ConnectionSettings& settings) const {
    if (!settings.lanHost.empty())
        return VerifyNotChecked; // an address given by hand is taken as it is: nothing is sent
    // A wildcard would let whichever device answers first pass as the one named.
    if (!lanproto::IsSingleSerial(settings.lanSerial))
        return VerifyNotFound;
    LanInterface lan;
    if (!lan.FindBySerial(settings.lanSerial))
        return VerifyNotFound;
    lan.SetCryptKey(settings.lanKey);
    // Writing back the configuration just read changes nothing on the device, but a device
    // that wants encryption takes it only with the right key: that checks the access code.
    // A device that wants its key for reads already tells a wrong code by its answer to them.
    LanResult result = lan.Read();
    if (result == ResultOk)
        result = lan.WriteConfig();
    switch (result) {
    case ResultOk:
        if (!lan.dhcp)
            return VerifyStaticConfig;
        // "n/a" (a loopback or zero address) and an empty text are both too short.
        return lan.currentIp.size() < 7 ? VerifyNoDhcpAddress : VerifyOk;
    case ResultKeyError:
        return VerifyWrongAccessCode;
    default:
        return VerifyNotFound;
    }
}

int CServiceController::VerifyRemote(const ConnectionSettings& settings) const {
    RpcClient client(settings.serviceHost, settings.servicePort);
    client.SetTimeout(1000);
    XmlRpc::XmlRpcValue params, result;
    // Any answer counts, a fault included: the service is there.
    return client.Execute(ListInterfacesMethod, params, result) ? VerifyOk : VerifyNotFound;
}

int CServiceController::PollPeriodMs(ServiceState state) const {
    switch (state) {
    case ServiceState::Unreachable:
        return options_.unreachablePollMs;
    case ServiceState::InterfaceDown:
        return options_.interfaceDownPollMs;
    case ServiceState::Connected:
        return options_.connectedPollMs;
    default:
        return 0;
    }
}

void CServiceController::Supervise(std::string url) {
    pthread_setname_np(pthread_self(), SupervisionThreadName);
    for (;;) {
        Probe(url);
        std::unique_lock<std::mutex> guard(lock_);
        if (state_ == ServiceState::Stopped || stopRequested_)
            return;
        auto period = std::chrono::milliseconds(PollPeriodMs(state_));
        if (wake_.wait_for(guard, period, [this] { return stopRequested_; }))
            return;
    }
}

CServiceController::PortHolder CServiceController::HolderOfPort(int port) {
    if (settings_.connection == ConnectionType::RemoteService)
        return PortHolder::Service; // nothing to be seen of a service on another computer
    if (process_.HasExited())
        return PortHolder::Ended;
    return process_.HoldsListener(port) ? PortHolder::Service : PortHolder::Other;
}

void CServiceController::Probe(const std::string& url) {
    const ServiceState old = GetState();
    ServiceState now = old;
    std::string address;
    // An answer counts only from the service this controller started, while it is alive and
    // still holds its port: once it has closed the port or ended, the port may be another
    // program's. So both are looked at before the call, which goes nowhere else, and again after
    // the answer.
    std::string host, path;
    int port = 0;
    RpcClient::ParseUrl(url, host, port, path);
    PortHolder at = HolderOfPort(port);
    if (at == PortHolder::Service) {
        RpcClient client(url);
        client.SetTimeout(old == ServiceState::Connected ? options_.connectedProbeTimeoutMs
                                                         : options_.probeTimeoutMs);
        XmlRpc::XmlRpcValue params, result;
        if (!client.Execute(ListInterfacesMethod, params, result, &abortProbe_)) {
            now = ServiceState::Unreachable;
        } else if (!client.IsFault()) {
            InterfaceAnswer answer = ReadInterfaceAnswer(result);
            if (answer.stateKnown)
                now = answer.connected ? ServiceState::Connected : ServiceState::InterfaceDown;
            address = answer.address;
        }
        at = HolderOfPort(port);
    }
    if (at != PortHolder::Service) {
        now = at == PortHolder::Ended ? ServiceState::Stopped : ServiceState::Unreachable;
        address.clear();
    }
    if (at == PortHolder::Ended) {
        RemoveConfigFile(); // the service ended by itself
        std::lock_guard<std::mutex> guard(lock_);
        serviceUrl_.clear(); // nobody is to call that port any more
    }
    if (now != old) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            state_ = now;
            if (interfaceSerial_.empty())
                interfaceSerial_ = address;
        }
        std::string why;
        if (at == PortHolder::Ended)
            why = " (the service process has ended, " + process_.EndText() + ")";
        else if (at == PortHolder::Other)
            why = " (the service no longer holds its port " + std::to_string(port) + ")";
        Log(std::string("radio service state ") + StateName(old) + " -> " + StateName(now) + why);
    }
}

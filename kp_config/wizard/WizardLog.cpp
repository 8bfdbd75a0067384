#include "WizardLog.h"

#include "CServiceController.h"
#include "LanProtocol.h"
#include "Logger.h"

namespace {

constexpr const char* kModule = "wizard";
// The program's logger writes records up to level 1.
constexpr int kLevel = 1;

// Typed or received texts are logged printable only, so that no value breaks a log line.
std::string Printable(const std::string& text) {
    return lanproto::PrintableText(text);
}

const char* ResultName(int result) {
    switch (result) {
    case VerifyOk:
        return "found";
    case VerifyNotFound:
        return "not found";
    case VerifyInUse:
        return "in use by another program";
    case VerifyNoDhcpAddress:
        return "found without a DHCP address";
    case VerifyStaticConfig:
        return "found with a static address";
    case VerifyWrongAccessCode:
        return "access code refused";
    case VerifyNotChecked:
        return "not checked (address given)";
    case VerifyNoPermission:
        return "no permission to open it";
    default:
        return "unknown result";
    }
}

void Write(const std::string& line) {
    Logger::Write(kLevel, kModule, line.c_str());
}

} // namespace

std::string DescribeChoice(const ConnectionSettings& settings) {
    switch (settings.connection) {
    case ConnectionType::Usb:
        return settings.usbSerial.empty() ? "USB interface"
                                          : "USB interface " + Printable(settings.usbSerial);
    case ConnectionType::Lan:
        return "LAN interface " + Printable(settings.lanSerial) +
               (settings.lanHost.empty() ? std::string() : " at " + Printable(settings.lanHost));
    case ConnectionType::RemoteService:
        return "remote service " + Printable(settings.serviceHost) + ":" +
               std::to_string(settings.servicePort);
    default:
        return "connection " + std::to_string(static_cast<int>(settings.connection));
    }
}

void LogVerifyResult(const ConnectionSettings& settings, int result) {
    Write("check of " + DescribeChoice(settings) + ": " + ResultName(result));
}

void LogWizardFinished(const ConnectionSettings& settings) {
    Write("finished, stored " + DescribeChoice(settings));
}

void LogWizardCancelled() {
    Write("cancelled, nothing stored");
}

#include "WizardInput.h"

#include "LanProtocol.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::string TrimmedText(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool ReadPortText(const std::string& text, int32_t* port) {
    const std::string digits = TrimmedText(text);
    // A sign is no part of a port; strtol would take one.
    if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(digits.c_str(), &end, 0);
    if (errno != 0 || end != digits.c_str() + digits.size() || value < 1 || value > 65535)
        return false;
    *port = static_cast<int32_t>(value);
    return true;
}

bool IsAccessCodeText(const std::string& text) {
    if (text.empty())
        return true;
    if (text.size() != 2 * lanproto::KeySize)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::string LanInputProblem(const std::string& serial, const std::string& accessCode,
                            bool specifyIp, bool addressComplete) {
    const std::string trimmedSerial = TrimmedText(serial);
    if (trimmedSerial.empty())
        return "Bitte geben Sie die Seriennummer des Lan-Interfaces ein.";
    // A wildcard would let any device answer in place of the one meant.
    if (!lanproto::IsSingleSerial(trimmedSerial))
        return "Die Seriennummer darf nur druckbare Zeichen und kein \"*\" enthalten.";
    if (!IsAccessCodeText(TrimmedText(accessCode)))
        return "Der Zugriffscode besteht aus 32 Hexadezimalziffern (0-9, A-F) oder bleibt leer.";
    if (specifyIp && !addressComplete)
        return "Bitte geben Sie die IP-Adresse vollständig ein (vier Zahlen von 0 bis 255).";
    return {};
}

std::string ServiceInputProblem(const std::string& host, const std::string& portText) {
    if (TrimmedText(host).empty())
        return "Bitte geben Sie den Rechnernamen oder die IP-Adresse des Rechners ein.";
    int32_t port = 0;
    if (!ReadPortText(portText, &port))
        return "Die Portnummer muss eine Zahl von 1 bis 65535 sein.";
    return {};
}

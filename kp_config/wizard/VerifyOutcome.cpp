#include "VerifyOutcome.h"

#include "CServiceController.h"

#include <initializer_list>

namespace {

std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) {
        if (!text.empty())
            text += "\r\n";
        text += line;
    }
    return text;
}

const char* const kFinishLan =
    "Klicken Sie auf \"Fertig stellen\", um die Anwendung für die Verwendung dieses "
    "Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren oder auf \"Zurück\", um Ihre "
    "Einstellungen zu überprüfen.";

VerifyOutcome DescribeUsb(int result) {
    switch (result) {
    case VerifyOk:
        return {Lines({"Es wurde ein an diesen Computer angeschlossenes USB-Interface gefunden.",
                       "Klicken Sie auf \"Fertig stellen\", um die Anwendung für die Verwendung "
                       "dieses Velantrix-USB-Interfaces (KP-CFG-USB) zu konfigurieren."}),
                true};
    case VerifyNotFound:
        return {Lines({"Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines "
                       "Velantrix-USB-Interfaces (KP-CFG-USB) zu konfigurieren.",
                       "Es wurde jedoch kein an diesen Computer angeschlossenes USB-Interface "
                       "gefunden.",
                       "Schließen Sie ein Velantrix-USB-Interface an den Computer an und rufen "
                       "Sie dann diesen Konfigurationsdialog erneut auf."}),
                false};
    case VerifyInUse:
        return {Lines({"Achtung: Es wurde zwar ein an diesen Computer angeschlossenes "
                       "USB-Interface gefunden, dieses wird aber derzeit offenbar von einer "
                       "anderen Anwendung verwendet.",
                       "Bitte beenden Sie die andere Anwendung und rufen Sie danach diesen "
                       "Konfigurationsdialog erneut auf."}),
                false};
    case VerifyNoPermission:
        return {Lines({"Achtung: Es wurde zwar ein an diesen Computer angeschlossenes "
                       "USB-Interface gefunden, aber Ihr Benutzerkonto hat keine Berechtigung, "
                       "darauf zuzugreifen.",
                       "Abhilfe schafft die udev-Regel \"70-velantrix-kp-cfg-usb.rules\" aus dem "
                       "Paket oder die Mitgliedschaft in der Gruppe \"plugdev\".",
                       "Stecken Sie das USB-Interface nach dem Installieren der Regel einmal ab "
                       "und wieder an bzw. melden Sie sich nach der Aufnahme in die Gruppe ab und "
                       "wieder an, und rufen Sie dann diesen Konfigurationsdialog erneut auf."}),
                false};
    default:
        return {};
    }
}

VerifyOutcome DescribeLan(int result) {
    switch (result) {
    case VerifyOk:
    case VerifyStaticConfig:
        return {Lines({"Es wurde in Ihrem Netzwerk ein Velantrix-Lan-Interface mit der von Ihnen "
                       "angegebenen Seriennummer gefunden.",
                       "Klicken Sie auf \"Fertig stellen\", um die Anwendung für die Verwendung "
                       "dieses Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren."}),
                true};
    case VerifyNotFound:
        return {Lines({"Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines "
                       "Velantrix-Lan-Interfaces (KP-CFG-LAN) zu konfigurieren.",
                       "Es wurde jedoch kein Lan-Interface mit der von Ihnen angegebenen "
                       "Seriennummer gefunden.",
                       "Überprüfen Sie den Anschluß des Velantrix-Lan-Interface an Ihr Netzwerk "
                       "an und rufen Sie dann diesen Konfigurationsdialog erneut auf.",
                       "Falls sich das Lan-Interface nicht in Ihrem lokalen Netzwerk befindet, "
                       "sondern z.B. über einen Router angebunden ist, klicken Sie auf "
                       "\"Zurück\" und tragen die IP-Adresse ein, unter der das Lan-Interface zu "
                       "erreichen ist."}),
                false};
    case VerifyNoDhcpAddress:
        return {Lines({"Achtung: Es wurde zwar in Ihrem Netzwerk ein Velantrix-Lan-Interface mit "
                       "der von Ihnen angegebenen Seriennummer gefunden, aber dieses hat bisher "
                       "über DHCP keine gültige Adresse bekommen. Bitte überprüfen Sie Ihren "
                       "DHCP-Server.",
                       kFinishLan}),
                true};
    case VerifyWrongAccessCode:
        return {Lines({"Achtung: Es wurde zwar in Ihrem Netzwerk ein Velantrix-Lan-Interface mit "
                       "der von Ihnen angegebenen Seriennummer gefunden, aber der von Ihnen "
                       "angegebene Zugriffscode scheint nicht zu stimmen.",
                       "Klicken Sie auf \"Zurück\", um den Zugriffscode zu korrigieren."}),
                false};
    case VerifyNotChecked:
        return {Lines({"Sie haben eine IP-Adresse für Ihr Lan-Interface vorgegeben. Das ist nur "
                       "notwendig, wenn sich das Lan-Interface nicht direkt in Ihrem lokelen "
                       "Netzwerk befindet.",
                       "Es wurde nicht überprüft, ob die von Ihnen vorgenommenen Einstellungen "
                       "korrekt sind.",
                       kFinishLan}),
                true};
    default:
        return {};
    }
}

VerifyOutcome DescribeService(int result) {
    switch (result) {
    case VerifyOk:
        return {Lines({"Sie haben diese Anwendung für die Verwendung eines auf einem anderen "
                       "Computer installierten Radlex-Service konfiguriert.",
                       "Unter der von Ihnen angegebenen Netzwerkadresse wurde ein Radlex-Service "
                       "gefunden.",
                       "Klicken Sie auf \"Fertig stellen\", um Ihre Einstellungen zu "
                       "übernehmen."}),
                true};
    case VerifyNotFound:
        return {Lines({"Achtung: Sie haben versucht, diese Anwendung für die Verwendung eines auf "
                       "einem anderen Computer installierten Radlex-Service zu konfigurieren.",
                       "Es wurde jedoch unter der von Ihnen angegebenen Netzwerkadresse kein "
                       "Radlex-Service gefunden.",
                       "Klicken Sie auf \"Fertig stellen\", um Ihre Einstellungen trotzdem zu "
                       "übernehmen oder auf \"Zurück\", um Ihre Einstellungen zu überprüfen."}),
                true};
    default:
        return {};
    }
}

} // namespace

VerifyOutcome DescribeVerifyResult(ConnectionType connection, int result) {
    switch (connection) {
    case ConnectionType::Usb:
        return DescribeUsb(result);
    case ConnectionType::Lan:
        return DescribeLan(result);
    case ConnectionType::RemoteService:
        return DescribeService(result);
    default:
        return {};
    }
}

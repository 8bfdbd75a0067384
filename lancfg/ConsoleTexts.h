#pragma once

// The console tool's texts, each with the stream it goes to. Texts that end a line end with
// "\n"; the others are parts of a line or of a misuse line ("Error: %s\n").

#include "Command.h"

#include <ostream>
#include <string>

enum class TextStream {
    Out,     // standard output: the results
    Err,     // standard error: explanations beside the results
    Results, // standard output, or standard error when standard output holds a JSON document
};

struct ConsoleText {
    TextStream stream;
    const char* format; // printf format
};

// ---- misuse of the command line: "Error: " and the reason on err, then the usage text ----
inline constexpr ConsoleText kErrorLine{TextStream::Err, "Error: %s\n"};
inline constexpr ConsoleText kNoCommand{TextStream::Err, "no command given"};
// the word, and the commands ("list, show, set, fwupdate, apply and history")
inline constexpr ConsoleText kUnknownCommand{TextStream::Err,
                                             "unknown command \"%s\" (the commands are %s)"};
inline constexpr ConsoleText kNeedsValue{TextStream::Err, "option %s needs a value"};
inline constexpr ConsoleText kNoSuchOption{TextStream::Err, "%s has no option \"%s\""};
// command, word, and where it stands (" after the serial number")
inline constexpr ConsoleText kNoArgument{TextStream::Err, "%s takes no argument \"%s\"%s"};
// command, what it needs, and the flag that may stand instead (" (or --all)")
inline constexpr ConsoleText kNeeds{TextStream::Err, "%s needs %s%s"};
inline constexpr ConsoleText kNotBoth{TextStream::Err, "%s takes %s or %s, not both"};
// option, value, and what the value is not
inline constexpr ConsoleText kBadValue{TextStream::Err, "%s %s %s"};
inline constexpr ConsoleText kChangesNothing{
    TextStream::Err, "set without -i, -n, -g, -d or -y changes nothing; nothing was sent"};
inline constexpr ConsoleText kNeedsFirmware{TextStream::Err,
                                            "fwupdate needs the firmware file: -f <firmware-file>"};

// ---- input refused before anything is sent: one line on err, exit status 2 ----
inline constexpr ConsoleText kNotOneSerial{
    TextStream::Err, "Error: %s is not the serial number of one device (it holds '*' or a "
                     "character outside printable ASCII)\n"};

inline constexpr ConsoleText kVersion{TextStream::Out, "lancfg %s\n"};
inline constexpr ConsoleText kOutputLost{
    TextStream::Err, "lancfg: the output could not be written (a full disk, or a reader that "
                     "went away); what it held is incomplete\n"};

// ---- list ----
inline constexpr ConsoleText kListDevice{TextStream::Out, "%s %6s %s "};
inline constexpr ConsoleText kListAddresses{TextStream::Out, "%s/%s GW=%s %s %s"};
inline constexpr ConsoleText kLineEnd{TextStream::Out, "\n"};

// ---- show ----
inline constexpr ConsoleText kShowHeader{TextStream::Out, "%s configuration parameters:\n"};
inline constexpr ConsoleText kShowDhcpIp{TextStream::Out, "  DHCP IP:         %s\n"};
inline constexpr ConsoleText kShowDhcpNetmask{TextStream::Out, "  DHCP Netmask:    %s\n"};
inline constexpr ConsoleText kShowDhcpGateway{TextStream::Out, "  DHCP Gateway:    %s\n"};
inline constexpr ConsoleText kShowStaticIp{TextStream::Out, "  Static IP:       %s\n"};
inline constexpr ConsoleText kShowStaticNetmask{TextStream::Out, "  Static Netmask:  %s\n"};
inline constexpr ConsoleText kShowStaticGateway{TextStream::Out, "  Static Gateway:  %s\n"};
inline constexpr ConsoleText kShowDhcp{TextStream::Out, "  DHCP:            %s\n"};
inline constexpr ConsoleText kShowEncryption{TextStream::Out, "  Lan Encryption:  %s\n"};

// ---- one device: finding, reading, writing, updating ----
inline constexpr ConsoleText kNotFoundOnLan{TextStream::Results,
                                            "Error: Lan Interface %s not found on LAN.\n"};
inline constexpr ConsoleText kReadFailed{TextStream::Results,
                                         "Error reading configuration from Lan Interface %s.\n"};
inline constexpr ConsoleText kUpdated{TextStream::Results, "%s was updated successfully\n"};
inline constexpr ConsoleText kRebooting{TextStream::Results,
                                        "%s is rebooting for the changes to become active...\n"};
// the key (or where it came from), the serial number
inline constexpr ConsoleText kWrongKey{TextStream::Results,
                                       "%s is probably the wrong crypt key for %s\n"};
inline constexpr ConsoleText kNeedKey{TextStream::Results,
                                      "You need to specify %ss crypt key with \"-k\"\n"};
inline constexpr ConsoleText kUpdateFailed{TextStream::Results, "Updating %s failed\n"};
inline constexpr ConsoleText kNotKept{TextStream::Results,
                                      "%s did not keep the new configuration\n"};
inline constexpr ConsoleText kRunsVersion{TextStream::Results, "%s runs version %s\n"};
inline constexpr ConsoleText kNotBack{TextStream::Results,
                                      "%s did not come back after the update\n"};
inline constexpr ConsoleText kFirmwareRefused{TextStream::Err, "Firmware file %s: %s\n"};
// serial number, why its update failed
inline constexpr ConsoleText kDeviceFailure{TextStream::Err, "%s: %s\n"};

// ---- firmware rollouts: one result line per device ----
inline constexpr ConsoleText kFleetUpdated{TextStream::Out,
                                           "%s was updated successfully and runs version %s\n"};
inline constexpr ConsoleText kFleetUpdatedUnverified{TextStream::Out,
                                                     "%s was updated successfully\n"};
// serial number, version
inline constexpr ConsoleText kSameVersion{TextStream::Results,
                                          "%s still runs version %s, as before the update\n"};
inline constexpr ConsoleText kCurrent{TextStream::Out,
                                      "%s already runs version %s; nothing was sent\n"};
// serial number, reason
inline constexpr ConsoleText kFleetFailed{TextStream::Out, "Updating %s failed: %s\n"};
inline constexpr ConsoleText kSkipped{TextStream::Out, "%s was not started: %s\n"};
// "20 devices: 17 updated, 1 current, 1 failed, 1 offline"
inline constexpr ConsoleText kSummary{TextStream::Results, "%zu device%s: %s\n"};
// serial number, what to do
inline constexpr ConsoleText kAttention{TextStream::Results, "  %s: %s\n"};
inline constexpr ConsoleText kAttentionHeader{TextStream::Results, "Needs attention:\n"};
// count, plural s, file
inline constexpr ConsoleText kAskList{TextStream::Err, "  %-10s  %6s  %s\n"};
inline constexpr ConsoleText kAskQuestion{TextStream::Err, "Update %zu devices with %s? [y/N] "};
inline constexpr ConsoleText kNeedsYes{
    TextStream::Err, "Error: fwupdate of several devices asks before it starts, and standard "
                     "input is not a terminal: give --yes to update them without the question; "
                     "nothing was sent\n"};
inline constexpr ConsoleText kDeclined{TextStream::Err, "Nothing was sent.\n"};
// how many finish
inline constexpr ConsoleText kStopping{
    TextStream::Err, "Stopping: no further device starts; %zu device%s already told to update "
                     "finish first (a second signal ends at once and leaves them as they are).\n"};
inline constexpr ConsoleText kStranded{
    TextStream::Err, "%s is left in its bootloader; finish it with: lancfg fwupdate %s -f %s\n"};
inline constexpr ConsoleText kWarning{TextStream::Err, "Warning: %s\n"};

// ---- history: time, serial number, "1.234 -> 1.240", result, attempts, plural s, seconds ----
inline constexpr ConsoleText kHistoryLine{TextStream::Out,
                                          "%s  %-10s  %-16s  %s, %u attempt%s, %.1f s\n"};

// ---- the devices remembered: list --known, watch, export, forget ----
inline constexpr ConsoleText kOffline{TextStream::Out, "offline"};
// list --known, after the serial number, version and kOffline: when and where it last answered
inline constexpr ConsoleText kListOffline{TextStream::Out, "last seen %s at %s"};
// watch: time, serial number, version, state, where it answered, and " STAT PLAIN" when it runs
inline constexpr ConsoleText kWatchAppeared{TextStream::Out, "%s + %s %s %s at %s%s\n"};
// time, serial number, "version 1.234 -> 1.240, dhcp off -> on"
inline constexpr ConsoleText kWatchChanged{TextStream::Out, "%s ~ %s %s\n"};
// time, serial number, when and where it last answered
inline constexpr ConsoleText kWatchGone{TextStream::Out, "%s - %s last seen %s at %s\n"};
inline constexpr ConsoleText kForgotten{TextStream::Out, "%s is no longer remembered\n"};
inline constexpr ConsoleText kNotRemembered{
    TextStream::Err, "Error: %s is not remembered; lancfg list --known shows the devices that "
                     "are\n"};
inline constexpr ConsoleText kNeedsFormat{TextStream::Err,
                                          "export needs --format csv or --format prometheus"};
// the file, the system's reason
inline constexpr ConsoleText kExportNotWritten{TextStream::Err,
                                               "Error: %s could not be written: %s\n"};
// after "Warning: ": the file, why
inline constexpr ConsoleText kInventoryUnread{
    TextStream::Err, "the inventory %s could not be read (%s); the remembered devices are left out"};
// the file, why, the name it now has
inline constexpr ConsoleText kInventorySetAside{
    TextStream::Err,
    "the inventory %s could not be read (%s); it was set aside as %s and a new one begun"};
inline constexpr ConsoleText kInventoryNotWritten{TextStream::Err,
                                                  "the inventory %s could not be written: %s"};
// export --format csv: the header line, and a line's end (CR LF)
inline constexpr ConsoleText kCsvHeader{
    TextStream::Out,
    "serialNumber,version,state,ip,netmask,gateway,dhcp,encryption,network,address,lastSeen\r\n"};
// export --format prometheus: each metric's help
inline constexpr ConsoleText kMetricInfo{
    TextStream::Out, "A LAN interface: its serial number, the version it runs and where it "
                     "answered."};
inline constexpr ConsoleText kMetricUp{
    TextStream::Out, "1 when the LAN interface answered the search of this export, 0 when it is "
                     "only remembered."};
inline constexpr ConsoleText kMetricLastSeen{
    TextStream::Out, "When the LAN interface last answered a search, in seconds since 1970."};

// ---- apply ----
inline constexpr ConsoleText kUnchanged{TextStream::Out, "%s unchanged\n"};
inline constexpr ConsoleText kChanged{TextStream::Out, "%s changed: %s\n"};
inline constexpr ConsoleText kWouldChange{TextStream::Out, "%s would change: %s\n"};
inline constexpr ConsoleText kNotApplied{TextStream::Out, "%s was not changed: %s\n"};

// ---- what a search could not do ----
// count not sent to, count of addresses, the system's reason
inline constexpr ConsoleText kSearchNotSentToAddresses{
    TextStream::Err, "The search could not be sent to %zu of the %zu addresses given with -a "
                     "(%s); devices there are not listed.\n"};
inline constexpr ConsoleText kRepliesCapped{
    TextStream::Err, "The search stopped at %zu answers; more devices may have answered and are "
                     "not listed. Several -a ranges split a site into parts that stay below it.\n"};
// serial number, where it answered from
inline constexpr ConsoleText kNamesakes{
    TextStream::Err, "Error: %s answered from %s: more than one device has this serial number, "
                     "and nothing was sent to any; give -a ADDRESS to pick one.\n"};

// ---- nothing answered ----
inline constexpr ConsoleText kSearchNotSent{
    TextStream::Err, "The search could not be sent on %s (%s); devices there are not listed.\n"};
inline constexpr ConsoleText kNothingAtAddresses{
    TextStream::Err, "No LAN interface answered at the %zu addresses given with -a. Check the "
                     "addresses, the cable, and that no firewall blocks UDP port %u.\n"};
inline constexpr ConsoleText kNothingAtAddress{
    TextStream::Err, "No LAN interface answered at %s. Check the address, the cable, and that "
                     "no firewall blocks UDP port %u.\n"};
inline constexpr ConsoleText kNothingSent{
    TextStream::Err,
    "No LAN interface could answer: the search could not be sent on any network.\n"};
// "on lo (127.0.0.1), eth1 (192.168.1.10)", or kNoNetwork
inline constexpr ConsoleText kNothingAnswered{
    TextStream::Err, "No LAN interface answered %s. Check the cable, that no firewall blocks UDP "
                     "port %u, and for a device behind a router give its address with -a <ip>.\n"};
inline constexpr ConsoleText kNoNetwork{
    TextStream::Err, "(no network interface is up with an IPv4 address and multicast)"};
// count, plural s, serial number, kLetterCaseHint or nothing
inline constexpr ConsoleText kOthersAnswered{
    TextStream::Err, "%zu LAN interface%s answered, none with the serial number %s; `lancfg "
                     "list` shows them.%s\n"};
inline constexpr ConsoleText kLetterCaseHint{
    TextStream::Err, " Did you mean %s? Serial numbers are compared with their letter case."};

// The stream a text goes to in this command.
inline std::ostream& StreamOf(CommandContext& context, TextStream stream) {
    switch (stream) {
    case TextStream::Out:
        return context.out;
    case TextStream::Err:
        return context.err;
    default:
        return context.Messages();
    }
}

// Prints a text on its stream; the format is checked against the arguments when it compiles.
template <const ConsoleText& text, typename... Args>
void Say(CommandContext& context, Args... args) {
    Print(StreamOf(context, text.stream), text.format, args...);
}

// Prints a text on a stream of the caller's, for lines that are collected before they are
// printed (a device's lines during a fleet update, a device shown among all).
template <const ConsoleText& text, typename... Args> void SayOn(std::ostream& out, Args... args) {
    Print(out, text.format, args...);
}

// A text as a string: a part of a line, or the reason of a misuse line.
template <const ConsoleText& text, typename... Args> std::string TextOf(Args... args) {
    return Format(text.format, args...);
}

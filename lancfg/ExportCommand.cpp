#include "ExportCommand.h"

#include "AtomicFile.h"
#include "CommandLine.h"
#include "ConsoleTexts.h"
#include "DeviceSearch.h"
#include "Inventory.h"
#include "LanInterface.h"
#include "ListCommand.h"

#include <iterator>
#include <map>

namespace {

// A field as RFC 4180 wants it: quoted, with its quotes doubled, when it holds a comma, a quote
// or a line break. Serial numbers come from the network and may hold any of them.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// A label value of the Prometheus text format: backslash, quote and line feed escaped.
std::string LabelValue(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n') {
            escaped += "\\n";
            continue;
        }
        escaped += c;
    }
    return escaped;
}

std::string Label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + LabelValue(value) + "\"";
}

std::string Family(const char* name, const ConsoleText& help) {
    return std::string("# HELP ") + name + " " + help.format + "\n# TYPE " + name + " gauge\n";
}

std::string Known(bool read, const std::string& address) {
    return read && address != "n/a" ? address : std::string();
}

} // namespace

std::string ExportCommand::CsvText(const std::vector<Row>& rows) {
    std::string text = kCsvHeader.format;
    for (const Row& r : rows) {
        const std::string fields[] = {r.seen->serialNumber, r.seen->version, r.state, r.ip,
                                      r.netmask, r.gateway, r.dhcp, r.encryption,
                                      r.seen->network, r.seen->address, IsoTime(r.seen->lastSeen)};
        for (size_t n = 0; n < std::size(fields); ++n)
            text += (n == 0 ? "" : ",") + CsvField(fields[n]);
        text += "\r\n";
    }
    return text;
}

std::string ExportCommand::PrometheusText(const std::vector<Row>& rows) {
    // A serial number heard from two addresses (two devices, or a clone) would give its series
    // twice, and a collector refuses a file with a series given twice: those carry the address.
    std::map<std::string, int> count;
    for (const Row& r : rows)
        ++count[r.seen->serialNumber];
    auto device = [&count](const Row& r) {
        std::string labels = Label("serial", r.seen->serialNumber);
        if (count[r.seen->serialNumber] > 1)
            labels += "," + Label("address", r.seen->address);
        return labels;
    };
    std::string info = Family("lanif_device_info", kMetricInfo);
    std::string up = Family("lanif_device_up", kMetricUp);
    std::string lastSeen = Family("lanif_device_last_seen_timestamp_seconds", kMetricLastSeen);
    for (const Row& r : rows) {
        info += "lanif_device_info{" + Label("serial", r.seen->serialNumber) + "," +
                Label("version", r.seen->version) + "," + Label("network", r.seen->network) + "," +
                Label("address", r.seen->address) + "} 1\n";
        up += "lanif_device_up{" + device(r) + "} " + (r.online ? "1" : "0") + "\n";
        lastSeen += "lanif_device_last_seen_timestamp_seconds{" + device(r) + "} " +
                    std::to_string(r.seen->lastSeen) + "\n";
    }
    return info + up + lastSeen;
}

const CommandSyntax& ExportCommand::Syntax() const {
    static const CommandSyntax syntax{
        "export",
        Positional::None,
        nullptr,
        nullptr,
        {SharedOptions::Address,
         {"--format", "csv|prometheus",
          [](const std::string& value) { return value == "csv" || value == "prometheus"; },
          "is neither csv nor prometheus",
          [](CommandLine& line, const std::string& value) { line.format = value; },
          "CSV with a header line, or the Prometheus text format"},
         {"-o", "<file>", nullptr, nullptr,
          [](CommandLine& line, const std::string& value) { line.output = value; },
          "write to this file, replaced whole, instead of standard output"},
         SharedOptions::Key,
         SharedOptions::NoInventory},
        {{{"--format", "[-o]"},
          "the devices found and the remembered ones, as CSV or for Prometheus"}}};
    return syntax;
}

std::string ExportCommand::Misuse(const CommandLine& line) const {
    return line.format.empty() ? TextOf<kNeedsFormat>() : std::string();
}

int ExportCommand::Execute(const CommandLine& line, CommandContext& context) const {
    // Programs read it: the search reads past list's limit, as list --json does.
    const ListCommand::Listed listed = ListCommand::SearchAndRead(context, SiteReplies);
    const std::vector<LanInterface>& devices = listed.found.devices;
    const std::vector<int32_t>& states = listed.states;
    const std::vector<DeviceReads>& reads = listed.reads;
    const Recalled recalled = Recall(context, devices);

    std::vector<Row> rows;
    for (size_t i = 0; i < devices.size(); ++i) {
        const LanInterface& d = devices[i];
        Row row{&recalled.found[i], true, StateWord(states[i]), {}, {}, {}, {}, {}};
        if (states[i] == StateRun) {
            const bool status = reads[i].status == ResultOk, config = reads[i].config == ResultOk;
            row.ip = Known(status, d.currentIp);
            row.netmask = Known(status, d.currentNetmask);
            row.gateway = Known(status, d.currentGateway);
            row.dhcp = config ? (d.dhcp ? "true" : "false") : "";
            row.encryption = config ? (d.crypt ? "true" : "false") : "";
        }
        rows.push_back(row);
    }
    for (const InventoryEntry& entry : recalled.offline)
        rows.push_back({&entry, false, kOffline.format, {}, {}, {}, {}, {}});

    const std::string text = line.format == "csv" ? CsvText(rows) : PrometheusText(rows);
    if (devices.empty())
        PrintNothingFound(context);
    if (!line.output) {
        context.out << text << std::flush;
        return ExitOk;
    }
    std::string error;
    if (!AtomicFile::Write(*line.output, text, AtomicFile::WithUmask, &error)) {
        Say<kExportNotWritten>(context, line.output->c_str(), error.c_str());
        return ExitFailed;
    }
    return ExitOk;
}

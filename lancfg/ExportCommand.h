#pragma once

#include "Command.h"

#include <string>
#include <vector>

struct InventoryEntry;

// Asks the devices as list does and writes them, with the remembered ones that did not answer,
// as CSV or in the Prometheus text format: to standard output, or to a file replaced whole, so
// that a collector reading it never sees half a file.
class ExportCommand : public Command {
public:
    const CommandSyntax& Syntax() const override;
    std::string Misuse(const CommandLine& line) const override;
    int Execute(const CommandLine& line, CommandContext& context) const override;

    // One device of an export: what it answered now, or what is remembered of it.
    struct Row {
        const InventoryEntry* seen;
        bool online;
        std::string state; // the state word, or "offline"
        std::string ip, netmask, gateway; // empty where not known
        std::string dhcp, encryption;     // "true", "false", or empty where not known
    };
    static std::string CsvText(const std::vector<Row>& rows);
    static std::string PrometheusText(const std::vector<Row>& rows);
};

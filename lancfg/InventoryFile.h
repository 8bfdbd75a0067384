#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct InventoryEntry;

// The inventory's file format: {"devices": [...]} with one JSON object per device on a line of
// its own, so that a person can read it and a diff shows what changed. Read and written without
// a document in memory, as every search of a large site reads and writes it whole.
class InventoryFile {
public:
    // The entries of text; false with why ("it is not JSON", "entry 3 is not a device") when
    // text is not an inventory. Members other than the ones written are passed over.
    static bool Parse(const std::string& text, std::vector<InventoryEntry>* entries,
                      std::string* why);
    static std::string Text(const std::vector<InventoryEntry>& entries);
};

// A time as ISO 8601 in UTC ("2026-01-05T10:00:00Z"), and back; false for any other text.
std::string IsoTime(int64_t seconds);
bool ParseIsoTime(const std::string& text, int64_t* seconds);

#pragma once

// The console tool's JSON output: one object per line, and an array as one element per line, so
// that a program can read the document whole and a person can still read it.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using JsonObject = nlohmann::ordered_json; // members in the order they are added

// An address text as JSON: the text, or null when the device does not have one (empty or "n/a").
JsonObject JsonAddress(const std::string& text);

// value on one line, every byte outside printable ASCII escaped, so that bytes from the network
// can break neither the document nor the terminal.
std::string JsonLine(const JsonObject& value);

// "[\n", the elements one per line joined by ",\n", "\n]\n"; "[]\n" for none.
std::string JsonArrayLines(const std::vector<JsonObject>& elements);

#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CommandContext;

// The addresses that one value of -a stands for: an IPv4 address, or a range A.B.C.D/NN with NN
// from 22 to 32 (at most 1024 addresses, so that one reply window suffices for all of them).
class AddressRange {
public:
    enum Outcome {
        RangeOk,
        RangeInvalid, // not an address: misuse of the command line
        RangeRefused, // an address that cannot be asked; reason says why
    };

    // An IPv4 address, or one followed by / and a prefix length 0 to 32: what -a may be given.
    static bool IsAddressOrRange(const std::string& value);

    // Fills addresses (dotted, in ascending order). A range leaves out its network and broadcast
    // addresses, except /31 and /32, which have none.
    static Outcome Expand(const std::string& value, std::vector<std::string>* addresses,
                          std::string* reason);

    static constexpr int SmallestPrefix = 22;
};

// Turns the values of -a into the addresses to ask: one plain address goes to the context's
// address (the requests of the command go there as before), anything else to its addresses,
// expanded and without repetitions. False after printing on err why a value was refused.
bool ResolveAddresses(const std::vector<std::string>& values, CommandContext& context);

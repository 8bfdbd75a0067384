#pragma once

#include <string>

// The checks around the file of the stored settings, made before the settings library opens it
// (which would block for good on a FIFO and read anything it is given).
class SettingsFile {
public:
    // Larger than any settings file this program writes by far.
    static constexpr long long MaxSize = 64 * 1024;

    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    bool Exists() const;
    // Whether the file may be read: it does not exist, or it is a regular file (a link to one
    // counts) of at most MaxSize bytes. Otherwise `why` says what it is.
    bool IsReadable(std::string& why) const;
    // Whether the settings may be written here: the file does not exist yet or is a regular
    // file (a link to one counts).
    bool IsWritable(std::string& why) const;
    // Makes the file owner-only (0600) when it is looser. A link is followed only to a file in
    // the settings folder: the mode of a file elsewhere is never changed.
    void RestrictMode() const;
    // Creates the file owner-only if it does not exist, so that nothing is ever written into
    // it with a looser mode, and restricts it (RestrictMode).
    void CreateOwnerOnly() const;

private:
    std::string path_;
};

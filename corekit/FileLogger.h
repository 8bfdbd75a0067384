#pragma once

#include "Logger.h"

#include <mutex>
#include <string>

// Appends one line per record to a file: "YYYY-MM-DD hh:mm:ss <level> [module] message".
// Records may come from several threads; each is written whole.
class FileLogger : public Logger {
public:
    FileLogger() = default;
    ~FileLogger() override = default;

    void SetFilename(const std::string& path);
    std::string GetFilename() const;

protected:
    bool DoLog(int level, const char* module, const char* message) override;

private:
    mutable std::mutex mutex_;
    std::string path_;
};

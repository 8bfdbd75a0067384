#include "FileLogger.h"

#include <cstdio>
#include <ctime>

void FileLogger::SetFilename(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    path_ = path;
}

std::string FileLogger::GetFilename() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

bool FileLogger::DoLog(int level, const char* module, const char* message) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);

    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty())
        return false;
    std::FILE* f = std::fopen(path_.c_str(), "a");
    if (!f)
        return false;
    bool ok = std::fprintf(f, "%s %d [%s] %s\n", stamp, level, module, message) > 0;
    return std::fclose(f) == 0 && ok;
}

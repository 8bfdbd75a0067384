#include "Logger.h"

Logger* Logger::s_logger = nullptr;

bool Logger::Log(int level, const char* module, const char* message) {
    if (level > level_)
        return false;
    return DoLog(level, module ? module : "", message ? message : "");
}

bool Logger::Write(int level, const char* module, const char* message) {
    return s_logger ? s_logger->Log(level, module, message) : false;
}

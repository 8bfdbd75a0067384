#pragma once

// Process-wide logging. The program that wants a log stores its logger in s_logger and deletes
// it through s_logger at exit; records above the set level are dropped.
class Logger {
public:
    static Logger* s_logger;

    virtual ~Logger() = default;
    void SetLevel(int level) { level_ = level; }
    int GetLevel() const { return level_; }

    // Writes one record when level does not exceed the logger's level.
    bool Log(int level, const char* module, const char* message);

    // Logs through s_logger when one is installed.
    static bool Write(int level, const char* module, const char* message);

protected:
    virtual bool DoLog(int level, const char* module, const char* message) = 0;

private:
    int level_ = 0;
};

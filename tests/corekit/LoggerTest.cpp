#include "FileLogger.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FileLogger, WritesRecordsUpToItsLevelThroughTheProcessLogger) {
    char path[] = "/tmp/vklogXXXXXX";
    close(mkstemp(path));
    auto* logger = new FileLogger;
    logger->SetFilename(path);
    logger->SetLevel(1);
    Logger::s_logger = logger;
    EXPECT_TRUE(Logger::Write(1, "web", "started"));
    EXPECT_FALSE(Logger::Write(2, "web", "too detailed"));
    delete Logger::s_logger;
    Logger::s_logger = nullptr;
    EXPECT_FALSE(Logger::Write(1, "web", "no logger"));

    std::string text = ReadAll(path);
    EXPECT_NE(text.find(" 1 [web] started\n"), std::string::npos);
    EXPECT_EQ(text.find("too detailed"), std::string::npos);
    unlink(path);
}

TEST(FileLogger, KeepsRecordsWholeWhenThreadsLogAtOnce) {
    char path[] = "/tmp/vklogXXXXXX";
    close(mkstemp(path));
    FileLogger logger;
    logger.SetFilename(path);
    logger.SetLevel(5);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&logger] {
            for (int i = 0; i < 50; ++i)
                logger.Log(1, "t", "0123456789abcdefghijklmnopqrstuvwxyz");
        });
    for (auto& th : threads)
        th.join();
    std::istringstream lines(ReadAll(path));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_NE(line.find("[t] 0123456789abcdefghijklmnopqrstuvwxyz"), std::string::npos);
    }
    EXPECT_EQ(count, 200);
    unlink(path);
}

} // namespace

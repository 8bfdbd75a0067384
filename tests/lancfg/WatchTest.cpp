// lancfg watch as the real program against the simulator: the lines of devices that appear,
// change and fall silent, one lost reply that is no departure, the interval between searches,
// and the end on Ctrl-C.
#include "Inventory.h"
#include "SimFixture.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace simtest;
using Clock = std::chrono::steady_clock;

namespace {

// The real program with its standard output on a pipe the test reads line by line.
class WatchProgram {
public:
    WatchProgram(const std::vector<std::string>& words, const std::string& stateFolder) {
        std::vector<std::string> all = {VK_BIN_DIR "/lancfg"};
        all.insert(all.end(), words.begin(), words.end());
        std::vector<char*> argv;
        for (std::string& w : all)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = {"XDG_STATE_HOME=" + stateFolder,
                                        "XDG_CONFIG_HOME=/nonexistent/lancfg-test",
                                        "PATH=/usr/bin:/bin"};
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        fd_ = out[0];
    }
    ~WatchProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            close(fd_);
    }

    // The next line without its time stamp (checked to be one), or "" when none came in time.
    std::string NextLine(std::chrono::milliseconds within) {
        const auto deadline = Clock::now() + within;
        for (;;) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                int64_t time = 0;
                if (line.size() < 21 || !ParseIsoTime(line.substr(0, 20), &time) || line[20] != ' ')
                    return "no time stamp: " + line;
                return line.substr(21);
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return std::string();
            char chunk[4096];
            const ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0)
                return std::string();
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Sends SIGINT and waits for the end: the exit status, or -1 when it did not end in time.
    int Interrupt(std::chrono::milliseconds within) {
        kill(pid_, SIGINT);
        const auto deadline = Clock::now() + within;
        while (Clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buffer_;
};

class WatchTest : public SimTest {
protected:
    void SetUp() override {
        char dir[] = "/tmp/watchtestXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
    }
    void TearDown() override {
        SimTest::TearDown();
        std::system(("rm -rf '" + folder + "'").c_str());
    }
    std::string folder;
};

TEST_F(WatchTest, ReportsAppearedChangedAndGoneButNotOneLostReplyAndEndsOnCtrlC) {
    // The script, by search: after the first, KPL0000001 runs 1.240 from the next search on;
    // after the second its DHCP is on. KPL0000002 misses the second search only (one lost
    // reply), and after the third it falls silent for good.
    std::mutex lock;
    std::vector<Clock::time_point> searches;
    sim.SetRequestObserver([&](const lanifsim::RecordedRequest& r) {
        std::lock_guard<std::mutex> guard(lock);
        if (r.command == 'I' && r.serialField == std::string(10, '*')) {
            searches.push_back(Clock::now());
            if (searches.size() == 1)
                sim.ModifyDevice(kPlainSerial, [](lanifsim::SimDevice& d) { d.version = 1240; });
            if (searches.size() == 2) {
                sim.ModifyDevice(kPlainSerial, [](lanifsim::SimDevice& d) { d.dhcp = true; });
                sim.ModifyDevice(kCryptSerial, [](lanifsim::SimDevice& d) { d.silent = false; });
            }
        }
        // Its last read of the first and of the third round.
        if (r.command == 'c' && r.serialField == kCryptSerial && !r.answeredBy.empty() &&
            (searches.size() == 1 || searches.size() == 3))
            sim.ModifyDevice(kCryptSerial, [](lanifsim::SimDevice& d) { d.silent = true; });
    });
    StartWith({PlainDevice(), PlainDevice(kCryptSerial)});
    constexpr int Interval = 3;
    WatchProgram watch({"watch", "--interval", std::to_string(Interval)}, folder);

    const std::chrono::seconds round(Interval + 2);
    EXPECT_EQ(watch.NextLine(round), "+ KPL0000001 1.234 Run at 127.0.0.1 (lo) STAT PLAIN");
    EXPECT_EQ(watch.NextLine(round), "+ KPL0000002 1.234 Run at 127.0.0.1 (lo) STAT PLAIN");
    EXPECT_EQ(watch.NextLine(round), "~ KPL0000001 version 1.234 -> 1.240, dhcp off -> on");
    // Back after one search without it: nothing; gone after two in a row.
    const std::string gone = watch.NextLine(3 * round);
    EXPECT_EQ(gone.substr(0, 23), "- KPL0000002 last seen ") << gone;
    EXPECT_EQ(gone.substr(gone.size() - 18), " at 127.0.0.1 (lo)");
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(searches.size(), 5u) << "gone after the fifth search: it missed the fourth and fifth";
        for (size_t i = 1; i < searches.size(); ++i) {
            const double gap = std::chrono::duration<double>(searches[i] - searches[i - 1]).count();
            EXPECT_GE(gap, Interval - 0.1);
            EXPECT_LE(gap, Interval * 1.5);
        }
    }
    // Ctrl-C in the middle of a search window ends it at once, not when the window is over.
    for (auto until = Clock::now() + round; Clock::now() < until;) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (searches.size() == 6)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(watch.Interrupt(std::chrono::milliseconds(1500)), 0);
}

} // namespace

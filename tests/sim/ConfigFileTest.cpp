// Device files, and the program that serves them.

#include "SimTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

extern char** environ;

namespace simtest {
namespace {

class LanifsimConfigFileTest : public SimClientTest {
protected:
    std::string Write(const std::string& text) {
        std::string path = ::testing::TempDir() + "lanif_sim_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini";
        std::ofstream(path) << text;
        files_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const auto& f : files_)
            std::remove(f.c_str());
    }

private:
    std::vector<std::string> files_;
};

TEST_F(LanifsimConfigFileTest, EveryKeyReachesTheDevice) {
    const std::string path = Write(R"(# devices
[full]
serial = KPL0000009
type = vK7LanXX
version = 2005
bootloaderVersion = 9
inBootloader = 1
currentIp = 10.1.2.3
currentGateway = 10.1.2.1
currentNetmask = 255.255.255.128
currentAddress4 = 1.1.1.4
currentAddress5 = 1.1.1.5
staticIp = 10.9.8.7
staticGateway = 10.9.8.1
staticNetmask = 255.0.0.0
staticAddress4 = 2.2.2.4
staticAddress5 = 2.2.2.5
dhcp = 1
crypt = true
key = 000102030405060708090a0B0C0D0E0F
challengeReads = 1
writeConfigCode = 2
bootloaderCode = 3
bootloaderCodeInBootloader = 4
restartAfterBlock = 7
refuseBlock = 5
versionAfterUpdate = 2010
silentAfterUpdate = yes
restartSilenceMs = 250
restartIntoApplication = 1
silent = 0
dropFirstReplyTo = NcW
identPayloadLength = 4
extraReplyBytes = 3

[many]
serial = MANY
count = 3
)");
    std::string error;
    ASSERT_TRUE(sim.LoadConfig(path, &error)) << error;
    EXPECT_EQ(sim.DeviceCount(), 4u);

    SimDevice d = Stored("KPL0000009");
    EXPECT_EQ(d.type, "vK7LanXX");
    EXPECT_EQ(d.version, 2005);
    EXPECT_EQ(d.bootloaderVersion, 9);
    EXPECT_TRUE(d.inBootloader);
    EXPECT_EQ(d.currentIp, (lanifsim::Address{10, 1, 2, 3}));
    EXPECT_EQ(d.currentGateway, (lanifsim::Address{10, 1, 2, 1}));
    EXPECT_EQ(d.currentNetmask, (lanifsim::Address{255, 255, 255, 128}));
    EXPECT_EQ(d.currentAddress4, (lanifsim::Address{1, 1, 1, 4}));
    EXPECT_EQ(d.currentAddress5, (lanifsim::Address{1, 1, 1, 5}));
    EXPECT_EQ(d.staticIp, (lanifsim::Address{10, 9, 8, 7}));
    EXPECT_EQ(d.staticGateway, (lanifsim::Address{10, 9, 8, 1}));
    EXPECT_EQ(d.staticNetmask, (lanifsim::Address{255, 0, 0, 0}));
    EXPECT_EQ(d.staticAddress4, (lanifsim::Address{2, 2, 2, 4}));
    EXPECT_EQ(d.staticAddress5, (lanifsim::Address{2, 2, 2, 5}));
    EXPECT_TRUE(d.dhcp);
    EXPECT_TRUE(d.crypt);
    EXPECT_EQ(d.key, Key());
    EXPECT_TRUE(d.challengeReads);
    EXPECT_EQ(d.writeConfigCode, 2);
    EXPECT_EQ(d.bootloaderCode, 3);
    EXPECT_EQ(d.bootloaderCodeInBootloader, 4);
    EXPECT_EQ(d.restartAfterBlock, 7);
    EXPECT_EQ(d.refuseBlock, 5);
    EXPECT_EQ(d.versionAfterUpdate, 2010);
    EXPECT_TRUE(d.silentAfterUpdate);
    EXPECT_EQ(d.restartSilenceMs, 250);
    EXPECT_TRUE(d.restartIntoApplication);
    EXPECT_FALSE(d.silent);
    EXPECT_EQ(d.dropFirstReplyTo, "NcW");
    EXPECT_EQ(d.identPayloadLength, 4);
    EXPECT_EQ(d.extraReplyBytes, 3);

    // The serial is a prefix; a running number fills it up to ten characters.
    for (const char* serial : {"MANY000001", "MANY000002", "MANY000003"})
        EXPECT_TRUE(sim.GetDevice(serial, nullptr)) << serial;
    EXPECT_FALSE(sim.GetDevice("MANY000004", nullptr));
    EXPECT_FALSE(sim.GetDevice("MANY000000", nullptr));
}

TEST_F(LanifsimConfigFileTest, AnyFaultRejectsTheWholeFileAndNamesIt) {
    const struct {
        const char* text;
        const char* named; // part of the message
    } cases[] = {
        {"[a]\nserial = A1\n[b]\nserial = B1\ncolour = red\n", "colour"},
        {"[a]\nserial = A1\nstaticIp = 10.0.0\n", "staticIp"},
        {"[a]\nserial = A1\ncurrentIp = 10.0.0.256\n", "currentIp"},
        {"[a]\nserial = A1\nkey = 000102030405060708090A0B0C0D0E0\n", "key"},
        {"[a]\nserial = A1\nkey = 000102030405060708090A0B0C0D0E0G\n", "key"},
        {"[a]\nserial = A1\nversion = 65536\n", "version"},
        {"[a]\nserial = A1\nrestartSilenceMs = soon\n", "restartSilenceMs"},
        {"[a]\nserial = A1\ndhcp = maybe\n", "dhcp"},
        {"[a]\nserial = SERIAL12345\n", "serial"},
        {"[a]\ntype = vK7LanIfX\nserial = A1\n", "type"},
        {"[a]\nversion = 3\n", "no serial"},
        {"[a]\nserial = PREFIX7\ncount = 1000\n", "too few characters"},
        {"[a]\nserial = A1\ncount = 0\n", "count"},
        {"serial = A1\n", "section"},
        {"[a]\nserial = A1\nthis line is no entry\n", "cannot read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(sim.LoadConfig(Write(c.text), &error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(sim.LastError(), error);
    }
    EXPECT_EQ(sim.DeviceCount(), 0u);
    EXPECT_FALSE(sim.LoadConfig(::testing::TempDir() + "no_such_lanif_sim.ini"));
}

// The program, run as a user would: config, readiness line, requests, log, clean stop.
class LanifsimProgramTest : public LanifsimConfigFileTest {
protected:
    struct Run {
        pid_t pid = -1;
        FILE* out = nullptr;
    };

    Run Spawn(std::vector<std::string> args, const std::string& errPath) {
        Run run;
        int pipeFds[2];
        EXPECT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        args.insert(args.begin(), std::string(VK_BIN_DIR) + "/lanif-sim");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&run.pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        run.out = ::fdopen(pipeFds[0], "r");
        return run;
    }

    static int Wait(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(LanifsimProgramTest, ServesTheDemoDevicesAndLogsEachRequest) {
    const std::string log = Write("");
    const std::string err = log + ".err";
    Run run = Spawn(
        {"-c", std::string(VK_SOURCE_DIR) + "/tools/lanif-sim/examples/demo.ini", "-l", log}, err);
    ASSERT_NE(run.out, nullptr);
    char line[256] = {};
    // Readiness: the program prints its line only once the devices answer.
    ASSERT_NE(std::fgets(line, sizeof line, run.out), nullptr) << ReadFile(err);
    EXPECT_STREQ(line, "lanif-sim: 4 devices ready\n");

    auto replies = client.Exchange(Frame("vK7Lan*", "**********", 'I'), 10, 300ms);
    EXPECT_EQ(replies.size(), 4u);
    std::string status = client.Ask(To("KPL0000004", 'N'));
    EXPECT_EQ(Payload(status).substr(0, 4), Bytes({127, 0, 0, 1}));
    EXPECT_TRUE(IsChallenge(client.Ask(To("KPL0000002", 'C', std::string(22, '\0')))));
    EXPECT_EQ(TypeOf(client.Ask(To("KPL0000003", 'I'))), "vK7LanBl");

    ::kill(run.pid, SIGTERM);
    EXPECT_EQ(Wait(run.pid), 0);
    std::fclose(run.out);
    EXPECT_EQ(ReadFile(log), "I 764b374c616e2a002a2a2a2a2a2a2a2a2a2a49\n"
                             "N 2a000000000000004b504c30303030303034"
                             "4e\n"
                             "C 2a000000000000004b504c3030303030303243" +
                                 std::string(44, '0') +
                                 "\n"
                                 "I 2a000000000000004b504c303030303030"
                                 "3349\n");
    std::remove(err.c_str());
}

TEST_F(LanifsimProgramTest, BadArgumentsOrConfigurationExitWithTwo) {
    const std::string err = Write("") + ".err";
    const std::string bad = Write("[x]\nserial = A1\nspeed = 9\n");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"-c"}, {"-c", bad}, {"-x"}, {"-c", bad + ".missing"}}) {
        Run run = Spawn(args, err);
        std::fclose(run.out);
        EXPECT_EQ(Wait(run.pid), 2);
    }
    Run run = Spawn({"-c", bad}, err);
    std::fclose(run.out);
    Wait(run.pid);
    EXPECT_NE(ReadFile(err).find("unknown key 'speed'"), std::string::npos) << ReadFile(err);
    std::remove(err.c_str());
}

} // namespace
} // namespace simtest

// The runtime file through which this user's other programs find the web UI: what it holds
// opens the web UI, and a folder that another user prepared is never used.
#include "CWebServer.h"
#include "RuntimeFile.h"
#include "WebTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class RuntimeFileTest : public ::testing::Test {
protected:
    ScratchDir dir{::testing::UnitTest::GetInstance()->current_test_info()->name()};
    std::string runtime = dir.Path() + "/run";
    std::string folder = runtime + "/velantrix-konfigurator";
    std::string file = folder + "/kp_config-" + std::to_string(::getpid()) + ".json";

    void SetUp() override {
        std::filesystem::create_directory(runtime);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of "name": "..." in the file's text.
std::string JsonText(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\": \"";
    const size_t at = json.find(key);
    return at == std::string::npos ? "" : json.substr(at + key.size(),
                                                      json.find('"', at + key.size()) - at -
                                                          key.size());
}

// Another program of this user reads the file and opens its url as a browser would: the answer
// hands over the cookie and the address without the secret, where the page then loads.
TEST_F(RuntimeFileTest, ItsAddressOpensTheWebUi) {
    dir.Write("root/index.htm", "<p>Startseite</p>");
    CWebServer server;
    server.SetPort(0);
    server.SetDocumentRoot(dir.Path() + "/root");
    ASSERT_TRUE(server.Start());
    const int port = server.GetPort();
    {
        RuntimeFile runtimeFile;
        ASSERT_EQ(runtimeFile.Write(port, server.GetToken(), server.GetMount()),
                  RuntimeFile::Result::Written);
        EXPECT_EQ(runtimeFile.Path(), file);
        EXPECT_EQ(runtimeFile.Error(), "");
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        const std::string json = ReadFile(file);
        const std::string token = JsonText(json, "token");
        EXPECT_EQ(token, server.GetToken());
        const std::string prefix = "http://127.0.0.1:" + std::to_string(port);
        const std::string url = JsonText(json, "url");
        ASSERT_EQ(url.rfind(prefix, 0), 0u) << json;
        EXPECT_EQ(url, prefix + "/" + server.GetMount() + "/index.htm?token=" + token);
        EXPECT_NE(json.find("\"port\": " + std::to_string(port) + ", \"pid\": " +
                            std::to_string(::getpid()) + "}"),
                  std::string::npos)
            << json;

        const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
        const HttpAnswer first = SendRaw("127.0.0.1", port,
                                         "GET " + url.substr(prefix.size()) + " HTTP/1.0\r\n" +
                                             host + "\r\n");
        EXPECT_EQ(first.status, 302);
        const std::string cookie = first.headers.at("set-cookie");
        const HttpAnswer page = SendRaw("127.0.0.1", port,
                                        "GET " + first.headers.at("location") + " HTTP/1.0\r\n" +
                                            host + "Cookie: " + cookie.substr(0, cookie.find(';')) +
                                            "\r\n\r\n");
        EXPECT_EQ(page.status, 200);
        EXPECT_EQ(page.body, "<p>Startseite</p>");
    }
    EXPECT_FALSE(std::filesystem::exists(file)); // removed with its object
}

// Another local user has made the program's folder first (so that it could read what is put
// there): the file is not written, and the program can say why.
TEST_F(RuntimeFileTest, FolderOfAnotherUserIsNotUsedAndSaysSo) {
    std::filesystem::permissions(runtime, std::filesystem::perms::all);
    const std::string planted = folder;
    const bool ownUid = OtherUser::HasOwnUid();
    OtherUser other([planted, ownUid](int report) {
        // As another uid: a folder open to all. Otherwise all another user could leave there
        // is a link to a folder of their choosing.
        const bool made = ownUid
                              ? ::mkdir(planted.c_str(), 0777) == 0 &&
                                    ::chmod(planted.c_str(), 0777) == 0
                              : ::symlink("/tmp", planted.c_str()) == 0;
        ::write(report, made ? "1\n" : "0\n", 2);
    });
    ASSERT_EQ(other.ReadUntil('\n', 5000), "1");

    RuntimeFile runtimeFile;
    EXPECT_EQ(runtimeFile.Write(4711, std::string(32, 'a'), std::string(32, 'b')),
              RuntimeFile::Result::Failed);
    const std::string why = ownUid ? "Der Ordner gehört einem anderen Benutzer."
                                   : "Der Ordner ist ein Verweis oder eine Datei.";
    EXPECT_EQ(runtimeFile.Error(),
              "Die Laufzeitdatei " + file + " konnte nicht geschrieben werden: " + why);
    EXPECT_EQ(runtimeFile.Path(), "");
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists("/tmp/kp_config-" + std::to_string(::getpid()) + ".json"));

    // Without a runtime folder there is nothing to say.
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(runtimeFile.Write(4711, std::string(32, 'a'), std::string(32, 'b')),
              RuntimeFile::Result::NoRuntimeFolder);
    EXPECT_EQ(runtimeFile.Error(), "");
}

} // namespace

#include "NetTestSupport.h"

#include "support/TestSupport.h"
#include "utility/stat/StatExports.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

using nettest::Control;
using nettest::ServerBase;

namespace {

// kvstat.dll from the bin folder, with its journal redirected into a fresh folder.
class StatLibraryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SetEnvironmentVariableW(L"KVSTAT_JOURNAL", m_dir.File(L"journal.txt").c_str()));
        m_library = LoadLibraryW(qeltest::BinPath(L"kvstat.dll").c_str());
        ASSERT_NE(nullptr, m_library);
    }
    void TearDown() override
    {
        if (m_library != nullptr)
            FreeLibrary(m_library);
        SetEnvironmentVariableW(L"KVSTAT_JOURNAL", nullptr);
    }

    template <class Fn>
    Fn Export(const char* name)
    {
        Fn entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_library, name)));
        EXPECT_NE(nullptr, reinterpret_cast<void*>(entry)) << name;
        return entry;
    }

    std::string Journal()
    {
        std::string text;
        qeltest::ReadTextFile(m_dir.File(L"journal.txt"), text);
        return text;
    }

    std::string Utf8(const std::wstring& text) { return qeltest::WideToUtf8(text); }

    qeltest::TempDir m_dir;
    HMODULE m_library = nullptr;
};

// A UDP socket on 127.0.0.1 with a port of the system's choice.
class UdpListener
{
public:
    UdpListener()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int length = sizeof(address);
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        DWORD timeout = 20000;
        setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    }
    ~UdpListener()
    {
        closesocket(m_socket);
        WSACleanup();
    }
    int Port() const { return m_port; }
    std::string Receive()
    {
        char buffer[1024];
        const int length = recv(m_socket, buffer, sizeof(buffer), 0);
        return length > 0 ? std::string(buffer, length) : std::string();
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
};

}  // namespace

TEST_F(StatLibraryTest, ScriptedSequenceIsJournalledAndReportsTheInstall)
{
    ASSERT_EQ(L"ok", Control(L"/control/reset"));
    UdpListener listener;
    const std::string post = Utf8(ServerBase() + L"/status/200");

    EXPECT_FALSE(Export<qel::StatInitFn>("stat_init")()) << "not configured yet";
    Export<qel::StatAddressFn>("stat_install_addr")("127.0.0.1", listener.Port());
    Export<qel::StatNumberFn>("stat_unionid")(4003);
    Export<qel::StatAppIdFn>("stat_appid")(108);
    Export<qel::StatNumberFn>("stat_level")(2);
    Export<qel::StatVersionExFn>("stat_version_ex")(4, 0, 5, 22);
    EXPECT_TRUE(Export<qel::StatInitFn>("stat_init")());
    EXPECT_EQ(1, Export<qel::StatInstallFn>("stat_install")(1));
    EXPECT_EQ("kvstat install kind=1 unionid=4003 appid=108 level=2 version=4.0.5.22", listener.Receive());
    EXPECT_EQ(1, Export<qel::StatHttpPostFn>("stat_http_post")(post.c_str(), nullptr, 0, true));
    Export<qel::StatVoidFn>("stat_close")();

    const std::string port = std::to_string(listener.Port());
    EXPECT_EQ("stat_init = 0\n"
              "stat_install_addr \"127.0.0.1\" " + port + "\n"
              "stat_unionid 4003\n"
              "stat_appid 108\n"
              "stat_level 2\n"
              "stat_version_ex 4 0 5 22\n"
              "stat_init = 1\n"
              "stat_install 1 = 1\n"
              "stat_http_post \"" + post + "\" nil 0 1 = 1\n"
              "stat_close\n",
              Journal());
}

TEST_F(StatLibraryTest, HttpPostAnswersOneOnlyFor2xx)
{
    const auto httpPost = Export<qel::StatHttpPostFn>("stat_http_post");
    const struct {
        std::wstring address;
        int result;
    } cases[] = {
        {ServerBase() + L"/status/200", 1},
        {ServerBase() + L"/status/204", 1},
        {ServerBase() + L"/status/404", 0},
        {ServerBase() + L"/status/500", 0},
        {L"https://127.0.0.1:1/status/200", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, httpPost(Utf8(c.address).c_str(), nullptr, 0, true)) << Utf8(c.address);
}

// The given number of bytes goes out and into the journal, which keeps the call on one line.
TEST_F(StatLibraryTest, HttpPostSendsTheGivenBytesAndJournalsThemOnOneLine)
{
    ASSERT_EQ(L"ok", Control(L"/control/reset"));
    const std::string address = Utf8(ServerBase() + L"/status/200");
    const char data[] = "a\"b\\c\r\ndXY";
    EXPECT_EQ(1, Export<qel::StatHttpPostFn>("stat_http_post")(address.c_str(), data, 8, true));
    const std::wstring log = Control(L"/control/log");
    EXPECT_NE(std::wstring::npos, log.find(L"POST /status/200 | ")) << Utf8(log);
    EXPECT_NE(std::wstring::npos, log.find(L" | 6122625c630d0a64\n")) << "the first 8 bytes, as hex: " << Utf8(log);
    EXPECT_EQ("stat_http_post \"" + address + "\" \"a\\\"b\\\\c\\x0D\\x0Ad\" 8 1 = 1\n", Journal());
}

TEST_F(StatLibraryTest, InstallWithoutAUsableAddressSendsNothingAndSaysSo)
{
    const auto install = Export<qel::StatInstallFn>("stat_install");
    EXPECT_EQ(0, install(2));
    Export<qel::StatAddressFn>("stat_install_addr")("no-such-host.invalid", 8100);
    EXPECT_EQ(0, install(3));
    EXPECT_EQ("stat_install 2 = 0\n"
              "stat_install_addr \"no-such-host.invalid\" 8100\n"
              "stat_install 3 = 0\n",
              Journal());
}

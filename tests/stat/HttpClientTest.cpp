#include "NetTestSupport.h"

#include "qelinstaller/WelcomeNumber.h"
#include "support/TestSupport.h"
#include "utility/stat/HttpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

using nettest::Control;
using nettest::ServerBase;
using nettest::SetWelcomeAnswer;
using qel::HttpClient;

namespace {

const std::wstring kUserAgent =
    L"Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/58.0.3029.96 Safari/537.36";
const std::wstring kUnreachable = L"https://127.0.0.1:1/api/ruziruded.php";

std::vector<std::wstring> ServerLog()
{
    std::vector<std::wstring> lines;
    const std::wstring text = Control(L"/control/log");
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::wstring LoggedGet(const std::wstring& target)
{
    return L"GET " + target + L" | " + kUserAgent + L" | ";
}

class HttpClientTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(L"ok", Control(L"/control/reset")) << "the test HTTPS server does not answer"; }
};

}  // namespace

TEST(EscapeNonAscii, EncodesEveryByteFrom0x80AndNothingElse)
{
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {"/a b?c=%41&d=~", "/a b?c=%41&d=~"},
        {"\xE4\xB8\xAD", "%E4%B8%AD"},
        {std::string("\x7F\x80\xFF\x01", 4), std::string("\x7F%80%FF\x01", 8)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.out, qel::EscapeNonAscii(c.in)) << c.in;
}

TEST_F(HttpClientTest, WelcomeNumberIsTheLeadingDecimalOfTheAnswer)
{
    const struct {
        std::string body;
        int number;
    } cases[] = {
        {"1234", 1234}, {"  42\n", 42}, {"-7", -7},           {"12abc", 12},
        {"", 0},        {"abc", 0},     {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
    };
    for (const auto& c : cases) {
        SetWelcomeAnswer(200, c.body);
        EXPECT_EQ(c.number, qel::QueryWelcomeNumber()) << "answer \"" << c.body << "\"";
    }
    EXPECT_EQ(LoggedGet(L"/api/ruziruded.php"), ServerLog().at(0)) << "the built-in address reaches the query path";
}

TEST_F(HttpClientTest, ErrorStatusIsAnAnswerLikeAnyOther)
{
    SetWelcomeAnswer(404, "77 not found");
    EXPECT_EQ(77, qel::QueryWelcomeNumber());

    HttpClient client;
    std::wstring response;
    EXPECT_EQ(0, client.Get(ServerBase() + L"/api/ruziruded.php", L"ignored", nullptr, response));
    EXPECT_EQ(L"77 not found", response);
}

TEST_F(HttpClientTest, EmptyBodyGivesSuccessAndAnEmptyResponse)
{
    SetWelcomeAnswer(200, "");
    HttpClient client;
    std::wstring response = L"old";
    EXPECT_EQ(0, client.Get(ServerBase() + L"/api/ruziruded.php", L"", nullptr, response));
    EXPECT_EQ(L"", response);
}

TEST_F(HttpClientTest, UnreachableServerGivesZeroAndTheQueryNumberLine)
{
    qeltest::DebugCapture capture;
    EXPECT_EQ(0, qel::QueryWelcomeNumberFrom("https://127.0.0.1:1/api/ruziruded.php"));
    const std::vector<std::wstring> lines = capture.Lines();
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"xm querynumber 7-Couldn't connect to server"))
        << ::testing::PrintToString(lines);
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"xm curl_easy_perform failed: 7\r\n"));
}

TEST_F(HttpClientTest, NonAsciiTextIsSentAsUpperCaseEscapesAndSpacesDoNotFailTheRequest)
{
    HttpClient client;
    std::wstring response;
    ASSERT_EQ(0, client.Get(ServerBase() + L"/echo/\x4E2D\x6587 a b?q=\x6587&r=x y", L"", nullptr, response));
    // The query keeps its spaces as they are; libcurl writes the path's spaces as %20 (it sends
    // no request with a bare space in the path).
    const std::wstring expected = L"/echo/%E4%B8%AD%E6%96%87%20a%20b?q=%E6%96%87&r=x y";
    EXPECT_EQ(expected, response);
    EXPECT_EQ(LoggedGet(expected), ServerLog().at(0));
}

TEST_F(HttpClientTest, RequestAfterAFailedOneWorksWithTheDefaultOptions)
{
    SetWelcomeAnswer(200, "5");
    HttpClient client;
    std::wstring response = L"kept";
    EXPECT_EQ(7, client.Get(kUnreachable, L"", nullptr, response));
    EXPECT_EQ(L"kept", response) << "a failed request leaves the response as it was";
    EXPECT_EQ(0, client.Get(ServerBase() + L"/redirect", L"", nullptr, response));
    EXPECT_EQ(L"5", response);
    const std::vector<std::wstring> log = ServerLog();
    ASSERT_EQ(2u, log.size()) << ::testing::PrintToString(log);
    EXPECT_EQ(LoggedGet(L"/redirect"), log[0]);
    EXPECT_EQ(LoggedGet(L"/api/ruziruded.php"), log[1]) << "the redirect is followed with the same agent";
}

TEST_F(HttpClientTest, StopEndsTheTransferFromTheCallbacks)
{
    HttpClient client;
    client.RequestStop();
    std::wstring response = L"kept";
    const int result = client.Get(ServerBase() + L"/echo/stopped", L"", nullptr, response);
    EXPECT_TRUE(result == CURLE_WRITE_ERROR || result == CURLE_ABORTED_BY_CALLBACK) << result;
    EXPECT_EQ(L"kept", response);
}

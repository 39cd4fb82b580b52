#pragma once

#include "utility/stat/HttpClient.h"

#include <string>

// The local HTTPS server the network tests run against (started by the test run, see
// https_server.py for its routes).
namespace nettest {

inline std::wstring ServerBase()
{
    return L"https://127.0.0.1:" + std::to_wstring(QEL_TEST_HTTPS_PORT);
}

inline std::string PercentEncode(const std::string& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// GET of a control route; the text of the answer ("" when the server could not be reached).
inline std::wstring Control(const std::wstring& pathAndQuery)
{
    qel::HttpClient client;
    std::wstring answer;
    client.Get(ServerBase() + pathAndQuery, std::wstring(), nullptr, answer);
    return answer;
}

inline void SetWelcomeAnswer(int status, const std::string& body)
{
    const std::string query = "/control/answer?status=" + std::to_string(status) + "&body=" + PercentEncode(body);
    Control(std::wstring(query.begin(), query.end()));
}

}  // namespace nettest

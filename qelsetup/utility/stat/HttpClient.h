#pragma once

#include <curl/curl.h>

#include <string>

namespace qel {

// One GET at a time over libcurl's easy interface. The handle is made on first use, keeps its
// options between requests and is dropped after a failed transfer, so the next one starts fresh.
class HttpClient
{
public:
    HttpClient() = default;
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // 0 with the body in response; otherwise the libcurl code, response untouched. data is
    // accepted for the callers' sake and not sent.
    int Get(const std::wstring& url, const std::wstring& data, curl_slist* headers, std::wstring& response);

    // Makes the running transfer end from its callbacks.
    void RequestStop() { m_stop = true; }

    static size_t OnWrite(char* data, size_t size, size_t count, void* client);
    static int OnProgress(void* client, double downloadTotal, double downloadNow, double uploadTotal, double uploadNow);

private:
    void ApplyDefaultOptions();

    CURL* m_handle = nullptr;
    bool m_stop = false;
    std::string m_body;
};

// Writes every byte from 0x80 up as %XX (upper case); every other byte stays as it is.
std::string EscapeNonAscii(const std::string& bytes);

}  // namespace qel

#include "HttpClient.h"

#include "../base/DebugOutput.h"
#include "../base/TextConvert.h"

#include <memory>

namespace qel {

namespace {

const char kUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/58.0.3029.96 Safari/537.36";

}  // namespace

std::string EscapeNonAscii(const std::string& bytes)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(bytes.size());
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        }
    }
    return escaped;
}

HttpClient::~HttpClient()
{
    if (m_handle != nullptr)
        curl_easy_cleanup(m_handle);
}

void HttpClient::ApplyDefaultOptions()
{
    curl_easy_setopt(m_handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(m_handle, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(m_handle, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(m_handle, CURLOPT_TCP_KEEPIDLE, 120L);
    curl_easy_setopt(m_handle, CURLOPT_TCP_KEEPINTVL, 60L);
    curl_easy_setopt(m_handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_handle, CURLOPT_TIMEOUT, 1800L);
    curl_easy_setopt(m_handle, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(m_handle, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(m_handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_handle, CURLOPT_PROGRESSDATA, this);
    curl_easy_setopt(m_handle, CURLOPT_PROGRESSFUNCTION, &HttpClient::OnProgress);
}

int HttpClient::Get(const std::wstring& url, const std::wstring& /*data*/, curl_slist* headers, std::wstring& response)
{
    if (m_handle == nullptr) {
        m_handle = curl_easy_init();
        if (m_handle != nullptr)
            ApplyDefaultOptions();
    }
    if (m_handle == nullptr) {
        XM_LOG(L"curl init failed");
        return CURLE_FAILED_INIT;
    }
    m_body.clear();

    // libcurl refuses a space in a plain CURLOPT_URL; parsed with CURLU_ALLOW_SPACE the
    // address goes out exactly as escaped, spaces included.
    const std::string address = EscapeNonAscii(WideToUtf8(url));
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, address.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK) {
        XM_LOG(L"curl_easy_perform failed: %d\r\n", static_cast<int>(CURLE_URL_MALFORMAT));
        return CURLE_URL_MALFORMAT;
    }
    curl_easy_setopt(m_handle, CURLOPT_CURLU, parsed.get());
    curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, &HttpClient::OnWrite);
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, this);
    if (headers != nullptr)
        curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, headers);

    const CURLcode result = curl_easy_perform(m_handle);
    curl_easy_setopt(m_handle, CURLOPT_CURLU, nullptr);
    if (result != CURLE_OK) {
        XM_LOG(L"curl_easy_perform failed: %d\r\n", static_cast<int>(result));
        curl_easy_cleanup(m_handle);
        m_handle = nullptr;
        return result;
    }
    response = Utf8ToWide(m_body);
    return CURLE_OK;
}

// An overflowing size * count or a body that cannot grow ends the transfer as a write error
// instead of letting an exception escape into libcurl.
size_t HttpClient::OnWrite(char* data, size_t size, size_t count, void* client)
{
    HttpClient* self = static_cast<HttpClient*>(client);
    if (self == nullptr)
        return 0;
    if (self->m_stop) {
        XM_LOG(L"write_data_get_post Stop");
        return 0;
    }
    size_t bytes = 0;
    if (__builtin_mul_overflow(size, count, &bytes))
        return 0;
    try {
        self->m_body.append(data, bytes);
    } catch (const std::exception&) {
        return 0;
    }
    return bytes;
}

int HttpClient::OnProgress(void* client, double, double, double, double)
{
    const HttpClient* self = static_cast<const HttpClient*>(client);
    return self != nullptr && self->m_stop ? 1 : 0;
}

}  // namespace qel

#include "WelcomeNumber.h"

#include "../utility/base/DebugOutput.h"
#include "../utility/base/TextConvert.h"
#include "../utility/stat/HttpClient.h"

#include <cwchar>
#include <string>

#ifndef QEL_WELCOME_QUERY_URL
#error "QEL_WELCOME_QUERY_URL (the welcome-number address) is set by the build"
#endif

namespace qel {

namespace {

const char kWelcomeQueryAddress[] = QEL_WELCOME_QUERY_URL;

}  // namespace

int QueryWelcomeNumberFrom(const char* address)
{
    HttpClient client;
    std::wstring answer;
    const int result = client.Get(AnsiToWide(address), std::wstring(), nullptr, answer);
    if (result != 0)
        XM_LOG(L"querynumber %d-%ls", result, AnsiToWide(curl_easy_strerror(static_cast<CURLcode>(result))).c_str());
    return static_cast<int>(std::wcstol(answer.c_str(), nullptr, 10));
}

int QueryWelcomeNumber()
{
    return QueryWelcomeNumberFrom(kWelcomeQueryAddress);
}

}  // namespace qel

// udp_kv.dll: the datagram sender of the statistics library. One export:
//   int udp_kv_send(const char* host, int port, const char* data, int length)
// sends data as one UDP datagram to host:port (a name or an IPv4 address) and answers the
// number of bytes sent, or -1 when the address cannot be resolved, the send fails or it has
// not finished within kSendBoundMs. Resolving a name can hang while the network is down, so the
// work runs on a thread of its own that holds a reference on this DLL until it ends; the caller
// waits for it no longer than the bound.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace {

const DWORD kSendBoundMs = 2000;

struct Datagram {
    std::string host;
    int port = 0;
    std::string data;
    LONG sent = -1;
    LONG references = 2;  // the caller and the sending thread
};

void Release(Datagram* datagram)
{
    if (InterlockedDecrement(&datagram->references) == 0)
        delete datagram;
}

int SendDatagram(const Datagram& datagram)
{
    char service[16];
    wsprintfA(service, "%d", datagram.port);
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* found = nullptr;
    if (getaddrinfo(datagram.host.c_str(), service, &hints, &found) != 0 || found == nullptr)
        return -1;
    int sent = -1;
    const SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s != INVALID_SOCKET) {
        sent = sendto(s, datagram.data.data(), static_cast<int>(datagram.data.size()), 0, found->ai_addr,
                      static_cast<int>(found->ai_addrlen));
        if (sent == SOCKET_ERROR)
            sent = -1;
        closesocket(s);
    }
    freeaddrinfo(found);
    return sent;
}

DWORD WINAPI SendThread(void* parameter)
{
    Datagram* datagram = static_cast<Datagram*>(parameter);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) == 0) {
        InterlockedExchange(&datagram->sent, SendDatagram(*datagram));
        WSACleanup();
    }
    Release(datagram);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&SendThread), &self);
    FreeLibraryAndExitThread(self, 0);
}

}  // namespace

extern "C" __declspec(dllexport) int udp_kv_send(const char* host, int port, const char* data, int length)
{
    if (host == nullptr || host[0] == '\0' || port <= 0 || port > 65535 || data == nullptr || length < 0)
        return -1;
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&SendThread), &pinned))
        return -1;
    Datagram* datagram = new Datagram;
    datagram->host = host;
    datagram->port = port;
    datagram->data.assign(data, static_cast<size_t>(length));
    HANDLE thread = CreateThread(nullptr, 0, &SendThread, datagram, 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(pinned);
        delete datagram;
        return -1;
    }
    const bool finished = WaitForSingleObject(thread, kSendBoundMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    const int sent = finished ? static_cast<int>(InterlockedCompareExchange(&datagram->sent, 0, 0)) : -1;
    Release(datagram);
    return sent;
}

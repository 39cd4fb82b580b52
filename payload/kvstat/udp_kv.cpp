// udp_kv.dll: the datagram sender of the statistics library. One export:
//   int udp_kv_send(const char* host, int port, const char* data, int length)
// sends data as one UDP datagram to host:port (a name or an IPv4 address) and answers the
// number of bytes sent, or -1 when the address cannot be resolved or the send fails.
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

int SendDatagram(const char* host, int port, const char* data, int length)
{
    char service[16];
    wsprintfA(service, "%d", port);
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, service, &hints, &found) != 0 || found == nullptr)
        return -1;
    int sent = -1;
    const SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (s != INVALID_SOCKET) {
        sent = sendto(s, data, length, 0, found->ai_addr, static_cast<int>(found->ai_addrlen));
        if (sent == SOCKET_ERROR)
            sent = -1;
        closesocket(s);
    }
    freeaddrinfo(found);
    return sent;
}

}  // namespace

extern "C" __declspec(dllexport) int udp_kv_send(const char* host, int port, const char* data, int length)
{
    if (host == nullptr || host[0] == '\0' || port <= 0 || port > 65535 || data == nullptr || length < 0)
        return -1;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return -1;
    const int sent = SendDatagram(host, port, data, length);
    WSACleanup();
    return sent;
}

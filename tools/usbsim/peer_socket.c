/* Winsock side of the driver's connection to the device emulator. */
#include <winsock2.h>
#include <ws2tcpip.h>

#include "peer_socket.h"

int peer_startup(void) {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void peer_shutdown(void) {
    WSACleanup();
}

peer_socket peer_connect_loopback(unsigned short port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in address;
    int no_delay = 1;

    if (s == INVALID_SOCKET)
        return PEER_NO_SOCKET;
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (unsigned int i = 0; i < sizeof(address.sin_zero); ++i)
        address.sin_zero[i] = 0;
    if (connect(s, (struct sockaddr*)&address, sizeof(address)) != 0) {
        closesocket(s);
        return PEER_NO_SOCKET;
    }
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&no_delay, sizeof(no_delay));
    return (peer_socket)s;
}

int peer_send_all(peer_socket s, const void* data, unsigned long size) {
    const char* next = data;
    while (size > 0) {
        int chunk = size > 0x40000000ul ? 0x40000000 : (int)size;
        int sent = send((SOCKET)s, next, chunk, 0);
        if (sent <= 0)
            return 0;
        next += sent;
        size -= (unsigned long)sent;
    }
    return 1;
}

int peer_receive_exact(peer_socket s, void* data, unsigned long size) {
    char* next = data;
    while (size > 0) {
        int chunk = size > 0x40000000ul ? 0x40000000 : (int)size;
        int received = recv((SOCKET)s, next, chunk, 0);
        if (received <= 0)
            return 0;
        next += received;
        size -= (unsigned long)received;
    }
    return 1;
}

void peer_interrupt(peer_socket s) {
    shutdown((SOCKET)s, SD_BOTH);
}

void peer_close(peer_socket s) {
    if (s != PEER_NO_SOCKET)
        closesocket((SOCKET)s);
}

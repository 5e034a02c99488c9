/* TCP connection from a driver slot to the device emulator.
 *
 * Kept apart from the driver proper because the Winsock headers and the kernel headers cannot
 * be included together; the driver runs inside Wine's user-mode winedevice.exe, so it may use
 * Winsock. */
#ifndef TVUSBSIM_PEER_SOCKET_H
#define TVUSBSIM_PEER_SOCKET_H

typedef unsigned long long peer_socket;
#define PEER_NO_SOCKET (~0ull)

int peer_startup(void);
void peer_shutdown(void);

/* Connects to 127.0.0.1:port with Nagle's delay switched off; PEER_NO_SOCKET on failure. */
peer_socket peer_connect_loopback(unsigned short port);

/* Sends every byte; returns nonzero on success. */
int peer_send_all(peer_socket s, const void* data, unsigned long size);

/* Receives exactly size bytes, blocking; returns nonzero on success. Blocking receives are used
 * because under Wine each select() costs about a millisecond more per message. */
int peer_receive_exact(peer_socket s, void* data, unsigned long size);

/* Makes a receive blocked on the socket in another thread return. */
void peer_interrupt(peer_socket s);

void peer_close(peer_socket s);

#endif

// The socket layer over real Windows Sockets to 127.0.0.1: host names resolved, and sends that
// the socket takes only in part repeated until every byte is out.
#include "SocketLibrary.h"
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace SocketLibrary {
namespace {

// A raw socket handle of the test's own side, closed when it goes.
struct RawSocket {
    SOCKET handle = INVALID_SOCKET;
    explicit RawSocket(SOCKET s) : handle(s) {}
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    ~RawSocket() {
        if (handle != INVALID_SOCKET)
            closesocket(handle);
    }
};

// A listening socket on 127.0.0.1 and the port it got.
struct Listener {
    CSock socket;
    unsigned short port = 0;

    Listener() {
        socket.Open(SOCK_STREAM, AF_INET, 0, false);
        sockaddr_in loopback = CSockAddr(0, htonl(INADDR_LOOPBACK)).Get();
        EXPECT_EQ(bind(socket.Handle(), reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
        EXPECT_EQ(listen(socket.Handle(), 1), 0);
        port = ntohs(socket.LocalAddress().sin_port);
    }
};

TEST(SocketLibrary, HostNamesAreResolvedAndDottedAddressesTakenAsTheyStand) {
    CSockSystem system;
    const sockaddr_in named = CSockAddr("localhost:110").Get();
    EXPECT_EQ(named.sin_family, AF_INET);
    EXPECT_EQ(ntohs(named.sin_port), 110);
    EXPECT_EQ(ntohl(named.sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_EQ(ntohl(CSockAddr("10.1.2.3:25").Get().sin_addr.s_addr), 0x0A010203u);
    EXPECT_THROW(CSockAddr("no-such-host.invalid:25"), CSockAddr::SetError);
    EXPECT_THROW(CSockAddr("localhost"), CSockAddr::SetError);
    EXPECT_THROW(CSockAddr("localhost:65536"), CSockAddr::SetError);

    // A connection made to a name reaches the listener behind it.
    Listener listener;
    auto connection = CConnector::Connect(CSockAddr("localhost:" + std::to_string(listener.port)));
    RawSocket peer(accept(listener.socket.Handle(), nullptr, nullptr));
    ASSERT_NE(peer.handle, INVALID_SOCKET);
    connection->sendln("hello", 5, TimeValue{5, 0});
    char got[8] = {};
    EXPECT_EQ(recv(peer.handle, got, 7, 0), 7);
    EXPECT_STREQ(got, "hello\r\n");
}

// On a non-blocking socket with a small send buffer and a slow reader, one send call takes only
// part of a large buffer: the rest must follow, byte for byte, within the one time-out.
TEST(SocketLibrary, AShortSendIsRepeatedUntilEveryByteIsOut) {
    CSockSystem system;
    Listener listener;
    auto connection = CConnector::Connect(CSockAddr("127.0.0.1:" + std::to_string(listener.port)));
    RawSocket peer(accept(listener.socket.Handle(), nullptr, nullptr));
    ASSERT_NE(peer.handle, INVALID_SOCKET);
    SOCKET own = connection->Socket().Handle();
    u_long nonBlocking = 1;
    ASSERT_EQ(ioctlsocket(own, FIONBIO, &nonBlocking), 0);
    int small = 4096;
    connection->Socket().SetOption(SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    std::string data(4u << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
    std::string received;
    std::thread reader([&] {
        Sleep(200); // let the sender fill what the socket holds first
        std::string chunk(8192, '\0');
        while (received.size() < data.size()) {
            int n = recv(peer.handle, chunk.data(), static_cast<int>(chunk.size()), 0);
            if (n <= 0)
                break;
            received.append(chunk.data(), static_cast<size_t>(n));
        }
    });
    EXPECT_NO_THROW(connection->sendAll(data.data(), data.size(), TimeValue{30, 0}));
    reader.join();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data) << "every byte, in order";
}

} // namespace
} // namespace SocketLibrary

// An IPv4 socket address laid out as sockaddr_in (16 bytes).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

class CSockAddr {
public:
    // Port and address in host byte order; stored in network byte order.
    CSockAddr(std::uint16_t wPort = 0, std::uint32_t dwAddress = 0);
    explicit CSockAddr(const sockaddr_in& sin) : m_sin(sin) {}

    std::uint16_t Port() const;               // host byte order
    std::uint32_t Address() const;            // host byte order
    void SetPort(std::uint16_t wPort);        // host byte order
    void SetAddress(std::uint32_t dwAddress); // host byte order
    // Address already in network byte order (as inet_addr returns it).
    void SetNetAddress(std::uint32_t dwNetAddress) { m_sin.sin_addr.s_addr = dwNetAddress; }

    // "a.b.c.d".
    std::string AddressText() const;

    const sockaddr_in& Sin() const { return m_sin; }
    operator const sockaddr_in&() const { return m_sin; }
    bool operator==(const CSockAddr& o) const;

private:
    sockaddr_in m_sin;
};

static_assert(sizeof(sockaddr_in) == 16, "an IPv4 socket address is 16 bytes");

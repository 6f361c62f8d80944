#include "net/CSockAddr.h"

#include <arpa/inet.h>

#include <cstring>

CSockAddr::CSockAddr(std::uint16_t wPort, std::uint32_t dwAddress)
{
    std::memset(&m_sin, 0, sizeof m_sin);
    m_sin.sin_family = AF_INET;
    m_sin.sin_port = htons(wPort);
    m_sin.sin_addr.s_addr = htonl(dwAddress);
}

std::uint16_t CSockAddr::Port() const { return ntohs(m_sin.sin_port); }
std::uint32_t CSockAddr::Address() const { return ntohl(m_sin.sin_addr.s_addr); }
void CSockAddr::SetPort(std::uint16_t wPort) { m_sin.sin_port = htons(wPort); }
void CSockAddr::SetAddress(std::uint32_t dwAddress) { m_sin.sin_addr.s_addr = htonl(dwAddress); }

std::string CSockAddr::AddressText() const
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &m_sin.sin_addr, text, sizeof text);
    return text;
}

bool CSockAddr::operator==(const CSockAddr& o) const
{
    return m_sin.sin_family == o.m_sin.sin_family && m_sin.sin_port == o.m_sin.sin_port &&
           m_sin.sin_addr.s_addr == o.m_sin.sin_addr.s_addr;
}

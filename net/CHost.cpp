#include "net/CHost.h"

#include "util/Assert.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

wsa::HANDLE CHost::StartRequest()
{
    MT_ASSERT(m_bHasHost);
    return wsa::AsyncGetHostByName(GetWinsockEventWindow(), WM_ASYNC_HOST_LOOKUP, m_strHost.c_str(),
                                   m_pResult.get(), RESULT_BUFFER_SIZE);
}

int CHost::AddressCount() const
{
    if (m_iState != ASYNC_COMPLETE)
        return 0;
    const auto* he = reinterpret_cast<const hostent*>(m_pResult.get());
    int n = 0;
    while (he->h_addr_list && he->h_addr_list[n])
        ++n;
    return n;
}

CSockAddr CHost::AddressAt(int iIndex, bool* pbResult) const
{
    MT_ASSERT(pbResult != nullptr);
    *pbResult = false;
    if (iIndex < 0 || iIndex >= AddressCount())
        return CSockAddr();
    const auto* he = reinterpret_cast<const hostent*>(m_pResult.get());
    std::uint32_t dwNet;
    std::memcpy(&dwNet, he->h_addr_list[iIndex], 4);
    CSockAddr addr;
    addr.SetNetAddress(dwNet);
    *pbResult = true;
    return addr;
}

CSockAddr CHost::GetFirstAddress(bool* pbResult)
{
    CSockAddr addr = AddressAt(0, pbResult);
    if (*pbResult)
        m_iNextAddress = 1;
    return addr;
}

CSockAddr CHost::GetNextAddress(bool* pbResult)
{
    CSockAddr addr = AddressAt(m_iNextAddress, pbResult);
    if (*pbResult)
        ++m_iNextAddress;
    return addr;
}

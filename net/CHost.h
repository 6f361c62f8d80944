// Looks up a host by name and walks over its addresses.
#pragma once

#include "net/CAsyncDB.h"
#include "net/CSockAddr.h"

#include <string>

class CHost : public CAsyncDB {
public:
    CHost() = default;
    explicit CHost(const char* pszHost) { SetHost(pszHost); }

    // The name to look up (kept as a copy).
    void SetHost(const char* pszHost)
    {
        m_bHasHost = pszHost != nullptr;
        m_strHost = pszHost ? pszHost : "";
    }
    const char* Host() const { return m_bHasHost ? m_strHost.c_str() : nullptr; }

    // The first address with port 0 (and *pbResult TRUE) once the lookup is
    // complete; an all-zero address and FALSE otherwise.
    CSockAddr GetFirstAddress(bool* pbResult);
    // The address after the last one handed out; FALSE at the end.
    CSockAddr GetNextAddress(bool* pbResult);
    // Number of addresses of a complete lookup (0 otherwise).
    int AddressCount() const;

protected:
    wsa::HANDLE StartRequest() override;

private:
    CSockAddr AddressAt(int iIndex, bool* pbResult) const;

    int m_iNextAddress = 0;
    std::string m_strHost;
    bool m_bHasHost = false;
};

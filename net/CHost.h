// Looks up a host by name and walks over its addresses.
#pragma once

#include "net/CAsyncDB.h"
#include "net/CSockAddr.h"

class CHost : public CAsyncDB {
public:
    CHost() = default;
    explicit CHost(const char* pszHost) : m_pszHost(pszHost) {}

    // The name to look up; the text stays the caller's and must stay valid
    // while the lookup is pending.
    void SetHost(const char* pszHost) { m_pszHost = pszHost; }
    const char* Host() const { return m_pszHost; }

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
    const char* m_pszHost = nullptr;
};

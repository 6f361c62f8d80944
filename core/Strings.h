// String resources by number.  Each subsystem registers its texts once; the
// message services show a text by its number.
#pragma once

#include <string>

// The text of a string resource, cut to nMax characters; empty when unknown.
std::string LoadStringRes(int iId, std::size_t nMax = 200);
// Registers (or replaces) a text.
void RegisterString(int iId, const char* pszText);
bool HasStringRes(int iId);

// Resource numbers of the texts every part shares.
enum : int {
    IDS_TIMEZONE_FIRST = 511, // 511..561: the time-zone list
    IDS_MONTH_FIRST = 562,    // 562..573: January..December
};

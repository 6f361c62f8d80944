#include "util/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace fw {
void AssertFailed(const char* pszCondition, const char* pszFile, int iLine)
{
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", pszCondition, pszFile, iLine);
    std::fflush(stderr);
    std::abort();
}
} // namespace fw

// Assertions for programming errors (object states, null arguments, buffer
// sizes).  They are not input checks: a failed one prints the condition, the
// source file and the line, and stops the program.
#pragma once

namespace fw {
[[noreturn]] void AssertFailed(const char* pszCondition, const char* pszFile, int iLine);
}

#define MT_ASSERT(cond)                                                                            \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fw::AssertFailed(#cond, __FILE__, __LINE__);                                         \
    } while (0)

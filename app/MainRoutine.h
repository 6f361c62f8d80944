// The program's run from start-up to shutdown, for the window program and
// for a headless run alike.
#pragma once

#include "core/Startup.h"

class CWinsock;
class IMainView;

// Runs the main routine; returns the process exit status.  A
// QCoreApplication (or QApplication) must exist and the socket service must
// have been constructed.  A headless run (pView null) uses console views,
// prints suppressed warnings and errors, ends on its own when an Autorun
// sequence can go no further, and exits non-zero when anything failed.
int RunMainRoutine(const CommandLine& cmd, const std::string& homeDir, CWinsock& winsock,
                   IMainView* pView);

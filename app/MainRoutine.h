// The program's run from start-up to shutdown, for the window program and
// for a headless run alike.
#pragma once

#include "core/Startup.h"

// Runs the main routine; returns the process exit status.  A
// QCoreApplication (or QApplication) must exist.
int RunMainRoutine(const CommandLine& cmd, const std::string& homeDir);

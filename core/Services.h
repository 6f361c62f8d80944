// The small services every window uses: message boxes, questions, sounds,
// starting other programs, temporary names.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Message boxes that an Autorun sequence suppresses.  Texts come from the
// string resources by number, or are given directly.
void Warning(int iStringId);
void Warning(const std::string& text);
void Error(int iStringId);
void Error(const std::string& text);
// Yes without asking during Autorun or with "Mailtolvan" "Confirmation" 0;
// otherwise a Yes/No question.  Returns true for Yes.
bool Confirm(int iStringId);
bool Confirm(const std::string& text);

// Where Warning and Error texts go while an Autorun sequence suppresses the
// boxes (a headless run prints them); none drops them.
void SetSuppressedMessageSink(
    std::function<void(const std::string& caption, const std::string& text)> sink);

// Failures of this run: every Error, and every failure a session reports in
// a box of its own.  A headless run's exit status rests on them.
void NoteFailure(const std::string& text);
int FailureCount();
const std::string& LastFailure();
void ResetFailures();

// Whether an Autorun sequence runs.  The main window installs the query.
void SetAutorunQuery(std::function<bool()> query);
bool AutorunRunning();

// Plays a named sound when "Mailtolvan" "Sound" is 1; false when the
// setting is off or there is no such sound.
bool PlayResourceSound(const std::string& name);
// "Beep when done": the system sound when both "Beep" and "Sound" are 1.
bool PlayDoneBeep();

// Starts a program given as an argument vector, showing the wait cursor;
// with bWait, keeps dispatching messages until it ends.  Returns whether it
// started.
bool LaunchProgram(const std::vector<std::string>& argv, bool bWait, int* piExitCode = nullptr);

bool FileExists(const std::string& path);
// A new temporary file "TMP<hex>.TMP" in the directory; empty on failure.
std::string TempFileName(const std::string& dir);
// Platform identifiers: 0 Win32s, 1 Windows 95, 2 Windows NT.  This platform
// reports its own time zone and behaves as 2.
bool PlatformIs(int iPlatform);

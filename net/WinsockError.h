// Socket-error texts and the box that shows them.
#pragma once

#include "framework/Window.h"

#include <string>

// Ensures the socket-error texts (ids 10000..11004) are in the string table.
void RegisterWinsockErrorStrings();

// The text for a code: 0 stands for 10000; a code without a text gives
// "[<code>] Unknown Error".
std::string WinsockErrorString(int iError);

// The box text: the caller's message, CR LF, the error text and ".".  When
// that comes to more than 164 characters the caller's message is cut to 160
// minus the error text's length, but never below 32 characters; the error
// text itself is never cut.
std::string WinsockErrorMessage(const char* pszMessage, int iError);

// Shows WinsockErrorMessage owned by the window (null: no owner), caption
// "Winsock Error", exclamation icon, OK button.  Shown during Autorun too:
// only the shared warnings and errors are held back then.
void ShowWinsockError(const char* pszMessage, int iError, fw::Window* hwndOwner);

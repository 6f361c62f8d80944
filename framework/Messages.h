// The program's own window messages, in one place: every sender and receiver
// uses these names.
#pragma once

#include "framework/Window.h"

namespace fw {

enum : unsigned {
    WM_CLOSE_REQUEST = 16, // the close box
    WM_COMMAND_MSG = 273,  // wParam = command number
    // The socket-event window's messages (WM_USER .. WM_USER + 6) are the
    // socket layer's own.
    WM_QWK_PROGRESS = WM_USER + 100,      // 1124: QWK writer to the main window
    WM_SMTP_EVENT = WM_USER + 201,        // 1225: SMTP client to the posting window
    WM_NNTPP_EVENT = WM_USER + 202,       // 1226: NNTP posting client to the posting window
    WM_POP3_EVENT = WM_USER + 203,        // 1227: POP3 client to the Email window
    WM_NNTP_CONNECT = WM_USER + 204,      // 1228: NNTP reader client to the main window
    WM_NNTP_GROUPLIST = WM_USER + 205,    // 1229
    WM_NNTP_GROUPS_FIRST = WM_USER + 206, // 1230..1235: to the groups and article windows
    WM_NNTP_GROUPS_LAST = WM_USER + 211,
    WM_NNTP_QUIT = WM_USER + 212, // 1236
};

static_assert(WM_POP3_EVENT == 1227 && WM_NNTP_QUIT == 1236);

} // namespace fw

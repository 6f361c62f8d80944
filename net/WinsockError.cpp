#include "net/WinsockError.h"

#include "core/Strings.h"
#include "framework/MessageBox.h"
#include "net/CTls.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

struct ErrorText {
    int iId;
    const char* pszText;
};

const ErrorText kErrorTexts[] = {
    {10000, "There was an error reported by the winsock.  However\nMail Tolvan could not "
            "determine the specific error."},
    {10004, "(10004) Interrupted system call"},
    {10009, "(10009) Bad file number"},
    {10013, "The server you are trying to connect to has refused\nyour connection.  You may be "
            "trying to connect to a\nclosed system.  Check your server settings and make\nsure "
            "the server name and port are correct."},
    {10014, "(10014) Bad address"},
    {10022, "(10022) Invalid argument"},
    {10024, "(10024) Too many open files"},
    {10035, "(10035) Operation would block"},
    {10036, "(10036) Operation now in progress"},
    {10037, "(10037) Operation already in progress"},
    {10038, "(10038) Socket operation on non-socket"},
    {10039, "(10039) Destination address required"},
    {10040, "(10040) Message too long"},
    {10041, "(10041) Protocol wrong type for socket"},
    {10042, "(10042) Bad protocol option"},
    {10043, "(10043) Protocol not supported"},
    {10044, "(10044) Socket type not supported"},
    {10045, "(10045) Operation not supported on socket"},
    {10046, "(10046) Protocol family not supported"},
    {10047, "(10047) Address family not supported by protocol family"},
    {10048, "(10048) Address already in use"},
    {10049, "(10049) Can't assign requested address"},
    {10050, "(10050) Network is down"},
    {10051, "(10051) Network is unreachable"},
    {10052, "(10052) Net dropped connection or reset"},
    {10053, "(10053) Software caused connection abort"},
    {10054, "The server has reset your connection.\nYou need to reconnect to continue."},
    {10055, "(10055) No buffer space available"},
    {10056, "(10056) Socket is already connected"},
    {10057, "(10057) Socket is not connected"},
    {10058, "(10058) Can't send after socket shutdown"},
    {10059, "(10059) Too many references, can't splice"},
    {10060, "The server has not responded within the allotted time.\nTry reconnecting or try a "
            "different server."},
    {10061, "The server has refused your connection.  You may be\ntrying to access this server "
            "over the wrong port or\nthis may be a closed system.  Check you server "
            "settings\nand try again."},
    {10062, "(10062) Too many levels of symbolic links"},
    {10063, "(10063) File name too long"},
    {10064, "(10064) Host is down"},
    {10065, "(10065) No Route to Host"},
    {10066, "(10066) Directory not empty"},
    {10067, "(10067) Too many processes"},
    {10068, "(10068) Too many users"},
    {10069, "(10069) Disc Quota Exceeded"},
    {10070, "(10070) Stale NFS file handle"},
    {10071, "(10071) Too many levels of remote in path"},
    {10091, "(10091) Network SubSystem is unavailable"},
    {10092, "(10092) WINSOCK DLL Version out of range"},
    {10093, "(10093) Successful WSASTARTUP not yet performed"},
    {11001, "The server name was not listed on the Domain Name Server\nyour TCP/IP network is "
            "connecting to.  Check your server\nsettings to make sure you have entered the name "
            "of the\nserver correctly, or check the settings for your TCP/IP\nnetwork to make "
            "sure you are making a connection to a\nvalid Domain Name Server (DNS)."},
    {11002, "A connection could not be made to the server you\nspecified.  Check your server "
            "settings to make sure\nthe name and port numbers are correct and try again."},
    {11003, "(11003) Non-Recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {11004, "A connection to the server was attempted, however either\nthe server is down and "
            "not responding or your winsock\ncould not pass any data through.  Make sure your "
            "winsock\nhas a valid connection and try again."},
    {12001, "The secure connection could not be set up"},
    {12002, "The server's certificate has expired"},
    {12003, "The server's certificate is not valid yet"},
    {12004, "The server's certificate was issued for another host name"},
    {12005, "The server's certificate comes from an issuer that is not trusted"},
    {12006, "The server's certificate is not the pinned one"},
    {12007, "The server closed the connection during the secure handshake"},
    {12008, "The server does not offer encryption (STARTTLS)"},
    {12009, "The server's certificate was refused"},
    {12010, "The secure connection broke"},
    {12011, "The secure layer could not be started"},
};

// Socket-error texts live in this block of the string table; other codes
// never pick up an unrelated text of another part.
constexpr int kFirstErrorId = 10000;
constexpr int kLastErrorId = 12999;
constexpr std::size_t kMaxErrorText = 512;
constexpr std::size_t kMaxBoxText = 164;
constexpr std::size_t kCutMessageTo = 160;
// The long texts (10013, 10061, 11001, 11004) would leave nothing of the
// caller's message, which names the session that failed; that much of it is
// always kept.
constexpr std::size_t kMinMessageKept = 32;

} // namespace

void RegisterWinsockErrorStrings()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        for (const ErrorText& t : kErrorTexts)
            RegisterString(t.iId, t.pszText);
    });
}

std::string WinsockErrorString(int iError)
{
    RegisterWinsockErrorStrings();
    int iId = iError == 0 ? kFirstErrorId : iError;
    if (iId >= kFirstErrorId && iId <= kLastErrorId && HasStringRes(iId)) {
        std::string text = LoadStringRes(iId, kMaxErrorText);
        // A certificate's problem says which one: the reason and fingerprint.
        if (iId >= TLS_E_FIRST && iId <= TLS_E_LAST) {
            std::string detail = TlsFailureDetail(iId);
            if (!detail.empty())
                text += ":\n" + detail;
        }
        return text;
    }
    char text[40];
    std::snprintf(text, sizeof text, "[%d] Unknown Error", iId);
    return text;
}

std::string WinsockErrorMessage(const char* pszMessage, int iError)
{
    std::string message = pszMessage ? pszMessage : "";
    std::string error = WinsockErrorString(iError);
    if (message.size() + error.size() + 3 > kMaxBoxText) {
        // The error text is never cut, only the caller's message.
        std::size_t keep = error.size() < kCutMessageTo ? kCutMessageTo - error.size() : 0;
        keep = std::max(keep, kMinMessageKept);
        message.resize(std::min(keep, message.size()));
    }
    return message + "\r\n" + error + ".";
}

void ShowWinsockError(const char* pszMessage, int iError, fw::Window* hwndOwner)
{
    fw::MessageBoxes().Show(WinsockErrorMessage(pszMessage, iError), "Winsock Error",
                            fw::MbIcon::Exclamation, fw::MbButtons::Ok, hwndOwner == nullptr);
}

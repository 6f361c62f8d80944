// Message bodies between the wire and files.
//
// Reading clients (POP3, NNTP) store a multi-line reply in a temporary file:
// each line without the dot that the server put before a line beginning
// with a dot, and with CR LF at its end.  A line longer than the client's
// receive buffer arrives in pieces and is written piece by piece.  The
// terminating "." line is the client's business and is never written here.
// A file counts as stored only when Close() succeeded: then its data and its
// name in the directory are on the disk, so the server's copy may go.
//
// Sending clients (SMTP, NNTP posting) read a body stream line by line and
// send each line with CR LF, a leading dot doubled, and a line of a single
// dot at the end.  Bytes are never changed: the composer makes every line
// that needs it 7-bit (quoted-printable) before it gets here.  A line of more than 998 characters
// cannot be sent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class CBodyFile {
public:
    CBodyFile() = default;
    ~CBodyFile();
    CBodyFile(const CBodyFile&) = delete;
    CBodyFile& operator=(const CBodyFile&) = delete;

    // Creates a new empty file "<dir>/<prefix><hex>.TMP" and opens it.  On
    // failure returns false and Error() holds errno.
    bool Create(const std::string& dir, const char* pszPrefix);
    // Writes received bytes: at the start of a line without the stuffed
    // dot, and at its end followed by CR LF.
    bool Write(const char* pData, int iLen, bool bLineStart, bool bLineEnd);
    // Writes one whole received line, dot-unstuffed, followed by CR LF.
    bool WriteLine(const char* pLine, int iLen) { return Write(pLine, iLen, true, true); }
    // Bytes written to the file so far.
    std::int64_t Size() const { return m_iSize; }
    // Closes the file after forcing its data and its directory entry to the
    // disk.  False when any write or sync failed or the file is no longer
    // there under its name (the data is then not safe).
    // Writes bytes as they are (no unstuffing, no line end).
    bool Write(const char* pData, int iLen) { return Write(pData, iLen, false, false); }
    bool Close();
    // Closes and deletes the file.
    void Discard();
    bool IsOpen() const { return m_pFile != nullptr; }
    const std::string& Name() const { return m_name; }
    int Error() const { return m_iErrno; }
    // Forgets the name (the file now belongs to someone else).
    void Release() { m_name.clear(); }

private:
    std::FILE* m_pFile = nullptr;
    std::string m_name;
    int m_iErrno = 0;
    std::int64_t m_iSize = 0;
    bool m_bLost = false; // the name no longer leads to our file
};

// Reads the body of an outgoing message and hands out wire lines.
class CBodyLineSource {
public:
    enum Result { LINE, END, TOO_LONG, READ_ERROR };
    static constexpr int kMaxLine = 998;

    // The stream stays the caller's; lines may end with LF or CR LF.
    explicit CBodyLineSource(std::FILE* pStream) : m_pStream(pStream) {}

    // LINE: `out` holds the next line ready to send (bytes unchanged, a
    // leading "." doubled, CR LF appended).  After the last line, END once
    // with `out` = ".\r\n"; then END with `out` empty.  TOO_LONG: a line has
    // more than 998 characters (the send fails).  READ_ERROR: the stream
    // could not be read.
    Result Next(std::string& out);
    // Lines handed out so far (the terminator not counted).
    int Lines() const { return m_iLines; }

private:
    std::FILE* m_pStream;
    bool m_bEndSent = false;
    int m_iLines = 0;
};

// The receive buffer of a protocol client: bytes from the socket go in,
// complete CR LF lines come out, oldest first.
//
// The capacity is fixed (it is the client's largest reply line plus its CR
// LF).  A lone CR or a lone LF does not end a line.  When the buffer is full
// and holds no complete line, the line cannot fit: Overlong() says so, and the
// client either drops the connection or, inside message data, takes the line
// in pieces with TakePiece(); nothing is ever written past the end.
#pragma once

#include <vector>

class CReplyBuffer {
public:
    explicit CReplyBuffer(int iCapacity);

    int Capacity() const { return static_cast<int>(m_buf.size()); }
    // Bytes held that have not been taken as lines.
    int Length() const { return m_iEnd - m_iStart; }
    // Room for the next receive; moves held bytes to the front first.
    char* FreeSpace(int* piRoom);
    // Records that iCount bytes were written at FreeSpace().
    void Commit(int iCount);
    // Takes the oldest complete line: *ppLine points at its first byte (valid
    // until the next FreeSpace), *piLen is its length without CR LF.
    bool NextLine(const char** ppLine, int* piLen);
    // Full, and no CR LF in it: the line in progress does not fit.
    bool Overlong() const;
    // Takes the start of an overlong line: everything held but a last CR,
    // which stays so that a CR LF split by the piece still ends the line.
    // The rest of the line follows as further pieces or as the next line.
    void TakePiece(const char** ppPiece, int* piLen);
    void Clear() { m_iStart = m_iEnd = m_iScan = 0; }

private:
    std::vector<char> m_buf;
    int m_iStart = 0; // first byte not yet taken
    int m_iEnd = 0;   // one past the last byte received
    int m_iScan = 0;  // where the search for the next CR LF goes on
};

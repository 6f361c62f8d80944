// The MIME structure of one retrieved message in a local file (CR LF line
// ends): the header fields that matter for each part and the byte ranges of
// the parts of multipart bodies, nested to any depth.  Nothing is loaded
// whole: a part is a pair of offsets read through its own file window.
#pragma once

#include "msg/CFileMap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CMIMEParamTuple {
    std::string name;
    std::string value;
};

// Content-Type parameters in the order written.
class CMIMEParamList {
public:
    void Add(std::string name, std::string value);
    // The value of the first parameter of that name (ignoring case), or null.
    const char* Find(const char* pszName) const;
    std::size_t Count() const { return m_items.size(); }
    const CMIMEParamTuple& At(std::size_t i) const { return m_items[i]; }
    std::vector<CMIMEParamTuple>::const_iterator begin() const { return m_items.begin(); }
    std::vector<CMIMEParamTuple>::const_iterator end() const { return m_items.end(); }
    void Clear() { m_items.clear(); }

private:
    std::vector<CMIMEParamTuple> m_items;
};

class CMIMEBodyPart {
public:
    static constexpr std::uint32_t kWindowSize = 1024;
    // A logical header line longer than this is not looked at.
    static constexpr std::size_t kMaxHeaderLine = 65536;

    // iEnd -1: up to the end of the file (set by Parse).
    CMIMEBodyPart(CMIMEBodyPart* pParent, const char* pszPath, std::int64_t iStart,
                  std::int64_t iEnd);
    ~CMIMEBodyPart();
    CMIMEBodyPart(const CMIMEBodyPart&) = delete;
    CMIMEBodyPart& operator=(const CMIMEBodyPart&) = delete;

    // The part's own view of the message file.
    bool Open();
    int Close();
    bool IsOpen() const { return m_map.IsOpen(); }

    // Reads the header block and, for a multipart, finds the sub-parts and
    // parses each of them in turn (each opened and closed again).  The map
    // must be open.  False when a multipart structure is broken.
    bool Parse();

    // Line reading from the position: the bytes up to and including the
    // next CR LF, at most nCapacity - 1 of them, never past the part's end,
    // then a NUL.  Returns the byte count, -1 when the position is at or
    // past the end, -5 or -7 when the file cannot be read.
    int ReadLine(char* pszBuffer, int nCapacity);
    void Rewind() { m_iPosition = m_iStart; }
    int RewindAndReadLine(char* pszBuffer, int nCapacity)
    {
        Rewind();
        return ReadLine(pszBuffer, nCapacity);
    }

    const std::string& Type() const { return m_type; }
    const std::string& SubType() const { return m_subtype; }
    const CMIMEParamList& Params() const { return m_params; }
    const std::string& Encoding() const { return m_encoding; }
    // The value of the first Content-Disposition parameter, or null.
    const char* DispositionName() const
    {
        return m_bHasDispositionName ? m_dispositionName.c_str() : nullptr;
    }
    bool IsMultipart() const;
    // Whether the part was a multipart whose parts could not be found and is
    // read as one text/plain part instead (CMIMEMsg::Open with bCloseAtEnd).
    bool IsRepaired() const { return m_bRepaired; }
    // Whether a well-formed "MIME-Version: 1.0" was seen (not used by the
    // parse itself).
    bool HasMimeVersion() const { return m_bMimeVersion; }
    const std::string& Path() const { return m_path; }
    std::int64_t Start() const { return m_iStart; }
    std::int64_t End() const { return m_iEnd; }
    std::int64_t Position() const { return m_iPosition; }
    CMIMEBodyPart* Parent() const { return m_pParent; }
    CMIMEBodyPart* FirstChild() const { return m_pFirstChild.get(); }
    CMIMEBodyPart* NextSibling() const { return m_pNextSibling.get(); }

    // Header field parsers over the whole header line ("Name: value");
    // each answers whether the field is well formed and fills its results
    // only then.
    static bool HeaderNameIs(const std::string& line, const char* pszName);
    static bool ParseMimeVersion(const char* pszHeader);
    static bool ParseContentType(const char* pszHeader, std::string& type, std::string& subtype,
                                 CMIMEParamList& params);
    // The same for a field whose parameter list goes wrong somewhere: true
    // when type "/" subtype parse; the parameters are those before the
    // first fault.
    static bool ParseContentTypeLenient(const char* pszHeader, std::string& type,
                                        std::string& subtype, CMIMEParamList& params);
    static bool ParseContentTransferEncoding(const char* pszHeader, std::string& encoding);
    // The disposition type must be there; the first parameter's value is
    // given when there is one (bHasName false otherwise).
    static bool ParseContentDisposition(const char* pszHeader, bool& bHasName, std::string& name);

private:
    friend class CMIMEMsg;

    static bool ParseContentTypeFields(const char* pszHeader, std::string& type,
                                       std::string& subtype, CMIMEParamList& params, bool bLenient);
    bool ParseSelf(std::vector<CMIMEBodyPart*>& newChildren);
    // A multipart whose structure is broken: false, or (when tolerated) the
    // part becomes a text/plain leaf and true.
    bool BrokenMultipart();
    void ParseHeaderBlock();
    // 1 a logical line, 0 the empty line ending the block, -1 no more lines.
    int ReadHeaderLine(std::string& line, bool& bTooLong);
    // Offset of the CR of the first CR LF whose LF lies after iFrom; -1 none.
    std::int64_t FindLineEnd(std::int64_t iFrom);
    // Horspool search within the part from the position; the match's offset
    // (the position then just past it), or -1.
    std::int64_t FindDelimiter(const std::string& pattern);
    bool AppendRange(std::int64_t iFrom, std::int64_t iTo, std::string& out, std::size_t max);

    std::string m_path;
    CFileMap m_map;
    std::string m_type;
    std::string m_subtype;
    CMIMEParamList m_params;
    std::string m_encoding;
    std::string m_dispositionName;
    bool m_bHasDispositionName = false;
    bool m_bMimeVersion = false;
    bool m_bCloseAtEnd = false; // tolerate a broken structure (CMIMEMsg::Open)
    bool m_bRepaired = false;
    std::int64_t m_iStart;
    std::int64_t m_iEnd;
    std::int64_t m_iPosition;
    CMIMEBodyPart* m_pParent;
    std::unique_ptr<CMIMEBodyPart> m_pFirstChild;
    std::unique_ptr<CMIMEBodyPart> m_pNextSibling;
};

class CMIMEMsg {
public:
    CMIMEMsg() = default;
    ~CMIMEMsg() = default;
    CMIMEMsg(const CMIMEMsg&) = delete;
    CMIMEMsg& operator=(const CMIMEMsg&) = delete;

    // Parses the message file; false when it cannot be read or its
    // multipart structure is broken (there are then no parts).  With
    // bCloseAtEnd a broken structure is read as far as it goes instead: a
    // multipart without its closing delimiter (truncated mail) ends its last
    // part at its own end, and a multipart whose parts cannot be found at
    // all becomes one text/plain part.
    bool Open(const char* pszPath, bool bCloseAtEnd = false);
    // The leaves in order, depth first; null when there are no more.
    CMIMEBodyPart* FirstPart();
    CMIMEBodyPart* NextPart();
    CMIMEBodyPart* Root() const { return m_pRoot.get(); }

private:
    std::unique_ptr<CMIMEBodyPart> m_pRoot;
    CMIMEBodyPart* m_pCursor = nullptr;
};

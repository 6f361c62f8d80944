// The newsgroup list: every group the program knows, with its retrieval
// flags, its article and date pointers and an optional per-group login.
// Loaded from TOLVAN.NWS when created, written back when destroyed.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

// Flag bits of a group.
constexpr std::uint32_t NG_SELECTED = 1;  // "+" in the lists
constexpr std::uint32_t NG_AUTOMATIC = 2; // articles retrieved automatically
constexpr std::uint32_t NG_BYDATE = 4;    // new article pointer by date, else by number
constexpr std::uint32_t NG_INPACKET = 8;  // set by the QWK writer; never stored

// One group.
struct newsgr {
    newsgr(const std::string& name, std::uint32_t uFlags, std::int32_t lPointer, std::int32_t lDate,
           const std::string& user, const std::string& password);

    std::string m_szName;
    std::int32_t m_iConference = -1;
    std::uint32_t m_uFlags = 0;
    std::int32_t m_lPointer = 0;       // first article of the next retrieval
    std::int32_t m_lLoadedPointer = 0; // as loaded or created
    std::int32_t m_lDate = 0;          // seconds since 1970, UTC
    std::int32_t m_lLoadedDate = 0;
    std::string m_szUser;
    std::string m_szPassword;
};

class Newsgroups {
public:
    // Loads the file (see the .cpp for the rules).  An empty path, a file that
    // cannot be opened or one without a first line give the default list.
    explicit Newsgroups(const std::string& path);
    // Writes the file unless Save() was the last change-capable call.
    ~Newsgroups();
    Newsgroups(const Newsgroups&) = delete;
    Newsgroups& operator=(const Newsgroups&) = delete;

    // Writes the file now.  False when it could not be written (LastError()
    // says why; the previous file is then left as it was) or when a group
    // could not be stored because its texts hold a comma or a line break.
    bool Save();
    const std::string& LastError() const { return m_lastError; }

    // New record at the head of the list; no check for an existing name.
    void Add(const std::string& name, std::uint32_t uFlags, std::int32_t lPointer,
             std::int32_t lDate, const std::string& user, const std::string& password);
    // Removes the first record of that exact name.
    bool Remove(const std::string& name);
    // Exact, case-sensitive; on success the cursor is that record.
    bool Find(const std::string& name);
    bool First();
    bool Next();
    // Like First/Next over the selected groups only; Position() stays the
    // index in the whole list.
    bool FirstSelected();
    bool NextSelected();
    // Conference numbers 0, 1, 2 ... in list order.
    void Renumber();
    // The name of the first record with that conference number, or nullptr.
    const char* NameOfNumber(std::int32_t iConference) const;
    // Sorts by name (bytes, case-sensitive) and removes duplicate names.
    void Sort();

    // The cursor record (after Find or an iteration step), or nullptr.
    newsgr* Current();
    const newsgr* Current() const;
    // Records by index in list order (for windows that list them).
    newsgr* At(std::int32_t iIndex);

    std::int32_t Count() const { return static_cast<std::int32_t>(m_records.size()); }
    std::int32_t Position() const { return m_iPosition; }
    bool Result() const { return m_bResult; }
    const std::string& Path() const { return m_path; }
    void SetPath(const std::string& path)
    {
        m_path = path;
        m_bSaved = false;
    }
    bool SaveCurrent() const { return m_bSaveCurrent; }
    void SetSaveCurrent(bool bSaveCurrent)
    {
        m_bSaveCurrent = bSaveCurrent;
        m_bSaved = false;
    }

    // Whether a text may be stored in the file (no comma, no line break).
    static bool IsStorableText(const std::string& text);
    // Decimal as the file's numbers are read: leading blanks, a sign, digits
    // up to the first non-digit; clamped to 32 bits.
    static std::int32_t ParseNumber(const std::string& text);

private:
    void Load();
    void BuildDefault();
    bool StepTo(std::size_t iIndex, bool bSelectedOnly);

    bool m_bResult = true;
    bool m_bSaveCurrent = true;
    std::string m_path;
    std::int32_t m_iPosition = -1;
    std::deque<std::unique_ptr<newsgr>> m_records;
    bool m_bSaved = false;
    std::string m_lastError;
};

// The process-wide list (null before start-up creates it).
extern Newsgroups* g_pNewsgroups;

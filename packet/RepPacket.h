// A REP packet as a file: finding it, unpacking it into the REP work
// directory, reading it into a Repfile, and what becomes of the file once
// its replies are posted.
//
// A reply the user wrote exists until it is sent, and none is sent twice.
// Each reply that a server accepted is written to the sent-replies ledger at
// once (synced to disk), by a digest of its bytes.  Reading a packet marks
// the replies the ledger knows as sent, so a run that ended in any way never
// sends them again.  The REP file is deleted only when every reply it holds
// is sent; until then it stays as it is, and the ledger keeps what is done.
#pragma once

#include "packet/Repfile.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The default REP file: "<packet name>.Rep" in the "Directories" "Rep"
// directory (the program's directory when empty), found in any letter case.
std::string DefaultRepPath();

struct RepUnpackHooks {
    std::function<void(const std::string&)> status;
    std::function<void(int)> progress;
    // An entry could not be extracted because the disk is full.
    std::function<void(const std::string& entry)> diskFull;
};

enum class RepUnpack {
    Done,            // extracted (possibly nothing, when the file is no archive)
    CannotStart,     // the external unpacker could not be started
    WorkDirUnusable, // the REP work directory cannot be emptied (or holds the packet)
};

// Empties the REP work directory (what an earlier packet left there), then
// extracts every entry of the packet into it: with the built-in unzip when
// the unpacker template is empty, otherwise with the command the template
// makes ("%1" the REP file, "%2" the directory).
RepUnpack UnpackRep(const std::string& repPath, const std::string& workDir,
                    const std::string& unpackerTemplate, const RepUnpackHooks& hooks);

// "<REP file's base name><ext>" in the work directory, any letter case, as
// a regular file; "" when there is none.
std::string RepMemberPath(const std::string& workDir, const std::string& repPath,
                          const std::string& ext);

// The replies sent, remembered across runs.
class RepLedger {
public:
    explicit RepLedger(std::string path) : m_path(std::move(path)) {}
    // Reads the ledger; a missing file is an empty ledger.
    bool Load(std::string& error);
    bool Contains(const std::string& identity) const { return m_ids.count(identity) != 0; }
    // Adds a reply and syncs the file before returning.
    bool Record(const std::string& identity, std::string& error);
    // Drops replies that no packet holds any more, with their parts (the
    // file is replaced as a whole).
    bool Forget(const std::vector<std::string>& identities, std::string& error);
    // The entry of one part of a reply cut into parts, sent while the rest
    // was not: the cut names how the reply was built and cut, so a part is
    // passed over only by a run that cuts the reply the same way.
    static std::string PartIdentity(const std::string& identity, int iPart, const std::string& cut);
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::set<std::string> m_ids;
};

// Marks the replies the ledger knows as sent.  Returns how many.
int MarkSentFromLedger(Repfile& rep, const RepLedger& ledger);

// One line about a reply for reports: "reply 2 (mail to ann@example.org,
// "Subject")".
std::string DescribeReply(const mailxarticle& reply);

// What is left of a packet once its posting run is over, for the user:
// one line per reply not sent, with the reason ("" when all were sent).
std::string UnsentReport(const Repfile& rep, const std::string& defaultReason);

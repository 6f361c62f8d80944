// pack: turns retrieved-message files into a QWK packet, the way a session
// does after fetching mail and news.

#include "app/Tool.h"

#include "core/TnIni.h"
#include "framework/Files.h"
#include "newsgroups/Newsgroups.h"
#include "packet/PacketSave.h"
#include "packet/QwkFile.h"
#include "packet/Rfcmsg.h"
#include "util/TimeZone.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Input {
    std::string group; // "email" or a newsgroup
    std::string path;
};

// Removes the fresh work directory and everything in it when the command
// ends, however it ends.
class WorkDir {
public:
    explicit WorkDir(const std::string& parent)
    {
        std::string tmpl = fw::JoinPath(parent, "packwork.XXXXXX");
        if (::mkdtemp(tmpl.data()))
            m_path = tmpl;
    }
    ~WorkDir()
    {
        if (!m_path.empty())
            fw::EmptyAndRemoveDirectory(m_path);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Copies a message file into the temporary file made for it, as a client
// stores a fetched message.
bool CopyInto(const std::string& from, const std::string& to)
{
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in)
        return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    std::vector<char> buffer(256 * 1024);
    bool bOk = true;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        if (std::fwrite(buffer.data(), 1, n, out) != n) {
            bOk = false;
            break;
        }
    bOk = !std::ferror(in) && bOk;
    std::fclose(in);
    return (std::fclose(out) == 0) && bOk;
}

int Pack(ToolContext& ctx, const std::vector<std::string>& args)
{
    std::string out, user, packetName, nws;
    bool bUser = false, bPacket = false;
    std::vector<Input> inputs;
    std::string current; // the group the following files belong to
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* pszWhat) -> const std::string* {
            if (i + 1 >= args.size()) {
                ToolFail(a + " needs " + pszWhat);
                return nullptr;
            }
            return &args[++i];
        };
        if (a == "--out") {
            const std::string* v = value("a file name");
            if (!v)
                return 1;
            out = *v;
        } else if (a == "--user") {
            const std::string* v = value("a name");
            if (!v)
                return 1;
            user = *v;
            bUser = true;
        } else if (a == "--packet") {
            const std::string* v = value("a name");
            if (!v)
                return 1;
            packetName = *v;
            bPacket = true;
        } else if (a == "--nws") {
            const std::string* v = value("a file name");
            if (!v)
                return 1;
            nws = *v;
        } else if (a == "--email") {
            current = "email";
        } else if (a == "--group") {
            const std::string* v = value("a group name");
            if (!v)
                return 1;
            if (v->empty() || *v == "email" || v->find_first_of(",\r\n \t") != std::string::npos)
                return ToolFail("not a newsgroup name: \"" + *v + "\"");
            current = *v;
        } else if (a.rfind("--", 0) == 0) {
            return ToolFail("unknown option " + a + " (see --help)");
        } else {
            if (current.empty())
                return ToolFail("the message file " + a +
                                " needs --email or --group GROUP before it");
            inputs.push_back({current, a});
        }
    }
    if (out.empty())
        return ToolFail("usage: pack --out FILE.qwk [--user NAME] [--packet NAME] [--nws FILE] "
                        "[--email MSGFILE...] [--group GROUP MSGFILE...]");
    for (const Input& in : inputs) {
        struct stat st {};
        if (::stat(in.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            ::access(in.path.c_str(), R_OK) != 0)
            return ToolFail("cannot read the message file " + in.path);
    }
    if (!ctx.PrepareHome())
        return 1;

    TnIni ini(ctx.paths.settingsFile);
    g_pIni = &ini;
    struct IniReset {
        ~IniReset() { g_pIni = nullptr; }
    } iniReset;
    tz::SetProcessZone(tz::TextFromBias(tz::SystemBias()), true);
    if (!bUser)
        user = ini.GetString("User", "Name", "Your Name Here");
    if (!bPacket)
        packetName = ctx.paths.packetName;
    if (packetName.empty() || packetName.size() > 8 ||
        packetName.find_first_of(",\r\n/\\") != std::string::npos)
        return ToolFail("the packet name must be 1 to 8 characters without ',', '/' or '\\'");

    // The list is only read: it gives the groups their conference numbers.
    // Groups named here that it lacks are added for this packet only.
    Newsgroups groups(nws.empty() ? ctx.paths.newsgroupFile : nws);
    groups.SetPath("");
    bool bAdded = false;
    for (const Input& in : inputs)
        if (in.group != "email" && !groups.Find(in.group)) {
            groups.Add(in.group, NG_SELECTED, 1, 0, "", "");
            bAdded = true;
        }
    if (bAdded)
        groups.Sort();

    WorkDir work(ctx.homeDir);
    if (work.Path().empty())
        return ToolFail("cannot create a work directory in " + ctx.homeDir + ": " +
                        std::strerror(errno));
    auto pConv = std::make_unique<Rfcmsg>(work.Path());
    int iEmail = 0, iArticles = 0;
    std::int32_t iNumber = 0;
    for (const Input& in : inputs) {
        std::string temp = fw::GetTempFileName(work.Path(), in.group == "email" ? "PWZ" : "NWZ");
        if (temp.empty() || !CopyInto(in.path, temp))
            return ToolFail("cannot copy " + in.path +
                            " into the work directory: " + std::strerror(errno));
        pConv->ConvertFile(temp, ++iNumber, in.group);
        if (pConv->WriteFailed())
            return ToolFail("cannot write the converted files of " + in.path + " in " +
                            work.Path() + " (is the disk full?)");
        (in.group == "email" ? iEmail : iArticles)++;
    }
    int iRecords = static_cast<int>(pConv->List().Count());
    int iAttachments = 0;
    for (SummaryInfo* p = pConv->List().First(); p; p = pConv->List().Next())
        if (!p->m_szAttachFile.empty())
            ++iAttachments;

    QwkFile qwk(nullptr, work.Path(), user, packetName, &groups,
                ini.GetInt("Email", "ReplyTo", 1) == 1, ini.GetInt("Articles", "LongNames", 1) == 1,
                ini.GetInt("Articles", "ListAllGroups", 1) == 1);
    if (!qwk.WritePacket(*pConv))
        return ToolFail("the packet could not be written: " + qwk.LastError());

    std::string error;
    int iFiles = CPacketSaver::ZipPacketFiles(work.Path(), out, error);
    if (iFiles < 0)
        return ToolFail(error);
    struct stat st {};
    ::stat(out.c_str(), &st);
    std::printf("%s: %d messages (%d e-mail, %d articles) as %d packet messages, %d attachments, "
                "%d files, %lld bytes\n",
                out.c_str(), iEmail + iArticles, iEmail, iArticles, iRecords, iAttachments, iFiles,
                static_cast<long long>(st.st_size));
    return 0;
}

} // namespace

MT_TOOL_COMMAND(
    "pack",
    "--out FILE.qwk [--user NAME] [--packet NAME] [--nws FILE] [--email MSGFILE...] "
    "[--group GROUP MSGFILE...]",
    "convert retrieved-message files (CR LF, as fetched) and zip them into a QWK packet", Pack);

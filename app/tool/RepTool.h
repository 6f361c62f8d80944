// What the rep and compose commands share: a REP packet unpacked into a
// private work directory and read as the program reads it.
#pragma once

#include "app/Tool.h"

#include "core/TnIni.h"
#include "framework/Files.h"
#include "newsgroups/Newsgroups.h"
#include "packet/RepPacket.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace reptool {

// Removes the private directory and what is in it, however the command ends.
class TempWork {
public:
    TempWork()
    {
        const char* pszTmp = std::getenv("TMPDIR");
        std::string tmpl = fw::JoinPath(pszTmp && *pszTmp ? pszTmp : "/tmp", "mtrep.XXXXXX");
        if (::mkdtemp(tmpl.data()))
            m_path = tmpl;
    }
    ~TempWork()
    {
        if (!m_path.empty()) {
            for (const std::string& name : fw::ListDirectory(m_path)) {
                std::string p = fw::JoinPath(m_path, name);
                ::unlink(p.c_str());
                ::rmdir(p.c_str());
            }
            ::rmdir(m_path.c_str());
        }
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct Loaded {
    TempWork work;
    std::unique_ptr<TnIni> pIni;
    std::unique_ptr<Newsgroups> pGroups;
    std::unique_ptr<Repfile> pRep;
    std::vector<std::string> rest; // arguments the command itself reads
    ~Loaded() { g_pIni = nullptr; }
};

// Reads FILE.rep with the options --packet NAME, --nws FILE, --lists N and
// --charset CP437|Latin-1 (defaults from the settings); prints the reason
// and returns nullptr when it cannot.
inline std::unique_ptr<Loaded> LoadRep(ToolContext& ctx, const std::vector<std::string>& args,
                                       const char* pszUsage)
{
    auto p = std::make_unique<Loaded>();
    std::string rep, packet = ctx.paths.packetName, nws = ctx.paths.newsgroupFile, charset;
    int iLists = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool bValue = i + 1 < args.size();
        if (a == "--packet" && bValue)
            packet = args[++i];
        else if (a == "--nws" && bValue)
            nws = args[++i];
        else if (a == "--lists" && bValue)
            iLists = std::atoi(args[++i].c_str());
        else if (a == "--charset" && bValue)
            charset = args[++i];
        else if (a.rfind("--", 0) == 0 || !rep.empty())
            p->rest.push_back(a);
        else
            rep = a;
    }
    if (rep.empty()) {
        ToolFail(std::string("usage: ") + pszUsage);
        return nullptr;
    }
    if (!fw::FileExists(rep)) {
        ToolFail("no such file: " + rep);
        return nullptr;
    }
    if (p->work.Path().empty()) {
        ToolFail(std::string("cannot create a work directory: ") + std::strerror(errno));
        return nullptr;
    }
    if (!ctx.PrepareHome())
        return nullptr;
    p->pIni = std::make_unique<TnIni>(ctx.paths.settingsFile);
    g_pIni = p->pIni.get();
    p->pGroups = std::make_unique<Newsgroups>(nws);
    p->pGroups->SetPath(""); // read only
    if (UnpackRep(rep, p->work.Path(), p->pIni->GetString("Directories", "Unpacker", ""), {}) !=
        RepUnpack::Done) {
        ToolFail("the REP file could not be unpacked");
        return nullptr;
    }
    std::string msg = RepMemberPath(p->work.Path(), rep, ".MSG");
    if (msg.empty()) {
        ToolFail("This is not a valid Mail Tolvan REP file.");
        return nullptr;
    }
    RepReadOptions options;
    options.repWorkDir = p->work.Path();
    options.pGroups = p->pGroups.get();
    options.iMailingLists = iLists >= 0 ? iLists : p->pIni->GetInt("Groups", "MailingLists", 0);
    options.charset = ReaderCharsetFromSetting(
        charset.empty() ? p->pIni->GetString("Directories", "ReaderCharset", "CP437") : charset);
    p->pRep =
        std::make_unique<Repfile>(msg, RepMemberPath(p->work.Path(), rep, ".DAT"), options, packet);
    if (!p->pRep->Belongs()) {
        ToolFail("This packet does not belong to " + packet + ".Ini.");
        return nullptr;
    }
    return p;
}

} // namespace reptool

#include "PeerState.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace testpeers {

PeerState::PeerState()
{
    const char* pszDir = std::getenv("MT_PEERS_DIR");
    std::string dir = (pszDir && *pszDir) ? pszDir : MT_PEERS_DIR;
    std::ifstream in(dir + "/state.env");
    if (!in) {
        m_error = "no " + dir +
                  "/state.env: the test servers are not running (start them with "
                  "'" MT_PEERS_SCRIPT " start --dir " +
                  dir + "' as root)";
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        m_values[line.substr(0, eq)] = value;
    }
}

std::string PeerState::Get(const std::string& key) const
{
    auto it = m_values.find(key);
    return it == m_values.end() ? std::string() : it->second;
}

int PeerState::GetInt(const std::string& key) const { return std::atoi(Get(key).c_str()); }

std::vector<std::string> PeerState::GetList(const std::string& key) const
{
    std::vector<std::string> out;
    std::istringstream words(Get(key));
    for (std::string w; words >> w;)
        out.push_back(w);
    return out;
}

namespace {

std::string MaildirOf(const PeerState& state, const std::string& user)
{
    return state.Get("POP3_HOME") + "/" + user + "/Maildir";
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                out.push_back(dir + "/" + e->d_name);
        ::closedir(d);
    }
    return out;
}

} // namespace

bool DeliverToMaildir(const PeerState& state, const std::string& user, int order,
                      const std::string& text)
{
    std::string md = MaildirOf(state, user);
    char name[96];
    std::snprintf(name, sizeof name, "1700000000.M%07dP%d.test", order,
                  static_cast<int>(::getpid()));
    std::string tmp = md + "/tmp/" + name;
    {
        std::ofstream out(tmp, std::ios::binary);
        out << text;
        if (!out.flush())
            return false;
    }
    if (::geteuid() == 0 && ::chown(tmp.c_str(), static_cast<uid_t>(state.GetInt("POP3_MAIL_UID")),
                                    static_cast<gid_t>(state.GetInt("POP3_MAIL_GID"))) != 0)
        return false;
    return std::rename(tmp.c_str(), (md + "/new/" + name).c_str()) == 0;
}

bool EmptyMaildir(const PeerState& state, const std::string& user)
{
    bool ok = true;
    for (const char* sub : {"/new", "/cur", "/tmp"})
        for (const auto& f : Entries(MaildirOf(state, user) + sub))
            ok = std::remove(f.c_str()) == 0 && ok;
    return ok;
}

int CountMaildir(const PeerState& state, const std::string& user)
{
    return static_cast<int>(Entries(MaildirOf(state, user) + "/new").size() +
                            Entries(MaildirOf(state, user) + "/cur").size());
}

} // namespace testpeers

#include "framework/Sound.h"

#include "framework/Files.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace fw {

namespace {
std::string& Dir()
{
    static std::string s_dir;
    return s_dir;
}
} // namespace

void Sound::SetResourceDir(const std::string& dir) { Dir() = dir; }

const std::string& Sound::ResourceDir() { return Dir(); }

std::string Sound::Find(const std::string& name)
{
    if (Dir().empty() || !IsSafeEntryName(name))
        return std::string();
    std::string file = FindFileNoCase(Dir(), name + ".wav");
    return file.empty() ? std::string() : JoinPath(Dir(), file);
}

bool Sound::PlayResource(const std::string& name)
{
    std::string file = Find(name);
    if (file.empty())
        return false;
    for (const char* player : {"paplay", "aplay", "pw-play"}) {
        QString path = QStandardPaths::findExecutable(player);
        if (path.isEmpty())
            continue;
        QStringList args;
        if (std::string(player) == "aplay")
            args << "-q";
        args << QString::fromLocal8Bit(file.c_str());
        return QProcess::startDetached(path, args);
    }
    return false;
}

bool Sound::PlaySystem(const std::string& name) { return PlayResource(name); }

} // namespace fw

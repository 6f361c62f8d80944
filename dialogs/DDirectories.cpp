#include "dialogs/DDirectories.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/Profile.h"

using dlg::OkResult;

DDirectories::DDirectories(const TnIni& ini, const std::string& homeDir) : m_szHomeDir(homeDir)
{
    dlg::RegisterDialogStrings();
    m_bCopyFiles = ini.GetInt("Directories", "CopyFiles", 0) != 0;
    m_bOverwriteQwk = ini.GetInt("Directories", "OverwriteQwk", 1) != 0;
    m_szQwk = ini.GetString("Directories", "Qwk", "");
    m_bDeleteRep = ini.GetInt("Directories", "DeleteRep", 1) != 0;
    m_szRep = ini.GetString("Directories", "Rep", "");
    m_szQwkReader = ini.GetString("Directories", "QwkReader", "");
    m_szPacker = ini.GetString("Directories", "Packer", "");
    m_szUnpacker = ini.GetString("Directories", "Unpacker", "");
}

std::string DDirectories::BrowseTitle(Field field)
{
    switch (field) {
    case READER:
        return "Reader File";
    case PACKER:
        return "Packer File";
    case UNPACKER:
        return "Unpacker File";
    default:
        return std::string();
    }
}

// Programs carry no extension here, so there is no type to choose by.
std::vector<DDirectories::FileFilter> DDirectories::ProgramFilters()
{
    return {{"All Files", "*"}};
}

std::string DDirectories::ReaderIniPath(const TnIni& ini) const
{
    std::string value = ini.GetString("Directories", "VdrqwkIni", "VDRQWK.INI");
    if (value.empty() || value[0] == '/' || m_szHomeDir.empty())
        return value;
    return fw::JoinPath(m_szHomeDir, value);
}

std::string DDirectories::ReaderStartDir() const
{
    std::string program = m_szQwkReader.substr(0, m_szQwkReader.find(' '));
    return fw::DirName(program);
}

bool DDirectories::NamesReaderDir(const std::string& iniPath)
{
    return !iniPath.empty() &&
           !fw::Profile::GetString(iniPath, "VDRQwk", "VdrDir", "", 260).empty();
}

bool DDirectories::OnCopyFilesChecked(TnIni& ini, const FilePicker& pick)
{
    dlg::RegisterDialogStrings();
    m_bCopyFiles = true;
    if (NamesReaderDir(ReaderIniPath(ini)))
        return true;
    m_bCopyFiles = false;
    if (!Confirm(832))
        return false;
    std::string chosen;
    if (!pick || !pick("VDRQWK INI File", {{"INI Files", "*.ini *.INI"}, {"All Files", "*"}},
                       ReaderStartDir(), chosen))
        return false;
    if (!NamesReaderDir(chosen)) {
        dlg::CheckError(833);
        return false;
    }
    if (!ini.WriteString("Directories", "VdrqwkIni", chosen)) {
        dlg::CheckError("The settings file could not be written: " + ini.LastWriteError());
        return false;
    }
    m_bCopyFiles = true;
    return true;
}

OkResult DDirectories::CheckOk() const
{
    OkResult result;
    const std::pair<const std::string*, Field> texts[] = {{&m_szQwk, QWK},
                                                          {&m_szRep, REP},
                                                          {&m_szQwkReader, READER},
                                                          {&m_szPacker, PACKER},
                                                          {&m_szUnpacker, UNPACKER}};
    for (const auto& [pText, field] : texts)
        if (!dlg::TextFits(*pText, field, result))
            return result;
    return OkResult::Accept();
}

bool DDirectories::Save(TnIni& ini) const
{
    bool bOk = true;
    bOk &= ini.WriteInt("Directories", "CopyFiles", m_bCopyFiles ? 1 : 0);
    bOk &= ini.WriteInt("Directories", "OverwriteQwk", m_bOverwriteQwk ? 1 : 0);
    bOk &= ini.WriteString("Directories", "Qwk", m_szQwk);
    bOk &= ini.WriteInt("Directories", "DeleteRep", m_bDeleteRep ? 1 : 0);
    bOk &= ini.WriteString("Directories", "Rep", m_szRep);
    bOk &= ini.WriteString("Directories", "QwkReader", m_szQwkReader);
    bOk &= ini.WriteString("Directories", "Packer", m_szPacker);
    bOk &= ini.WriteString("Directories", "Unpacker", m_szUnpacker);
    return bOk;
}

// "QWK, REP, and Mail Reader Paths": where packets go and come from, the
// offline reader, the packer and unpacker, and the copy into the companion
// reader's work directory.
#pragma once

#include "dialogs/DialogCommon.h"

#include <functional>
#include <string>
#include <vector>

class TnIni;

class DDirectories {
public:
    static constexpr const char* kTitle = "QWK, REP, and Mail Reader Paths";
    enum Field { NONE, COPY_FILES, QWK, REP, READER, PACKER, UNPACKER };

    // One file-type choice of a file-open dialog.
    struct FileFilter {
        std::string label;   // "INI Files"
        std::string pattern; // "*.ini *.INI"
    };
    // The platform's file-open dialog: title, filters, starting directory;
    // false when cancelled.
    using FilePicker =
        std::function<bool(const std::string& title, const std::vector<FileFilter>& filters,
                           const std::string& startDir, std::string& chosen)>;

    // homeDir: the program's directory, where a relative reader settings
    // path is looked up.
    DDirectories(const TnIni& ini, const std::string& homeDir);

    // The title of the file dialog of a program field's "Browse" button
    // ("Reader File", "Packer File", "Unpacker File") and its filters.
    static std::string BrowseTitle(Field field);
    static std::vector<FileFilter> ProgramFilters();

    // The user checked "Copy files to VDRQwk work directory".  The reader's
    // settings file must name the reader's directory; when it does not, the
    // user is asked to look for it.  A good file chosen here is written to
    // the settings at once.  Returns whether the box stays checked (and sets
    // m_bCopyFiles accordingly).  False also when the settings file could
    // not be written.
    bool OnCopyFilesChecked(TnIni& ini, const FilePicker& pick);
    // The reader settings file as configured, resolved against the
    // program's directory.
    std::string ReaderIniPath(const TnIni& ini) const;
    // Where the search for the reader's settings file starts: the
    // directory of the "Mail Reader" program (its text up to the first
    // blank).
    std::string ReaderStartDir() const;

    dlg::OkResult CheckOk() const;
    [[nodiscard]] bool Save(TnIni& ini) const;

    bool m_bCopyFiles = false;
    bool m_bOverwriteQwk = true;
    std::string m_szQwk;
    bool m_bDeleteRep = true;
    std::string m_szRep;
    std::string m_szQwkReader;
    std::string m_szPacker;
    std::string m_szUnpacker;

private:
    static bool NamesReaderDir(const std::string& iniPath);
    std::string m_szHomeDir;
};

// Saving the gathered messages as a packet: zipped into a QWK file by the
// built-in archiver, handed to an external packer, or copied into the
// companion reader's work directory; and starting the offline reader.
#pragma once

#include "framework/Window.h"

class Rfcmsg;

#include <functional>
#include <string>
#include <vector>

struct PacketSaveHooks {
    // The "Save QWK File As" dialog: proposes a path, false on cancel.
    std::function<bool(const std::string& proposed, std::string& chosen)> askPath;
    std::function<void(const std::string&)> status;
    std::function<void(int)> progress;
    // Receives the packet writer's progress messages.
    fw::Window* pProgressWindow = nullptr;
    // The gathered messages (their owner keeps them); nullptr when none.
    std::function<Rfcmsg*()> messages;
    // The packet holding the gathered messages is saved: the owner drops them.
    std::function<void()> dropMessages;
};

class CPacketSaver {
public:
    explicit CPacketSaver(PacketSaveHooks hooks);

    // Save: true when a packet was produced.  qwkPath is the main window's
    // chosen QWK path ("" while none is chosen); it may change.  With
    // bAutorun (nobody there to ask) an existing packet is never replaced
    // or overwritten: the new one takes a name of its own.
    bool Save(std::string& qwkPath, bool bAutorun);
    // Chooses the QWK path (the default path during Autorun); false when
    // the user cancels.
    bool ChooseQwkPath(std::string& qwkPath, bool bAutorun);
    // Run QWK Reader: starts the offline reader on the packet.  Saves first
    // when messages wait; when that save fails the reader is not started.
    // False when it did not start.  bMaySave false (online: saving does
    // nothing then) starts the reader without saving.
    bool RunReader(std::string& qwkPath, bool bAutorun, bool bMaySave = true);

    // The packet files named in qwkfiles.lst are copied into the target
    // (none: only deleted) and the gathered messages are dropped.  Returns
    // false when a copy failed (the source files of failed copies stay).
    bool CopyFiles(const std::string* pTarget);

    // Saves the gathered messages with the built-in archiver to the given
    // path, whatever the settings say (the last resort of a run that cannot
    // save as configured).  True when a packet was made.
    bool SaveRescue(const std::string& path);
    // "<home>/<packet name>-unsaved-YYYYMMDD-HHMMSS.Qwk".
    static std::string RescuePath();
    // Beside the default packet: "<packet name>-recovered-YYYYMMDD-HHMMSS.Qwk".
    static std::string RecoveryPath();

    // The files named in <workDir>/qwkfiles.lst (only names inside workDir).
    static std::vector<std::string> ListedFiles(const std::string& workDir);
    // Zips the listed packet files into the archive at its top level.  The
    // archive is written under a temporary name and renamed over the target
    // only when complete.  Returns the number of files, or -1 with the
    // reason in error (nothing is left behind then).  onFile is told about
    // each file before it is added (1-based).
    static int ZipPacketFiles(const std::string& workDir, const std::string& archive,
                              std::string& error,
                              const std::function<void(int, const std::string&)>& onFile = {});

    // "Home.Qwk" → "Home.Qwa", "Home.Qwb" ... "Home.Qwy", then "Home-2.Qwk",
    // "Home-3.Qwk" ...: the first name that does not exist.
    static std::string UniqueQwkName(const std::string& path);
    // The default QWK path: the "Directories" "Qwk" directory (the
    // program's directory when empty) and "<packet name>.Qwk".
    static std::string DefaultQwkPath();
    // Where the index of each saved packet is kept: "PacketIndex" in the
    // program's directory.
    static std::string IndexDirectory();
    // The command of a packer or unpacker template: "%1" and "%2" filled
    // inside the words (both must be present).  Empty when one is missing.
    static std::vector<std::string> PackerCommand(const std::string& templ, const std::string& arg1,
                                                  const std::string& arg2);

private:
    Rfcmsg* Messages() const { return m_hooks.messages ? m_hooks.messages() : nullptr; }
    bool BuiltInZip(std::string& qwkPath, bool bAutorun);
    bool ExternalPacker(std::string& qwkPath, bool bAutorun);
    bool CopyToReader(std::string& qwkPath, bool bAutorun);
    bool ZipOrPack(std::string& qwkPath, bool bAutorun);
    bool PreparePath(std::string& qwkPath, bool bAutorun);
    // Writes the packet files and qwkfiles.lst into the work directory;
    // returns the number of listed files, -1 on failure.
    int WritePacket();
    bool WriteAndCopy(const std::string& target);

    PacketSaveHooks m_hooks;
};

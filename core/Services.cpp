#include "core/Services.h"

#include "core/Strings.h"
#include "core/TnIni.h"
#include "framework/Files.h"
#include "framework/MessageBox.h"
#include "framework/Process.h"
#include "framework/Sound.h"
#include "framework/WaitCursor.h"

namespace {
std::function<bool()>& AutorunQuery()
{
    static std::function<bool()> s_query;
    return s_query;
}

std::string Cut(const std::string& text) { return text.substr(0, 200); }

std::function<void(const std::string&, const std::string&)>& Sink()
{
    static std::function<void(const std::string&, const std::string&)> s_sink;
    return s_sink;
}

struct Failures {
    int iCount = 0;
    std::string last;
};
Failures& TheFailures()
{
    static Failures s_failures;
    return s_failures;
}
} // namespace

void SetSuppressedMessageSink(std::function<void(const std::string&, const std::string&)> sink)
{
    Sink() = std::move(sink);
}

void NoteFailure(const std::string& text)
{
    ++TheFailures().iCount;
    TheFailures().last = text;
}

int FailureCount() { return TheFailures().iCount; }

const std::string& LastFailure() { return TheFailures().last; }

void ResetFailures() { TheFailures() = Failures{}; }

void SetAutorunQuery(std::function<bool()> query) { AutorunQuery() = std::move(query); }

bool AutorunRunning() { return AutorunQuery() && AutorunQuery()(); }

void Warning(const std::string& text)
{
    if (AutorunRunning()) {
        if (Sink())
            Sink()("Warning!", Cut(text));
        return;
    }
    fw::MessageBoxes().Show(Cut(text), "Warning!", fw::MbIcon::Information, fw::MbButtons::Ok);
}

void Warning(int iStringId) { Warning(LoadStringRes(iStringId)); }

void Error(const std::string& text)
{
    NoteFailure(text);
    if (AutorunRunning()) {
        if (Sink())
            Sink()("ERROR!", Cut(text));
        return;
    }
    fw::MessageBoxes().Show(Cut(text), "ERROR!", fw::MbIcon::Stop, fw::MbButtons::Ok);
}

void Error(int iStringId) { Error(LoadStringRes(iStringId)); }

bool Confirm(const std::string& text)
{
    if (AutorunRunning())
        return true;
    if (g_pIni && g_pIni->GetInt("Mailtolvan", "Confirmation", 1) == 0)
        return true;
    return fw::MessageBoxes().Show(Cut(text), "Warning!", fw::MbIcon::Question,
                                   fw::MbButtons::YesNo) == fw::IDYES;
}

bool Confirm(int iStringId) { return Confirm(LoadStringRes(iStringId)); }

bool PlayResourceSound(const std::string& name)
{
    if (!g_pIni || g_pIni->GetInt("Mailtolvan", "Sound", 1) != 1)
        return false;
    return fw::Sound::PlayResource(name);
}

bool PlayDoneBeep()
{
    if (!g_pIni || g_pIni->GetInt("Mailtolvan", "Sound", 1) != 1 ||
        g_pIni->GetInt("Mailtolvan", "Beep", 1) != 1)
        return false;
    return fw::Sound::PlaySystem("SystemAsterisk");
}

bool LaunchProgram(const std::vector<std::string>& argv, bool bWait, int* piExitCode)
{
    fw::WaitCursor wait;
    return fw::LaunchProgram(argv, bWait, piExitCode);
}

bool FileExists(const std::string& path) { return fw::FileExists(path); }

std::string TempFileName(const std::string& dir) { return fw::GetTempFileName(dir, "TMP"); }

bool PlatformIs(int iPlatform) { return iPlatform == 2; }

#include "dialogs/OptionsDialogs.h"

#include "core/Services.h"
#include "core/TnIni.h"
#include "newsgroups/Newsgroups.h"

namespace {
constexpr dlg::SpinRange kFlag{0, 1};
constexpr dlg::SpinRange k999{0, 999};
constexpr dlg::SpinRange kDays{0, 30};

OptionControl Flag(const char* pszSection, const char* pszKey, const char* pszLabel, int iDefault)
{
    return OptionControl{
        OptionControl::FLAG, pszSection, pszKey, pszLabel, iDefault, kFlag, nullptr, {}};
}

OptionControl Spin(const char* pszSection, const char* pszKey, const char* pszLabel,
                   dlg::SpinRange range, const char* pszUnit = nullptr)
{
    return OptionControl{OptionControl::SPIN, pszSection, pszKey, pszLabel, 0, range, pszUnit, {}};
}

OptionControl Encoding(const char* pszSection, int iDefault)
{
    return OptionControl{OptionControl::CHOICE,
                         pszSection,
                         "Encoding",
                         "File Encoding",
                         iDefault,
                         {0, 3},
                         nullptr,
                         {"None", "UUEncode", "Base-64", "Quoted-Printable"}};
}
} // namespace

OptionsDialog::OptionsDialog(std::string title, std::vector<OptionControl> controls,
                             const TnIni& ini)
    : m_title(std::move(title)), m_controls(std::move(controls))
{
    dlg::RegisterDialogStrings();
    for (const OptionControl& c : m_controls) {
        int v = ini.GetInt(c.pszSection, c.pszKey, c.iDefault);
        switch (c.kind) {
        case OptionControl::FLAG:
            v = v != 0 ? 1 : 0; // any non-zero value counts as set
            break;
        case OptionControl::SPIN:
            v = c.range.Clamp(v);
            break;
        case OptionControl::CHOICE:
            if (v < c.range.iMin || v > c.range.iMax)
                v = c.iDefault; // no button stands for it
            break;
        }
        m_values.push_back(v);
    }
}

int OptionsDialog::Index(const std::string& key) const
{
    for (std::size_t i = 0; i < m_controls.size(); ++i)
        if (key == m_controls[i].pszKey)
            return static_cast<int>(i);
    return -1;
}

int OptionsDialog::Value(const std::string& key) const
{
    int i = Index(key);
    return i < 0 ? 0 : m_values[i];
}

void OptionsDialog::Change(const std::string& key, int iValue)
{
    int i = Index(key);
    if (i < 0)
        return;
    int v = m_controls[i].range.Clamp(iValue);
    if (v == m_values[i])
        return;
    m_values[i] = v;
    OnChanged(key, v);
}

bool OptionsDialog::Save(TnIni& ini) const
{
    bool bOk = true;
    for (std::size_t i = 0; i < m_controls.size(); ++i)
        bOk &= ini.WriteInt(m_controls[i].pszSection, m_controls[i].pszKey, m_values[i]);
    return bOk;
}

DGroupConfig::DGroupConfig(const TnIni& ini)
    : OptionsDialog("Group Window Options",
                    {OptionControl{OptionControl::CHOICE,
                                   "Groups",
                                   "Retrieve",
                                   "Auto-retrieve",
                                   1,
                                   {0, 2},
                                   nullptr,
                                   {"None", "New groups", "All groups"}},
                     Flag("Groups", "DisplayAll", "Show all groups", 1),
                     Flag("Groups", "SelectedAtTop", "Move selected groups to top of window", 1),
                     Flag("Articles", "LongNames", "Use long group names in CONTROL.DAT", 1),
                     Flag("Articles", "ListAllGroups", "List all groups in CONTROL.DAT", 1)},
                    ini)
{
}

void DGroupConfig::OnChanged(const std::string& key, int iValue)
{
    if (key == "ListAllGroups" && iValue == 1)
        Warning(859);
}

DArticleConfig::DArticleConfig(const TnIni& ini)
    : OptionsDialog("Article Options",
                    {Flag("Articles", "Mime", "Enable MIME", 0), Encoding("Articles", 1),
                     Spin("Articles", "PostSize", "Post split size", k999, "(K)"),
                     Spin("Articles", "MinimumRetrieved", "Minimum articles to fetch", k999),
                     Spin("Articles", "DaysOldest", "Skip older than", kDays, "(days)"),
                     Spin("Articles", "MaximumRetrieved", "Maximum articles to fetch", k999),
                     Flag("Articles", "DiscardPartial", "Discard partial attachments", 0),
                     Spin("Articles", "ReceiveSize", "Split articles at", k999, "(lines)")},
                    ini)
{
}

bool DArticleConfig::Enabled(const std::string& key) const
{
    return key != "Encoding" || !Checked("Mime");
}

DEmailConfig::DEmailConfig(const TnIni& ini)
    : OptionsDialog("Email Options",
                    {Flag("Email", "Mime", "Enable MIME", 1), Encoding("Email", 0),
                     Spin("Email", "PostSize", "Reply split size", k999, "(K)"),
                     Spin("Email", "ReceiveSize", "Split mail at", k999, "(Lines)"),
                     Flag("Email", "ClearMailbox", "Clear mailbox when done", 1),
                     Spin("Email", "ClearAfterDays", "Clear after", kDays, "(Days)"),
                     Flag("Email", "DiscardPartial", "Discard partial attachments", 0),
                     Flag("Email", "ReplyTo", "Use Reply-To instead of From", 1)},
                    ini)
{
}

bool DEmailConfig::Enabled(const std::string& key) const
{
    if (key == "Encoding")
        return !Checked("Mime");
    if (key == "ClearAfterDays")
        return Checked("ClearMailbox");
    return true;
}

DTolvanConfig::DTolvanConfig(const TnIni& ini)
    : OptionsDialog("General Options",
                    {Flag("Mailtolvan", "DisableSplash", "Disable splash screen", 0),
                     Flag("Mailtolvan", "Sound", "Use sound", 1),
                     Flag("Mailtolvan", "Beep", "Beep when done", 1),
                     Flag("Mailtolvan", "Confirmation", "Use Confirmations", 1),
                     Flag("Mailtolvan", "SingleClick", "Single click message marking", 0),
                     Flag("Mailtolvan", "CursorTrack", "Cursor bar tracks current message", 1)},
                    ini)
{
}

bool DTolvanConfig::Enabled(const std::string& key) const
{
    return key != "Beep" || Checked("Sound");
}

DAutorun::DAutorun(const TnIni& ini, Newsgroups* pGroups)
    : OptionsDialog("Autorun",
                    {Flag("Autorun", "AutoEmail", "Auto-retrieve email", 0),
                     Flag("Autorun", "AutoNews", "Auto-retrieve news", 0),
                     Flag("Autorun", "AutoPost", "Auto-post replies", 0),
                     Flag("Autorun", "AutoReader", "Auto-run newsreader", 0)},
                    ini),
      m_ini(ini), m_pGroups(pGroups)
{
}

void DAutorun::OnChanged(const std::string& key, int iValue)
{
    if (iValue != 1)
        return;
    auto empty = [this](const char* pszKey, const char* pszDefault) {
        return m_ini.GetString("Servers", pszKey, pszDefault).empty();
    };
    if (key == "AutoEmail") {
        if (empty("POP3Server", "mail") || empty("POP3Name", "") || m_ini.GetPop3Password().empty())
            Warning(856);
    } else if (key == "AutoNews") {
        if (empty("NNTPServer", "news")) {
            Warning(853);
            return;
        }
        bool bAnyAutomatic = false;
        if (m_pGroups)
            for (std::int32_t i = 0; i < m_pGroups->Count() && !bAnyAutomatic; ++i) {
                const newsgr* pGroup = m_pGroups->At(i);
                bAnyAutomatic = (pGroup->m_uFlags & (NG_SELECTED | NG_AUTOMATIC)) ==
                                (NG_SELECTED | NG_AUTOMATIC);
            }
        if (!bAnyAutomatic)
            Warning(854);
    } else if (key == "AutoPost") {
        if (empty("SMTPServer", "mail"))
            Warning(855);
    } else if (key == "AutoReader") {
        if (m_ini.GetString("Directories", "QwkReader", "").empty())
            Warning(857);
    }
}

#include "ui/SettingsDialogs.h"

#include "core/TnIni.h"
#include "dialogs/DDirectories.h"
#include "dialogs/DServerInfo.h"
#include "dialogs/DUserInfo.h"
#include "dialogs/OptionsDialogs.h"
#include "dialogs/SmallDialogs.h"
#include "ui/HelpWindow.h"
#include "ui/Icons.h"
#include "util/TimeZone.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ui {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

QLineEdit* Edit(QWidget* pParent, const char* pszName, const std::string& value,
                int iMaxLength = static_cast<int>(TnIni::kMaxText))
{
    auto* p = new QLineEdit(Q(value), pParent);
    p->setObjectName(pszName);
    p->setMaxLength(iMaxLength);
    return p;
}

QLineEdit* PortEdit(QWidget* pParent, const char* pszName, int iPort)
{
    auto* p = Edit(pParent, pszName, std::to_string(iPort), DServerInfo::kPortDigits);
    p->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), p));
    p->setMaximumWidth(p->fontMetrics().horizontalAdvance("0000000") + 12);
    return p;
}

QLineEdit* PasswordEdit(QWidget* pParent, const char* pszName, const std::string& value,
                        int iMaxLength = static_cast<int>(TnIni::kMaxPassword))
{
    auto* p = Edit(pParent, pszName, value, iMaxLength);
    p->setEchoMode(QLineEdit::Password);
    return p;
}

QCheckBox* Check(QWidget* pParent, const char* pszName, const char* pszText, bool bChecked)
{
    auto* p = new QCheckBox(pszText, pParent);
    p->setObjectName(pszName);
    p->setChecked(bChecked);
    return p;
}

QLabel* Label(const char* pszText, QWidget* pBuddy)
{
    auto* p = new QLabel(pszText);
    p->setBuddy(pBuddy);
    return p;
}

QString FilterText(const std::vector<DDirectories::FileFilter>& filters)
{
    QStringList parts;
    for (const auto& f : filters)
        parts << Q(f.label) + " (" + Q(f.pattern) + ")";
    return parts.join(";;");
}
} // namespace

// --- the frame ---------------------------------------------------------

DialogFrame::DialogFrame(const QString& title, const QString& helpName, QWidget* pParent)
    : QDialog(pParent), m_helpName(helpName)
{
    setWindowTitle(title);
    // Only the main window is blocked: the help window stays usable.
    setWindowModality(Qt::WindowModal);
    auto* pLayout = new QVBoxLayout(this);
    m_pBody = new QVBoxLayout;
    pLayout->addLayout(m_pBody);
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_pButtons->addButton("&Help", QDialogButtonBox::HelpRole)->setObjectName("Help");
    pLayout->addWidget(m_pButtons);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, [this] {
        if (TryAccept())
            accept();
    });
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pButtons, &QDialogButtonBox::helpRequested, this,
            [this] { HelpWindow::ShowTopic(HelpTopic(m_helpName)); });
}

QPushButton* DialogFrame::OkButton() const { return m_pButtons->button(QDialogButtonBox::Ok); }

QWidget* DialogFrame::FieldWidget(int iField) const
{
    auto it = m_fields.find(iField);
    return it == m_fields.end() ? nullptr : it->second;
}

void DialogFrame::FocusField(int iField)
{
    QWidget* p = FieldWidget(iField);
    if (!p)
        return;
    p->setFocus(Qt::OtherFocusReason);
    if (auto* pEdit = qobject_cast<QLineEdit*>(p))
        pEdit->selectAll();
}

void DialogFrame::keyPressEvent(QKeyEvent* pEvent)
{
    if (pEvent->key() == Qt::Key_F1) {
        HelpWindow::ShowTopic(HelpTopic(m_helpName));
        return;
    }
    QDialog::keyPressEvent(pEvent);
}

// --- News and Mail Server Info -----------------------------------------

ServerInfoDialog::ServerInfoDialog(DServerInfo& model, QWidget* pParent)
    : DialogFrame(DServerInfo::kTitle, "DServerInfo", pParent), m_model(model)
{
    auto server = [this](const char* pszTitle, const char* pszServerLabel, const char* pszPrefix,
                         const std::string& host, int iPort, int iServerField, int iPortField,
                         QGridLayout*& pGrid) {
        auto* pBox = new QGroupBox(pszTitle, this);
        pGrid = new QGridLayout(pBox);
        QLineEdit* pHost = Edit(pBox, (std::string(pszPrefix) + "Server").c_str(), host);
        QLineEdit* pPort = PortEdit(pBox, (std::string(pszPrefix) + "Port").c_str(), iPort);
        pHost->setMinimumWidth(220);
        pGrid->addWidget(Label(pszServerLabel, pHost), 0, 0);
        pGrid->addWidget(pHost, 0, 1);
        pGrid->addWidget(Label("TCP Port", pPort), 0, 2);
        pGrid->addWidget(pPort, 0, 3);
        SetField(iServerField, pHost);
        SetField(iPortField, pPort);
        Body()->addWidget(pBox);
    };
    auto login = [this](QGridLayout* pGrid, const char* pszPrefix, const std::string& name,
                        const std::string& password, bool bSave, int iNameField,
                        int iPasswordField) {
        QWidget* pBox = pGrid->parentWidget();
        QLineEdit* pName = Edit(pBox, (std::string(pszPrefix) + "Name").c_str(), name);
        QLineEdit* pPassword =
            PasswordEdit(pBox, (std::string(pszPrefix) + "Password").c_str(), password);
        pGrid->addWidget(Label("Username", pName), 1, 0);
        pGrid->addWidget(pName, 1, 1);
        pGrid->addWidget(Label("Password", pPassword), 2, 0);
        pGrid->addWidget(pPassword, 2, 1);
        pGrid->addWidget(
            Check(pBox, (std::string(pszPrefix) + "SavePassword").c_str(), "Save password", bSave),
            2, 2, 1, 2);
        SetField(iNameField, pName);
        SetField(iPasswordField, pPassword);
    };
    // How the connection is secured, below a server's login.
    auto secured = [this](QGridLayout* pGrid, DServerInfo::Server server, int iSecurityField,
                          int iFingerprintField, int iCommandField, int iTokenField) {
        QWidget* pBox = pGrid->parentWidget();
        const std::string prefix = DServerInfo::ServerName(server);
        const DServerInfo::Encryption& e = m_model.Secured(server);
        auto* pSecurity = new QComboBox(pBox);
        pSecurity->setObjectName(Q(prefix + "Security"));
        for (int i = 0; i < DServerInfo::kSecurities; ++i)
            pSecurity->addItem(DServerInfo::SecurityLabel(i));
        pSecurity->setCurrentIndex(e.iSecurity);
        QLineEdit* pFingerprint = Edit(pBox, (prefix + "Fingerprint").c_str(), e.szFingerprint,
                                       160); // pairs, separators, some slack
        pFingerprint->setPlaceholderText("SHA-256 of the server's own certificate");
        QLineEdit* pCommand = Edit(pBox, (prefix + "PasswordCommand").c_str(), e.szPasswordCommand,
                                   DServerInfo::kMaxCommand);
        pCommand->setPlaceholderText("prints the password");
        int iRow = pGrid->rowCount();
        pGrid->addWidget(Label("Encryption", pSecurity), iRow, 0);
        pGrid->addWidget(pSecurity, iRow, 1);
        pGrid->addWidget(Label("Certificate", pFingerprint), iRow + 1, 0);
        pGrid->addWidget(pFingerprint, iRow + 1, 1, 1, 3);
        pGrid->addWidget(Label("Password command", pCommand), iRow + 2, 0);
        pGrid->addWidget(pCommand, iRow + 2, 1);
        if (DServerInfo::TakesAccessToken(server)) {
            QCheckBox* pToken =
                Check(pBox, (prefix + "AccessToken").c_str(), "Access token", e.bAccessToken);
            pGrid->addWidget(pToken, iRow + 2, 2, 1, 2);
            SetField(iTokenField, pToken);
        }
        SetField(iSecurityField, pSecurity);
        SetField(iFingerprintField, pFingerprint);
        SetField(iCommandField, pCommand);
        // A choice of the user's may move the port (never one typed by
        // hand); the model asks before SMTP moves to the submission port.
        connect(pSecurity, &QComboBox::activated, this, [this, server](int iSecurity) {
            auto* pPort =
                findChild<QLineEdit*>(Q(std::string(DServerInfo::ServerName(server)) + "Port"));
            int iPort = DServerInfo::ParsePort(S(pPort->text()));
            if (iPort < 0) {
                m_model.Secured(server).iSecurity = iSecurity;
                return;
            }
            m_model.Port(server) = iPort;
            if (m_model.ChooseSecurity(server, iSecurity))
                pPort->setText(QString::number(m_model.Port(server)));
        });
    };
    QGridLayout* pGrid = nullptr;
    server("News", "NNTP Server", "NNTP", model.m_szNntpServer, model.m_iNntpPort,
           DServerInfo::NNTP_SERVER, DServerInfo::NNTP_PORT, pGrid);
    login(pGrid, "NNTP", model.m_szNntpName, model.m_szNntpPassword, model.m_bNntpSavePassword,
          DServerInfo::NNTP_NAME, DServerInfo::NNTP_PASSWORD);
    secured(pGrid, DServerInfo::NNTP, DServerInfo::NNTP_SECURITY, DServerInfo::NNTP_FINGERPRINT,
            DServerInfo::NNTP_PASSWORD_COMMAND, 0);
    server("Sending mail", "SMTP Server", "SMTP", model.m_szSmtpServer, model.m_iSmtpPort,
           DServerInfo::SMTP_SERVER, DServerInfo::SMTP_PORT, pGrid);
    login(pGrid, "SMTP", model.m_szSmtpName, model.m_szSmtpPassword, model.m_bSmtpSavePassword,
          DServerInfo::SMTP_NAME, DServerInfo::SMTP_PASSWORD);
    secured(pGrid, DServerInfo::SMTP, DServerInfo::SMTP_SECURITY, DServerInfo::SMTP_FINGERPRINT,
            DServerInfo::SMTP_PASSWORD_COMMAND, DServerInfo::SMTP_ACCESS_TOKEN);
    server("Receiving mail", "POP3 Server", "POP3", model.m_szPop3Server, model.m_iPop3Port,
           DServerInfo::POP3_SERVER, DServerInfo::POP3_PORT, pGrid);
    login(pGrid, "POP3", model.m_szPop3Name, model.m_szPop3Password, model.m_bPop3SavePassword,
          DServerInfo::POP3_NAME, DServerInfo::POP3_PASSWORD);
    secured(pGrid, DServerInfo::POP3, DServerInfo::POP3_SECURITY, DServerInfo::POP3_FINGERPRINT,
            DServerInfo::POP3_PASSWORD_COMMAND, DServerInfo::POP3_ACCESS_TOKEN);

    auto* pZones = new QComboBox(this);
    pZones->setObjectName("TimeZone");
    for (int i = 0; i < tz::kTableSize; ++i)
        pZones->addItem(tz::DisplayTextForIndex(i));
    pZones->setCurrentIndex(model.m_iTimeZone);
    auto* pZoneRow = new QFormLayout;
    pZoneRow->addRow(Label("Time zone", pZones), pZones);
    Body()->addLayout(pZoneRow);
    bool bZone = DServerInfo::ShowsTimeZone();
    pZones->setVisible(bZone);
    pZoneRow->labelForField(pZones)->setVisible(bZone);
}

bool ServerInfoDialog::TryAccept()
{
    auto text = [this](const char* pszName) { return S(findChild<QLineEdit*>(pszName)->text()); };
    auto checked = [this](const char* pszName) {
        return findChild<QCheckBox*>(pszName)->isChecked();
    };
    m_model.m_szNntpServer = text("NNTPServer");
    m_model.m_iNntpPort = DServerInfo::ParsePort(text("NNTPPort"));
    m_model.m_szNntpName = text("NNTPName");
    m_model.m_szNntpPassword = text("NNTPPassword");
    m_model.m_bNntpSavePassword = checked("NNTPSavePassword");
    m_model.m_szSmtpServer = text("SMTPServer");
    m_model.m_iSmtpPort = DServerInfo::ParsePort(text("SMTPPort"));
    m_model.m_szPop3Server = text("POP3Server");
    m_model.m_iPop3Port = DServerInfo::ParsePort(text("POP3Port"));
    m_model.m_szPop3Name = text("POP3Name");
    m_model.m_szPop3Password = text("POP3Password");
    m_model.m_bPop3SavePassword = checked("POP3SavePassword");
    m_model.m_szSmtpName = text("SMTPName");
    m_model.m_szSmtpPassword = text("SMTPPassword");
    m_model.m_bSmtpSavePassword = checked("SMTPSavePassword");
    for (int i = 0; i < DServerInfo::kServers; ++i) {
        auto server = DServerInfo::Server(i);
        const std::string prefix = DServerInfo::ServerName(server);
        DServerInfo::Encryption& e = m_model.Secured(server);
        e.iSecurity = findChild<QComboBox*>(Q(prefix + "Security"))->currentIndex();
        e.szFingerprint = text((prefix + "Fingerprint").c_str());
        e.szPasswordCommand = text((prefix + "PasswordCommand").c_str());
        e.bAccessToken =
            DServerInfo::TakesAccessToken(server) && checked((prefix + "AccessToken").c_str());
    }
    m_model.m_iTimeZone = findChild<QComboBox*>("TimeZone")->currentIndex();
    dlg::OkResult r = m_model.CheckOk();
    if (!r.bAccepted)
        FocusField(r.iFocus);
    return r.bAccepted;
}

// --- Personal Information ----------------------------------------------

UserInfoDialog::UserInfoDialog(DUserInfo& model, QWidget* pParent)
    : DialogFrame(DUserInfo::kTitle, "DUserInfo", pParent), m_model(model)
{
    auto* pForm = new QFormLayout;
    const std::tuple<const char*, const char*, std::string*, int> rows[] = {
        {"Name", "Your name", &model.m_szName, DUserInfo::NAME},
        {"EmailAddress", "Your email address", &model.m_szEmailAddress, DUserInfo::EMAIL},
        {"ReplyToAddress", "Reply-to email address", &model.m_szReplyToAddress,
         DUserInfo::REPLY_TO},
        {"Organization", "Organization name", &model.m_szOrganization, DUserInfo::ORGANIZATION},
    };
    for (const auto& [pszKey, pszLabel, pValue, iField] : rows) {
        QLineEdit* p = Edit(this, pszKey, *pValue);
        p->setMinimumWidth(280);
        pForm->addRow(Label(pszLabel, p), p);
        SetField(iField, p);
    }
    Body()->addLayout(pForm);
}

bool UserInfoDialog::TryAccept()
{
    auto text = [this](const char* pszName) { return S(findChild<QLineEdit*>(pszName)->text()); };
    m_model.m_szName = text("Name");
    m_model.m_szEmailAddress = text("EmailAddress");
    m_model.m_szReplyToAddress = text("ReplyToAddress");
    m_model.m_szOrganization = text("Organization");
    dlg::OkResult r = m_model.CheckOk();
    if (!r.bAccepted)
        FocusField(r.iFocus);
    return r.bAccepted;
}

// --- QWK, REP, and Mail Reader Paths -----------------------------------

DirectoriesDialog::DirectoriesDialog(DDirectories& model, TnIni& ini, QWidget* pParent)
    : DialogFrame(DDirectories::kTitle, "DDirectories", pParent), m_model(model), m_ini(ini)
{
    m_picker = [this](const QString& title, const QString& filters, const QString& start,
                      QString& chosen) {
        chosen = QFileDialog::getOpenFileName(this, title, start, filters);
        return !chosen.isEmpty();
    };
    auto* pGrid = new QGridLayout;
    int iRow = 0;
    QCheckBox* pCopy =
        Check(this, "CopyFiles", "Copy files to VDRQwk work directory", model.m_bCopyFiles);
    pGrid->addWidget(pCopy, iRow, 0, 1, 2);
    pGrid->addWidget(Check(this, "OverwriteQwk", "Overwrite QWK file", model.m_bOverwriteQwk),
                     iRow++, 2);
    SetField(DDirectories::COPY_FILES, pCopy);

    auto path = [&](const char* pszKey, const char* pszLabel, const std::string& value, int iField,
                    bool bDirectory) {
        QLineEdit* pEdit = Edit(this, pszKey, value);
        pEdit->setMinimumWidth(280);
        auto* pBrowse = new QPushButton("Browse", this);
        pBrowse->setObjectName(QString(pszKey) + "Browse");
        pGrid->addWidget(Label(pszLabel, pEdit), iRow, 0);
        pGrid->addWidget(pEdit, iRow, 1);
        pGrid->addWidget(pBrowse, iRow++, 2);
        SetField(iField, pEdit);
        connect(pBrowse, &QPushButton::clicked, this, [this, pEdit, iField, bDirectory] {
            if (bDirectory) {
                QString dir =
                    QFileDialog::getExistingDirectory(this, "Browse Directories", pEdit->text());
                if (!dir.isEmpty())
                    pEdit->setText(dir);
                return;
            }
            QString chosen;
            std::string title = DDirectories::BrowseTitle(static_cast<DDirectories::Field>(iField));
            QString start = pEdit->text().section(' ', 0, 0);
            if (m_picker(Q(title), FilterText(DDirectories::ProgramFilters()), start, chosen))
                pEdit->setText(chosen);
        });
    };
    path("Qwk", "QWK download", model.m_szQwk, DDirectories::QWK, true);
    pGrid->addWidget(Check(this, "DeleteRep", "Delete rep after posting mail", model.m_bDeleteRep),
                     iRow++, 0, 1, 3);
    path("Rep", "REP upload", model.m_szRep, DDirectories::REP, true);
    path("QwkReader", "Mail Reader", model.m_szQwkReader, DDirectories::READER, false);
    path("Packer", "Packer", model.m_szPacker, DDirectories::PACKER, false);
    path("Unpacker", "Unpacker", model.m_szUnpacker, DDirectories::UNPACKER, false);
    Body()->addLayout(pGrid);

    // Checking the copy needs the reader's settings file; the model asks.
    connect(pCopy, &QCheckBox::clicked, this, [this, pCopy](bool bChecked) {
        m_model.m_bCopyFiles = bChecked;
        if (!bChecked)
            return;
        m_model.m_szQwkReader = S(findChild<QLineEdit*>("QwkReader")->text());
        bool bKept = m_model.OnCopyFilesChecked(
            m_ini,
            [this](const std::string& title, const std::vector<DDirectories::FileFilter>& filters,
                   const std::string& start, std::string& chosen) {
                QString q;
                bool bOk = m_picker(Q(title), FilterText(filters), Q(start), q);
                chosen = S(q);
                return bOk;
            });
        pCopy->setChecked(bKept);
    });
}

void DirectoriesDialog::SetFilePicker(
    std::function<bool(const QString&, const QString&, const QString&, QString&)> picker)
{
    m_picker = std::move(picker);
}

bool DirectoriesDialog::TryAccept()
{
    auto text = [this](const char* pszName) { return S(findChild<QLineEdit*>(pszName)->text()); };
    auto checked = [this](const char* pszName) {
        return findChild<QCheckBox*>(pszName)->isChecked();
    };
    m_model.m_bCopyFiles = checked("CopyFiles");
    m_model.m_bOverwriteQwk = checked("OverwriteQwk");
    m_model.m_szQwk = text("Qwk");
    m_model.m_bDeleteRep = checked("DeleteRep");
    m_model.m_szRep = text("Rep");
    m_model.m_szQwkReader = text("QwkReader");
    m_model.m_szPacker = text("Packer");
    m_model.m_szUnpacker = text("Unpacker");
    dlg::OkResult r = m_model.CheckOk();
    if (!r.bAccepted)
        FocusField(r.iFocus);
    return r.bAccepted;
}

// --- check boxes, radio groups and spin fields --------------------------

OptionsDialogView::OptionsDialogView(OptionsDialog& model, const QString& helpName,
                                     QWidget* pParent)
    : DialogFrame(Q(model.Title()), helpName, pParent), m_model(model)
{
    auto* pColumns = new QHBoxLayout;
    auto* pLeft = new QVBoxLayout;
    auto* pRight = new QFormLayout;
    for (const OptionControl& c : model.Controls()) {
        std::string key = c.pszKey;
        int iValue = model.Value(key);
        switch (c.kind) {
        case OptionControl::FLAG: {
            QCheckBox* p = Check(this, c.pszKey, c.pszLabel, iValue != 0);
            connect(p, &QCheckBox::clicked, this, [this, key](bool bChecked) {
                m_model.Change(key, bChecked ? 1 : 0);
                Refresh();
            });
            pLeft->addWidget(p);
            break;
        }
        case OptionControl::CHOICE: {
            auto* pBox = new QGroupBox(c.pszLabel, this);
            pBox->setObjectName(c.pszKey);
            auto* pButtons = new QVBoxLayout(pBox);
            auto* pGroup = new QButtonGroup(pBox);
            for (std::size_t i = 0; i < c.choices.size(); ++i) {
                auto* pRadio = new QRadioButton(c.choices[i], pBox);
                pRadio->setObjectName(QString(c.pszKey) + QString::number(i));
                pRadio->setChecked(static_cast<int>(i) == iValue);
                pGroup->addButton(pRadio, static_cast<int>(i));
                pButtons->addWidget(pRadio);
            }
            connect(pGroup, &QButtonGroup::idClicked, this, [this, key](int iId) {
                m_model.Change(key, iId);
                Refresh();
            });
            pLeft->addWidget(pBox);
            break;
        }
        case OptionControl::SPIN: {
            auto* pSpin = new QSpinBox(this);
            pSpin->setObjectName(c.pszKey);
            pSpin->setRange(c.range.iMin, c.range.iMax);
            pSpin->setValue(iValue);
            connect(pSpin, &QSpinBox::valueChanged, this, [this, key](int v) {
                m_model.Change(key, v);
                Refresh();
            });
            auto* pRow = new QHBoxLayout;
            pRow->addWidget(pSpin);
            if (c.pszUnit)
                pRow->addWidget(new QLabel(c.pszUnit, this));
            pRow->addStretch();
            auto* pLabel = Label(c.pszLabel, pSpin);
            pLabel->setObjectName(QString(c.pszKey) + "Label");
            pRight->addRow(pLabel, pRow);
            break;
        }
        }
    }
    pLeft->addStretch();
    pColumns->addLayout(pLeft);
    if (pRight->rowCount() > 0) {
        pColumns->addSpacing(16);
        pColumns->addLayout(pRight);
    } else {
        delete pRight; // no spin fields: the layout has no owner
    }
    Body()->addLayout(pColumns);
    Refresh();
}

void OptionsDialogView::Refresh()
{
    for (const OptionControl& c : m_model.Controls()) {
        bool bEnabled = m_model.Enabled(c.pszKey);
        if (QWidget* p = findChild<QWidget*>(c.pszKey))
            p->setEnabled(bEnabled);
        if (QWidget* p = findChild<QWidget*>(QString(c.pszKey) + "Label"))
            p->setEnabled(bEnabled);
    }
}

bool OptionsDialogView::TryAccept() { return m_model.CheckOk().bAccepted; }

// --- small dialogs -------------------------------------------------------

PasswordDialog::PasswordDialog(DPassword& model, QWidget* pParent)
    : DialogFrame(Q(model.m_szTitle), "DPassword", pParent), m_model(model)
{
    QLineEdit* p =
        PasswordEdit(this, "Password", model.m_szPassword, static_cast<int>(DPassword::kMaxLength));
    p->setMinimumWidth(240);
    auto* pForm = new QFormLayout;
    pForm->addRow(Label("Password", p), p);
    Body()->addLayout(pForm);
    findChild<QPushButton*>("Help")->hide();
    // The question comes before the main window may be shown: centre it on
    // the screen.
    setWindowModality(Qt::ApplicationModal);
    adjustSize();
    if (QScreen* pScreen = QGuiApplication::primaryScreen())
        move(pScreen->availableGeometry().center() - rect().center());
}

bool PasswordDialog::TryAccept()
{
    m_model.m_szPassword = S(findChild<QLineEdit*>("Password")->text());
    return true;
}

FindDialog::FindDialog(DFind& model, std::function<bool(bool)> search, QWidget* pParent)
    : QDialog(pParent), m_model(model)
{
    setWindowTitle(DFind::kTitle);
    auto* pEdit = new QLineEdit(Q(model.m_szText), this);
    pEdit->setObjectName("Text");
    pEdit->setMinimumWidth(220);
    auto* pFind = new QPushButton("&Find", this);
    auto* pRepeat = new QPushButton("&Repeat", this);
    auto* pCancel = new QPushButton("&Cancel", this);
    pFind->setObjectName("Find");
    pRepeat->setObjectName("Repeat");
    pFind->setDefault(true);
    auto* pLayout = new QHBoxLayout(this);
    pLayout->addWidget(pEdit, 1);
    auto* pButtons = new QVBoxLayout;
    pButtons->addWidget(pFind);
    pButtons->addWidget(pRepeat);
    pButtons->addWidget(pCancel);
    pLayout->addLayout(pButtons);
    auto run = [this, pEdit, search](bool bRepeat) {
        m_model.m_szText = S(pEdit->text());
        if (search)
            search(bRepeat);
    };
    connect(pFind, &QPushButton::clicked, this, [run] { run(false); });
    connect(pRepeat, &QPushButton::clicked, this, [run] { run(true); });
    connect(pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

AddGroupDialog::AddGroupDialog(DAddGroup& model, QWidget* pParent)
    : DialogFrame(DAddGroup::kTitle, "DAddGroup", pParent), m_model(model)
{
    QLineEdit* p = Edit(this, "Name", model.m_szName, 200);
    p->setMinimumWidth(260);
    Body()->addWidget(p);
    SetField(DAddGroup::NAME, p);
    findChild<QPushButton*>("Help")->hide();
}

bool AddGroupDialog::TryAccept()
{
    m_model.m_szName = S(findChild<QLineEdit*>("Name")->text());
    dlg::OkResult r = m_model.CheckOk();
    if (!r.bAccepted)
        FocusField(r.iFocus);
    return r.bAccepted;
}

AboutDialog::AboutDialog(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle("About Mail Tolvan");
    auto* pIcon = new QLabel(this);
    pIcon->setPixmap(AppIcon().pixmap(48, 48));
    auto* pText = new QLabel("<b>Mail Tolvan version 1.00a</b><br><br>"
                             "Mail Tolvan - An Internet mail gathering utility<br><br>"
                             "Gathers POP3 mail and Usenet news into QWK packets for an<br>"
                             "offline reader, and sends the reader's replies.",
                             this);
    pText->setObjectName("Text");
    auto* pRow = new QHBoxLayout;
    pRow->addWidget(pIcon, 0, Qt::AlignTop);
    pRow->addSpacing(12);
    pRow->addWidget(pText, 1);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pRow);
    pLayout->addWidget(pButtons);
}

} // namespace ui

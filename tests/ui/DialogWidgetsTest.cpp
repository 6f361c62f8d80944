// Each dialog's checks and rules driven through its widgets.
#include "UiFixture.h"
#include "dialogs/DDirectories.h"
#include "dialogs/DGroupSettings.h"
#include "dialogs/DServerInfo.h"
#include "dialogs/DUserInfo.h"
#include "dialogs/OptionsDialogs.h"
#include "ui/GroupSettingsDialog.h"
#include "ui/HelpWindow.h"
#include "ui/SettingsDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextBrowser>

namespace {
class DialogWidgets : public UiFixture {
protected:
    // Presses OK; true when the dialog closed accepted.
    static bool PressOk(ui::DialogFrame& d)
    {
        d.show();
        Settle();
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
        Settle();
        return d.result() == QDialog::Accepted && !d.isVisible();
    }
    template <class W = QWidget>
    static W* Child(QWidget& d, const char* pszName)
    {
        W* p = d.findChild<W*>(pszName);
        EXPECT_NE(p, nullptr) << pszName;
        return p;
    }
};
} // namespace

TEST_F(DialogWidgets, ServerFieldsTakeFiveDigitsAndAFaultKeepsTheFocusThere)
{
    DServerInfo model(*pIni);
    ui::ServerInfoDialog d(model);
    d.show();
    EXPECT_FALSE(Child(d, "TimeZone")->isVisible());
    Type(Child(d, "NNTPPort"), "12a3456");
    EXPECT_EQ(Child<QLineEdit>(d, "NNTPPort")->text(), "12345");
    Type(Child(d, "SMTPPort"), "0");
    Type(Child(d, "NNTPName"), "joe@news.example.org");
    Type(Child(d, "POP3Server"), "ann@pop.example.org");
    Type(Child(d, "POP3Name"), "ann");
    // The at-sign notes and the checks' order: the model's table.
    EXPECT_FALSE(PressOk(d));
    EXPECT_EQ(QApplication::focusWidget(), Child(d, "SMTPPort"));
    EXPECT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(pIni->GetInt("Servers", "SMTPPort", -1), 25) << "nothing written";

    Type(Child(d, "SMTPPort"), "587");
    boxes.answers = {fw::IDNO}; // to the question about the missing password
    EXPECT_FALSE(PressOk(d));
    EXPECT_EQ(QApplication::focusWidget(), Child(d, "POP3Password"));
    EXPECT_EQ(boxes.boxes.back().icon, fw::MbIcon::Question);
    Type(Child(d, "POP3Password"), "pw");
    ASSERT_TRUE(PressOk(d));
    ASSERT_TRUE(model.Save(*pIni));
    EXPECT_EQ(pIni->GetInt("Servers", "SMTPPort", -1), 587);
    EXPECT_EQ(pIni->GetInt("Servers", "NNTPPort", -1), 12345);
    EXPECT_EQ(pIni->GetString("Servers", "POP3Server", ""), "ann@pop.example.org");
    EXPECT_EQ(pIni->GetPop3Password(), "pw");
    // Not saving the password: what was typed is not kept.
    Child<QCheckBox>(d, "POP3SavePassword")->click();
    ASSERT_TRUE(PressOk(d));
    ASSERT_TRUE(model.Save(*pIni));
    EXPECT_EQ(pIni->GetPop3Password(), "");
}

TEST_F(DialogWidgets, EncryptionChoiceMovesDefaultPortsAndBadFingerprintKeepsTheFocus)
{
    DServerInfo model(*pIni);
    ui::ServerInfoDialog d(model);
    d.show();
    Type(Child(d, "POP3Name"), "ann");
    Type(Child(d, "POP3Password"), "pw");
    // The user steps through the choices with the keyboard: "STARTTLS
    // required" first, then "TLS from the start".
    auto choose = [&](const char* pszCombo, int iSteps) {
        QWidget* p = Child(d, pszCombo);
        p->setFocus();
        for (int i = 0; i < iSteps; ++i)
            QTest::keyClick(p, Qt::Key_Down);
    };
    choose("POP3Security", 2);
    EXPECT_EQ(Child<QLineEdit>(d, "POP3Port")->text(), "995");
    boxes.answers = {fw::IDYES};
    choose("SMTPSecurity", 1);
    EXPECT_EQ(Child<QLineEdit>(d, "SMTPPort")->text(), "587");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    // A port typed by hand stays.
    Type(Child(d, "NNTPPort"), "8119");
    choose("NNTPSecurity", 2);
    EXPECT_EQ(Child<QLineEdit>(d, "NNTPPort")->text(), "8119");

    Type(Child(d, "POP3Fingerprint"), "AB:CD");
    EXPECT_FALSE(PressOk(d));
    EXPECT_EQ(QApplication::focusWidget(), Child(d, "POP3Fingerprint"));
    Type(Child(d, "POP3Fingerprint"), QString(64, 'a'));
    Type(Child(d, "SMTPName"), "me");
    Type(Child(d, "SMTPPassword"), "smtp-pw");
    Type(Child(d, "SMTPPasswordCommand"), "token-helper --smtp");
    Child<QCheckBox>(d, "SMTPAccessToken")->click();
    ASSERT_TRUE(PressOk(d));
    ASSERT_TRUE(model.Save(*pIni));
    EXPECT_EQ(pIni->GetString("Servers", "POP3Security", ""), "tls");
    EXPECT_EQ(pIni->GetInt("Servers", "POP3Port", 0), 995);
    EXPECT_EQ(pIni->GetString("Servers", "SMTPSecurity", ""), "starttls");
    EXPECT_EQ(pIni->GetString("Servers", "NNTPSecurity", ""), "tls");
    EXPECT_EQ(pIni->GetString("Servers", "POP3Fingerprint", "").size(), 95u);
    EXPECT_EQ(pIni->GetString("Servers", "SMTPName", ""), "me");
    EXPECT_EQ(pIni->GetString("Servers", "SMTPPasswordCommand", ""), "token-helper --smtp");
    EXPECT_EQ(pIni->GetInt("Servers", "SMTPOAuth2", 0), 1);
    EXPECT_EQ(DServerInfo(*pIni).m_szSmtpPassword, "smtp-pw");
    EXPECT_EQ(d.findChild<QWidget*>("NNTPAccessToken"), nullptr);
}

TEST_F(DialogWidgets, UserInfoEmptyNameOrAddressKeepsTheFocusThere)
{
    DUserInfo model(*pIni);
    ui::UserInfoDialog d(model);
    d.show();
    EXPECT_EQ(Child<QLineEdit>(d, "Name")->text(), "Your Name Here");
    Type(Child(d, "Name"), "");
    Type(Child(d, "EmailAddress"), "");
    EXPECT_FALSE(PressOk(d));
    EXPECT_EQ(QApplication::focusWidget(), Child(d, "Name"));
    Type(Child(d, "Name"), "Ann Smith");
    EXPECT_FALSE(PressOk(d));
    EXPECT_EQ(QApplication::focusWidget(), Child(d, "EmailAddress"));
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_NE(boxes.boxes[0].text.find("without your name."), std::string::npos);
    EXPECT_NE(boxes.boxes[1].text.find("without your email address."), std::string::npos);
    EXPECT_EQ(boxes.boxes[1].caption, "Warning!");
    Type(Child(d, "EmailAddress"), "ann@example.org");
    ASSERT_TRUE(PressOk(d));
    ASSERT_TRUE(model.Save(*pIni));
    EXPECT_EQ(pIni->GetString("User", "EmailAddress", ""), "ann@example.org");
}

namespace {
// A dialog of check boxes and spin fields, a control and the control it
// enables or grays.
struct Gate {
    const char* name;
    std::function<std::unique_ptr<OptionsDialog>(TnIni&)> make;
    const char* pszGate;
    bool bGateEnables; // checked gate enables the dependent control
    const char* pszDependent;
    const char* pszClickable; // a widget of the dependent control to try
};
class Gates : public DialogWidgets, public ::testing::WithParamInterface<Gate> {};
} // namespace

TEST_P(Gates, DependentControlCannotBeChangedWhileGrayed)
{
    const Gate& g = GetParam();
    auto pModel = g.make(*pIni);
    ui::OptionsDialogView d(*pModel, "x");
    d.show();
    auto* pGate = Child<QCheckBox>(d, g.pszGate);
    if (pGate->isChecked() != g.bGateEnables)
        pGate->click();
    ASSERT_EQ(pGate->isChecked(), g.bGateEnables);
    EXPECT_TRUE(Child(d, g.pszDependent)->isEnabled());
    pGate->click();
    QWidget* pTry = Child(d, g.pszClickable);
    EXPECT_FALSE(pTry->isEnabled());
    int before = pModel->Value(g.pszDependent);
    QTest::mouseClick(pTry, Qt::LeftButton);
    QTest::keyClick(pTry, Qt::Key_Up);
    EXPECT_EQ(pModel->Value(g.pszDependent), before);
    pGate->click();
    EXPECT_TRUE(pTry->isEnabled());
}

template <class D>
std::function<std::unique_ptr<OptionsDialog>(TnIni&)> Make()
{
    return [](TnIni& ini) { return std::make_unique<D>(ini); };
}

const Gate kGates[] = {
    {"UseSoundGraysBeep", Make<DTolvanConfig>(), "Sound", true, "Beep", "Beep"},
    {"ArticleMimeGraysEncodings", Make<DArticleConfig>(), "Mime", false, "Encoding", "Encoding3"},
    {"EmailMimeGraysEncodings", Make<DEmailConfig>(), "Mime", false, "Encoding", "Encoding2"},
    {"ClearMailboxGraysClearAfter", Make<DEmailConfig>(), "ClearMailbox", true, "ClearAfterDays",
     "ClearAfterDays"},
};
INSTANTIATE_TEST_SUITE_P(Table, Gates, ::testing::ValuesIn(kGates),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialogWidgets, SpinFieldsStopAtTheirLimits)
{
    DArticleConfig model(*pIni);
    ui::OptionsDialogView d(model, "DArticleConfig");
    d.show();
    struct Case {
        const char* key;
        const char* typed;
        int iMax;
    } cases[] = {{"DaysOldest", "45", 30}, {"MaximumRetrieved", "12345", 999}};
    for (const Case& c : cases) {
        auto* pSpin = Child<QSpinBox>(d, c.key);
        Type(pSpin, c.typed);
        EXPECT_LE(pSpin->value(), c.iMax) << c.key;
        pSpin->setValue(c.iMax);
        QTest::keyClick(pSpin, Qt::Key_Up);
        EXPECT_EQ(pSpin->value(), c.iMax) << c.key;
        EXPECT_EQ(model.Value(c.key), c.iMax) << c.key;
    }
}

TEST_F(DialogWidgets, CopyFilesUnchecksWhenTheReaderFileIsNotFound)
{
    DDirectories model(*pIni, dir.Path());
    ui::DirectoriesDialog d(model, *pIni);
    int iPicks = 0;
    d.SetFilePicker([&](const QString& title, const QString& filters, const QString&, QString&) {
        ++iPicks;
        EXPECT_EQ(title, "VDRQWK INI File");
        EXPECT_TRUE(filters.startsWith("INI Files (*.ini"));
        return false; // cancelled
    });
    d.show();
    auto* pCopy = Child<QCheckBox>(d, "CopyFiles");
    // Yes, then the search is cancelled (No, a wrong file: the model's table).
    boxes.answers = {fw::IDYES};
    pCopy->click();
    EXPECT_FALSE(pCopy->isChecked());
    EXPECT_EQ(iPicks, 1);
    ASSERT_TRUE(PressOk(d));
    ASSERT_TRUE(model.Save(*pIni));
    EXPECT_EQ(pIni->GetInt("Directories", "CopyFiles", -1), 0);
}

TEST_F(DialogWidgets, GroupPasswordMustBeConfirmed)
{
    pGroups->Add("comp.lang.c", NG_SELECTED, 10, 0, "", "old");
    DGroupSettings model(*pGroups);
    ui::GroupSettingsDialog d(model);
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    auto* pList = d.findChild<QListWidget*>("Groups");
    ASSERT_NE(pList, nullptr);
    QList<QListWidgetItem*> rows = pList->findItems("comp.lang.c", Qt::MatchContains);
    ASSERT_EQ(rows.size(), 1);
    pList->setCurrentItem(rows[0]);
    Type(Child(d, "Password"), "new");
    Type(Child(d, "Confirm"), "wen");
    // Enter in Confirm checks the pair; the OK it also presses is refused.
    QTest::keyClick(Child(d, "Confirm"), Qt::Key_Return);
    Settle();
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "The Password and Confirm do not match.");
    EXPECT_EQ(Child<QLineEdit>(d, "Password")->text(), "");
    EXPECT_EQ(Child<QLineEdit>(d, "Confirm")->text(), "");
    EXPECT_EQ(QApplication::focusWidget(), Child(d, "Password"));
    Type(Child(d, "Password"), "new");
    Type(Child(d, "Confirm"), "new");
    ASSERT_TRUE(PressOk(d));
    ASSERT_TRUE(pGroups->Find("comp.lang.c"));
    EXPECT_EQ(pGroups->Current()->m_szPassword, "new");
}

TEST_F(DialogWidgets, HelpButtonAndF1OpenTheDialogsTopic)
{
    DEmailConfig model(*pIni);
    ui::OptionsDialogView d(model, "DEmailConfig");
    d.show();
    QTest::mouseClick(Child<QPushButton>(d, "Help"), Qt::LeftButton);
    EXPECT_EQ(ui::HelpWindow::Instance().CurrentPage(), "email-options.html");
    EXPECT_FALSE(ui::HelpWindow::Instance().Browser()->toPlainText().isEmpty());
    ui::HelpWindow::ShowTopic("index.html");
    d.activateWindow();
    QTest::keyClick(&d, Qt::Key_F1);
    EXPECT_EQ(ui::HelpWindow::Instance().CurrentPage(), "email-options.html");
    ui::HelpWindow::Destroy();
}

TEST(HelpBook, EveryTopicExistsAndSearchFindsPagesHoldingEveryWord)
{
    ASSERT_FALSE(ui::HelpDirectory().isEmpty());
    for (const char* name :
         {"WMain", "WEmail", "DServerInfo", "DUserInfo", "DDirectories", "DAutorun", "DGroupConfig",
          "DArticleConfig", "DEmailConfig", "DTolvanConfig", "DGroupSettings", "DPassword", "DFind",
          "DAddGroup", "ComputerName", "Headless", "Contents"})
        EXPECT_TRUE(QFile::exists(ui::HelpDirectory() + "/" + ui::HelpTopic(name))) << name;
    QStringList hits = ui::HelpWindow::Search("PORT 65535");
    ASSERT_EQ(hits.size(), 1) << hits.join(" ").toStdString();
    EXPECT_EQ(hits[0], "server-info.html|News and Mail Server Info");
    EXPECT_TRUE(ui::HelpWindow::Search("port zebra").isEmpty());
    EXPECT_TRUE(ui::HelpWindow::Search("   ").isEmpty());
}

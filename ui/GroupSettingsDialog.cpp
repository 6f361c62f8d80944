#include "ui/GroupSettingsDialog.h"

#include "dialogs/DGroupSettings.h"
#include "dialogs/SmallDialogs.h"
#include "ui/TabStopDelegate.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>

namespace ui {

namespace {
template <class W>
W* Named(W* p, const char* pszName)
{
    p->setObjectName(pszName);
    return p;
}
} // namespace

GroupSettingsDialog::GroupSettingsDialog(DGroupSettings& model, QWidget* pParent)
    : DialogFrame(DGroupSettings::kTitle, "DGroupSettings", pParent), m_model(model)
{
    m_pList = Named(new QListWidget(this), "Groups");
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setItemDelegate(new TabStopDelegate({12}, m_pList));
    m_pList->setMinimumSize(260, 300);
    auto* pToggle = Named(new QPushButton("&Select", this), "Toggle");
    auto* pAdd = Named(new QPushButton("&Add", this), "Add");
    auto* pDelete = Named(new QPushButton("&Delete", this), "Delete");
    auto* pFind = Named(new QPushButton("&Find", this), "Find");
    auto* pGlobal = Named(new QPushButton("Set &Globally", this), "SetGlobally");
    auto* pListButtons = new QHBoxLayout;
    for (QPushButton* p : {pToggle, pAdd, pDelete, pFind})
        pListButtons->addWidget(p);
    auto* pLeft = new QVBoxLayout;
    pLeft->addWidget(m_pList, 1);
    pLeft->addLayout(pListButtons);

    auto* pKind = new QGroupBox("Retrieval", this);
    auto* pKindLayout = new QVBoxLayout(pKind);
    auto* pAuto = Named(new QRadioButton("Automatically retrieve articles", pKind), "Automatic");
    auto* pManual =
        Named(new QRadioButton("Manually retrieve articles from header list", pKind), "Manual");
    pKindLayout->addWidget(pAuto);
    pKindLayout->addWidget(pManual);

    auto* pStart = new QGroupBox("Start", this);
    auto* pStartGrid = new QGridLayout(pStart);
    auto* pUseDate = Named(new QRadioButton("Use date", pStart), "UseDate");
    auto* pUseNumber = Named(new QRadioButton("Use number", pStart), "UseNumber");
    auto* pMonth = Named(new QComboBox(pStart), "Month");
    for (const std::string& m : DGroupSettings::MonthNames())
        pMonth->addItem(QString::fromStdString(m));
    auto* pDay = Named(new QSpinBox(pStart), "Day");
    pDay->setRange(1, 31);
    auto* pYear = Named(new QSpinBox(pStart), "Year");
    pYear->setRange(DGroupSettings::kFirstYear, DGroupSettings::kLastYear);
    auto* pNumber = Named(new QSpinBox(pStart), "FirstArticle");
    pNumber->setRange(0, INT32_MAX);
    pStartGrid->addWidget(pUseDate, 0, 0);
    pStartGrid->addWidget(pMonth, 0, 1);
    pStartGrid->addWidget(pDay, 0, 2);
    pStartGrid->addWidget(pYear, 0, 3);
    pStartGrid->addWidget(pUseNumber, 1, 0);
    pStartGrid->addWidget(new QLabel("First Article", pStart), 1, 1);
    pStartGrid->addWidget(pNumber, 1, 2, 1, 2);
    auto* pKindGroup = new QButtonGroup(this);
    pKindGroup->addButton(pAuto);
    pKindGroup->addButton(pManual);
    auto* pStartGroup = new QButtonGroup(this);
    pStartGroup->addButton(pUseDate);
    pStartGroup->addButton(pUseNumber);

    auto* pLogin = new QGroupBox("Login", this);
    auto* pLoginForm = new QFormLayout(pLogin);
    auto* pUser = Named(new QLineEdit(pLogin), "User");
    auto* pPassword = Named(new QLineEdit(pLogin), "Password");
    auto* pConfirm = Named(new QLineEdit(pLogin), "Confirm");
    for (QLineEdit* p : {pPassword, pConfirm})
        p->setEchoMode(QLineEdit::Password);
    pLoginForm->addRow("User name", pUser);
    pLoginForm->addRow("Password", pPassword);
    pLoginForm->addRow("Confirm", pConfirm);
    SetField(DGroupSettings::PASSWORD, pPassword);
    SetField(DGroupSettings::CONFIRM, pConfirm);
    SetField(DGroupSettings::LIST, m_pList);

    auto* pRight = new QVBoxLayout;
    pRight->addWidget(pKind);
    pRight->addWidget(pStart);
    pRight->addWidget(pLogin);
    pRight->addWidget(pGlobal, 0, Qt::AlignLeft);
    pRight->addStretch();
    auto* pColumns = new QHBoxLayout;
    pColumns->addLayout(pLeft, 1);
    pColumns->addLayout(pRight);
    Body()->addLayout(pColumns);

    // Every change goes to the current group at once.
    auto editing = [this] { return !m_bLoading; };
    connect(pAuto, &QRadioButton::toggled, this, [this, editing](bool b) {
        if (editing())
            m_model.SetAutomatic(b);
    });
    connect(pUseDate, &QRadioButton::toggled, this, [this, editing](bool b) {
        if (!editing())
            return;
        m_model.SetUseDate(b);
        LoadGroup();
    });
    auto setDate = [this, pMonth, pDay, pYear, editing] {
        if (!editing())
            return;
        m_model.SetDate(pMonth->currentIndex() + 1, pDay->value(), pYear->value());
        LoadGroup(); // the day may have been kept within the month
    };
    connect(pMonth, &QComboBox::currentIndexChanged, this, setDate);
    connect(pDay, &QSpinBox::valueChanged, this, setDate);
    connect(pYear, &QSpinBox::valueChanged, this, setDate);
    connect(pNumber, &QSpinBox::valueChanged, this, [this, editing](int v) {
        if (editing())
            m_model.SetFirstArticle(v);
    });
    connect(pUser, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_model.SetUser(t.toStdString()); });
    connect(pPassword, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_model.SetPassword(t.toStdString()); });
    connect(pConfirm, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_model.SetConfirm(t.toStdString()); });
    connect(pConfirm, &QLineEdit::editingFinished, this, [this] {
        if (!m_model.CheckPassword().bAccepted) {
            LoadGroup();
            FocusField(DGroupSettings::PASSWORD);
            // Enter in Confirm also presses OK: that press must not close
            // the dialog over the error just shown.
            m_bPasswordRefused = true;
            QTimer::singleShot(0, this, [this] { m_bPasswordRefused = false; });
        }
    });
    connect(m_pList, &QListWidget::currentRowChanged, this, [this](int iRow) {
        if (m_bLoading)
            return;
        if (!m_model.SetCurrent(iRow)) {
            // The password fields do not match: stay on the group.
            m_bLoading = true;
            m_pList->setCurrentRow(m_model.Current(), QItemSelectionModel::NoUpdate);
            m_bLoading = false;
            LoadGroup();
            FocusField(DGroupSettings::PASSWORD);
            return;
        }
        LoadGroup();
    });
    auto toggle = [this] {
        m_model.Toggle(Highlighted());
        ReloadRows();
    };
    connect(pToggle, &QPushButton::clicked, this, toggle);
    connect(m_pList, &QListWidget::itemDoubleClicked, this, toggle);
    connect(pGlobal, &QPushButton::clicked, this, [this] {
        m_model.SetGlobally();
        LoadGroup();
    });
    connect(pAdd, &QPushButton::clicked, this, [this] {
        DAddGroup add;
        AddGroupDialog dialog(add, this);
        if (dialog.exec() == QDialog::Accepted && m_model.Add(add.Name()) >= 0)
            ReloadRows();
    });
    connect(pDelete, &QPushButton::clicked, this, [this] {
        m_model.Delete(Highlighted());
        ReloadRows();
    });
    connect(pFind, &QPushButton::clicked, this, [this] {
        DFind find;
        FindDialog dialog(
            find,
            [this, &find](bool bRepeat) {
                int iRow = m_model.Find(find.m_szText, bRepeat ? m_model.Current() + 1 : 0);
                if (iRow >= 0)
                    ReloadRows();
                return iRow >= 0;
            },
            this);
        dialog.exec();
    });
    ReloadRows();
}

std::vector<int> GroupSettingsDialog::Highlighted() const
{
    std::vector<int> rows;
    for (const QModelIndex& i : m_pList->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void GroupSettingsDialog::ReloadRows()
{
    m_bLoading = true;
    std::vector<int> keep = Highlighted();
    m_pList->clear();
    for (const std::string& r : m_model.Rows())
        m_pList->addItem(QString::fromStdString(r));
    if (m_model.Current() >= 0)
        m_pList->setCurrentRow(m_model.Current());
    for (int r : keep)
        if (r < m_pList->count() && keep.size() > 1)
            m_pList->item(r)->setSelected(true);
    m_bLoading = false;
    LoadGroup();
}

void GroupSettingsDialog::LoadGroup()
{
    bool bWasLoading = m_bLoading;
    m_bLoading = true;
    bool bGroup = m_model.Group() != nullptr;
    findChild<QRadioButton*>(m_model.Automatic() ? "Automatic" : "Manual")->setChecked(true);
    findChild<QRadioButton*>(m_model.UseDate() ? "UseDate" : "UseNumber")->setChecked(true);
    int m = 1, d = 1, y = DGroupSettings::kFirstYear;
    m_model.Date(m, d, y);
    findChild<QComboBox*>("Month")->setCurrentIndex(m - 1);
    findChild<QSpinBox*>("Day")->setValue(d);
    findChild<QSpinBox*>("Year")->setValue(y);
    findChild<QSpinBox*>("FirstArticle")->setValue(m_model.FirstArticle());
    for (const char* pszName : {"Month", "Day", "Year"})
        findChild<QWidget*>(pszName)->setEnabled(bGroup && m_model.DateEnabled());
    findChild<QWidget*>("FirstArticle")->setEnabled(bGroup && m_model.NumberEnabled());
    auto* pUser = findChild<QLineEdit*>("User");
    if (!pUser->hasFocus())
        pUser->setText(bGroup ? QString::fromStdString(m_model.Group()->m_szUser) : QString());
    findChild<QLineEdit*>("Password")->setText(QString::fromStdString(m_model.PasswordField()));
    findChild<QLineEdit*>("Confirm")->setText(QString::fromStdString(m_model.ConfirmField()));
    for (const char* pszName : {"Automatic", "Manual", "UseDate", "UseNumber", "User", "Password",
                                "Confirm", "SetGlobally"})
        findChild<QWidget*>(pszName)->setEnabled(bGroup);
    m_bLoading = bWasLoading;
}

bool GroupSettingsDialog::TryAccept()
{
    if (m_bPasswordRefused)
        return false;
    if (m_model.Apply())
        return true;
    LoadGroup();
    FocusField(DGroupSettings::PASSWORD);
    return false;
}

} // namespace ui

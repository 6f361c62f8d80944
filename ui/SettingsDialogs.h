// The settings dialogs laid out with widgets.  Each shows the fields of
// its model (dialogs/), follows the model's enabling rules as the user
// edits, and on OK hands the fields to the model's checks: the dialog
// closes only when they pass, otherwise the focus goes to the field the
// model names.  Widgets are named after the settings keys they edit.
#pragma once

#include <QDialog>
#include <functional>
#include <map>

class QDialogButtonBox;
class QVBoxLayout;
class QLineEdit;
class QCheckBox;
class TnIni;
class DServerInfo;
class DUserInfo;
class DDirectories;
class OptionsDialog;
class DPassword;
class DFind;
class DAddGroup;

namespace ui {

// OK, Cancel and "&Help" under the dialog's own controls; F1 and "&Help"
// open the dialog's help topic.
class DialogFrame : public QDialog {
public:
    DialogFrame(const QString& title, const QString& helpName, QWidget* pParent);
    QVBoxLayout* Body() const { return m_pBody; }
    QPushButton* OkButton() const;
    // The widget that edits a model field (for the focus after a check).
    QWidget* FieldWidget(int iField) const;

protected:
    // OK was pressed: true when the dialog may close.
    virtual bool TryAccept() = 0;
    void SetField(int iField, QWidget* pWidget) { m_fields[iField] = pWidget; }
    // Puts the focus on a model field's widget.
    void FocusField(int iField);
    void keyPressEvent(QKeyEvent* pEvent) override;
    QDialogButtonBox* Buttons() const { return m_pButtons; }

private:
    QVBoxLayout* m_pBody;
    QDialogButtonBox* m_pButtons;
    QString m_helpName;
    std::map<int, QWidget*> m_fields;
};

class ServerInfoDialog : public DialogFrame {
public:
    ServerInfoDialog(DServerInfo& model, QWidget* pParent = nullptr);

protected:
    bool TryAccept() override;

private:
    DServerInfo& m_model;
};

class UserInfoDialog : public DialogFrame {
public:
    UserInfoDialog(DUserInfo& model, QWidget* pParent = nullptr);

protected:
    bool TryAccept() override;

private:
    DUserInfo& m_model;
};

class DirectoriesDialog : public DialogFrame {
public:
    // The settings are needed while the dialog is open: a reader settings
    // file chosen for "Copy files" is written at once.
    DirectoriesDialog(DDirectories& model, TnIni& ini, QWidget* pParent = nullptr);
    // The file-open dialog in use (tests put their own in its place).
    void SetFilePicker(std::function<bool(const QString& title, const QString& filters,
                                          const QString& start, QString& chosen)>
                           picker);

protected:
    bool TryAccept() override;

private:
    DDirectories& m_model;
    TnIni& m_ini;
    std::function<bool(const QString&, const QString&, const QString&, QString&)> m_picker;
};

// Any dialog made of check boxes, radio groups and spin fields.
class OptionsDialogView : public DialogFrame {
public:
    // helpName: the model's class name, for its help topic.
    OptionsDialogView(OptionsDialog& model, const QString& helpName, QWidget* pParent = nullptr);

protected:
    bool TryAccept() override;

private:
    // Enables and grays every control as the model says.
    void Refresh();
    OptionsDialog& m_model;
};

// "Password": one masked field, centred on the screen.
class PasswordDialog : public DialogFrame {
public:
    PasswordDialog(DPassword& model, QWidget* pParent = nullptr);

protected:
    bool TryAccept() override;

private:
    DPassword& m_model;
};

// "Find": "&Find" searches from the first row, "&Repeat" after the current
// one; the caller's search returns whether it found something.
class FindDialog : public QDialog {
public:
    FindDialog(DFind& model, std::function<bool(bool bRepeat)> search, QWidget* pParent = nullptr);

private:
    DFind& m_model;
};

class AddGroupDialog : public DialogFrame {
public:
    AddGroupDialog(DAddGroup& model, QWidget* pParent = nullptr);

protected:
    bool TryAccept() override;

private:
    DAddGroup& m_model;
};

// "About Mail Tolvan".
class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* pParent = nullptr);
};

} // namespace ui

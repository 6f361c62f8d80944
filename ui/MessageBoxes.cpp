#include "ui/MessageBoxes.h"

#include <QApplication>

namespace ui {

namespace {
std::function<void(QMessageBox&)>& Hook()
{
    static std::function<void(QMessageBox&)> s_hook;
    return s_hook;
}
} // namespace

void QtMessageBoxes::SetShowHook(std::function<void(QMessageBox&)> hook)
{
    Hook() = std::move(hook);
}

QMessageBox::Icon QtMessageBoxes::IconOf(fw::MbIcon icon)
{
    switch (icon) {
    case fw::MbIcon::Information:
        return QMessageBox::Information;
    case fw::MbIcon::Stop:
        return QMessageBox::Critical;
    case fw::MbIcon::Question:
        return QMessageBox::Question;
    case fw::MbIcon::Exclamation:
        return QMessageBox::Warning;
    case fw::MbIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

int QtMessageBoxes::Show(const std::string& text, const std::string& caption, fw::MbIcon icon,
                         fw::MbButtons buttons, bool bSystemModal)
{
    // A box belongs to what the user is looking at: an open dialog, else
    // the main window.  Start-up failures have no owner.
    QWidget* pParent = nullptr;
    if (!bSystemModal) {
        pParent = QApplication::activeModalWidget();
        if (!pParent)
            pParent = m_pOwner;
    }
    QMessageBox box(IconOf(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    buttons == fw::MbButtons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                                    : QMessageBox::Ok,
                    pParent);
    if (bSystemModal)
        box.setWindowModality(Qt::ApplicationModal);
    if (Hook())
        Hook()(box);
    int r = box.exec();
    if (buttons != fw::MbButtons::YesNo)
        return fw::IDOK;
    return r == QMessageBox::Yes ? fw::IDYES : fw::IDNO;
}

} // namespace ui

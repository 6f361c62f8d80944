// Message boxes and questions of the program as Qt message boxes, owned by
// the main window (or by the open dialog), with the program's captions and
// icons.
#pragma once

#include "framework/MessageBox.h"

#include <QMessageBox>
#include <QPointer>
#include <functional>

namespace ui {

class QtMessageBoxes : public fw::IMessageBoxService {
public:
    // pOwner: the main window (boxes are centred on what is active).
    explicit QtMessageBoxes(QWidget* pOwner) : m_pOwner(pOwner) {}
    int Show(const std::string& text, const std::string& caption, fw::MbIcon icon,
             fw::MbButtons buttons, bool bSystemModal) override;

    static QMessageBox::Icon IconOf(fw::MbIcon icon);
    // Called with each box just before it runs (tests answer it there).
    static void SetShowHook(std::function<void(QMessageBox&)> hook);

private:
    QPointer<QWidget> m_pOwner;
};

} // namespace ui

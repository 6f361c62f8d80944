// "Group Settings" laid out: the groups of the working copy on the left,
// the current group's retrieval, start and login on the right.
#pragma once

#include "ui/SettingsDialogs.h"

class DGroupSettings;
class QListWidget;

namespace ui {

class GroupSettingsDialog : public DialogFrame {
public:
    GroupSettingsDialog(DGroupSettings& model, QWidget* pParent = nullptr);

protected:
    bool TryAccept() override;

private:
    // Refills the rows (keeping the current one) and the group's fields.
    void ReloadRows();
    void LoadGroup();
    std::vector<int> Highlighted() const;

    DGroupSettings& m_model;
    QListWidget* m_pList;
    bool m_bLoading = false;
    bool m_bPasswordRefused = false;
};

} // namespace ui

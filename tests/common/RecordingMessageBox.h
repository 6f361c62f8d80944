// Remembers every box; Yes/No questions take their answers from a queue
// (IDYES once it is empty, unless another default is set).
#pragma once

#include "framework/MessageBox.h"

#include <deque>
#include <string>
#include <vector>

class RecordingMessageBox : public fw::IMessageBoxService {
public:
    struct Box {
        std::string text;
        std::string caption;
        fw::MbIcon icon;
        fw::MbButtons buttons;
        bool bSystemModal;
    };
    int Show(const std::string& text, const std::string& caption, fw::MbIcon icon,
             fw::MbButtons buttons, bool bSystemModal) override
    {
        boxes.push_back(Box{text, caption, icon, buttons, bSystemModal});
        if (buttons != fw::MbButtons::YesNo)
            return fw::IDOK;
        if (answers.empty())
            return iDefaultAnswer;
        int a = answers.front();
        answers.pop_front();
        return a;
    }

    std::vector<Box> boxes;
    std::deque<int> answers;
    int iDefaultAnswer = fw::IDYES;
};

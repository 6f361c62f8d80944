// Message boxes as a service.  The logic asks a question or shows a message;
// the implementation in use decides how: widgets in the window program, lines
// on stderr in a headless run, a record in tests.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace fw {

enum class MbIcon { None, Information, Stop, Question, Exclamation };
enum class MbButtons { Ok, YesNo };

constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class IMessageBoxService {
public:
    virtual ~IMessageBoxService() = default;
    // Returns IDOK, IDYES or IDNO.  bSystemModal marks boxes shown without an
    // owner window (start-up failures).
    virtual int Show(const std::string& text, const std::string& caption, MbIcon icon,
                     MbButtons buttons, bool bSystemModal = false) = 0;
};

// The service in use (a console one until something else is set).
IMessageBoxService& MessageBoxes();
// Installs a service; nullptr restores the console one.  The caller keeps
// ownership and must reset it before the service dies.
void SetMessageBoxService(IMessageBoxService* pService);

// Prints "caption: text" on stderr.  A Yes/No question is asked on the
// terminal when standard input is one; otherwise it is answered No (a
// program without a user must not take a risky step on its own) and the
// answer is printed.
class ConsoleMessageBox : public IMessageBoxService {
public:
    int Show(const std::string& text, const std::string& caption, MbIcon icon, MbButtons buttons,
             bool bSystemModal) override;
};

} // namespace fw

#include "framework/Process.h"

#include "framework/Window.h"

#include <QProcess>
#include <QStringList>

namespace fw {

std::vector<std::string> SplitCommandLine(const std::string& text)
{
    std::vector<std::string> words;
    std::string word;
    bool bInWord = false, bQuoted = false;
    for (char c : text) {
        if (c == '"') {
            bQuoted = !bQuoted;
            bInWord = true;
            continue;
        }
        if (!bQuoted && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
            if (bInWord) {
                words.push_back(word);
                word.clear();
                bInWord = false;
            }
            continue;
        }
        word += c;
        bInWord = true;
    }
    if (bInWord)
        words.push_back(word);
    return words;
}

std::vector<std::string> ExpandCommand(const std::string& templ,
                                       const std::vector<std::string>& args)
{
    std::vector<std::string> words = SplitCommandLine(templ);
    for (std::string& w : words) {
        std::string out;
        for (std::size_t i = 0; i < w.size(); ++i) {
            if (w[i] == '%' && i + 1 < w.size()) {
                char n = w[i + 1];
                if (n == '%') {
                    out += '%';
                    ++i;
                    continue;
                }
                if (n >= '1' && n <= '9' && static_cast<std::size_t>(n - '1') < args.size()) {
                    out += args[static_cast<std::size_t>(n - '1')];
                    ++i;
                    continue;
                }
            }
            out += w[i];
        }
        w = out;
    }
    return words;
}

namespace {
QStringList ToArgs(const std::vector<std::string>& argv)
{
    QStringList list;
    for (std::size_t i = 1; i < argv.size(); ++i)
        list << QString::fromLocal8Bit(argv[i].c_str());
    return list;
}
} // namespace

bool LaunchProgram(const std::vector<std::string>& argv, bool bWait, int* piExitCode)
{
    if (argv.empty() || argv[0].empty())
        return false;
    QString program = QString::fromLocal8Bit(argv[0].c_str());
    if (!bWait)
        return QProcess::startDetached(program, ToArgs(argv));

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(program, ToArgs(argv));
    if (!process.waitForStarted(-1))
        return false;
    // Keep the program's windows alive while the other program runs.
    // A run that is ending does not wait for it: it is asked to stop.
    while (process.state() != QProcess::NotRunning) {
        if (MessageLoop::Quitting()) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(-1);
            }
            if (piExitCode)
                *piExitCode = -1;
            return true;
        }
        MessageLoop::TakeOneMessage();
    }
    if (piExitCode)
        *piExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

bool RunAndCapture(const std::vector<std::string>& argv, std::string& output, int& iExitCode,
                   int iTimeoutMs)
{
    if (argv.empty())
        return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QString::fromLocal8Bit(argv[0].c_str()), ToArgs(argv));
    if (!process.waitForStarted(-1))
        return false;
    process.closeWriteChannel();
    if (!process.waitForFinished(iTimeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
        return false;
    }
    output = process.readAllStandardOutput().toStdString();
    iExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return true;
}

} // namespace fw

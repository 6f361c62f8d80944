#include "TestUtil.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testutil {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "mttest-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests may leave read-only directories behind.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    for (auto& e : std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec))
        if (e.is_directory(ec))
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

bool Exists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string BinPath(const std::string& name) { return std::string(MT_BIN_DIR) + "/" + name; }

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& input, int iTimeoutMs)
{
    RunResult r;
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const std::string& kv : env) {
        auto eq = kv.find('=');
        QString k = QString::fromStdString(kv.substr(0, eq));
        std::string v = kv.substr(eq + 1);
        if (v.empty())
            e.remove(k);
        else
            e.insert(k, QString::fromStdString(v));
    }
    p.setProcessEnvironment(e);
    QStringList args;
    for (std::size_t i = 1; i < argv.size(); ++i)
        args << QString::fromStdString(argv[i]);
    p.start(QString::fromStdString(argv[0]), args);
    if (!p.waitForStarted(-1))
        return r;
    if (!input.empty())
        p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    if (!p.waitForFinished(iTimeoutMs)) {
        p.kill();
        p.waitForFinished(-1);
        return r;
    }
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    r.iExit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

RunResult RunTool(const std::string& home, std::vector<std::string> args, const std::string& input)
{
    args.insert(args.begin(), BinPath("mailtolvan-tool"));
    return RunProgram(args, {"MAILTOLVAN_HOME=" + home}, input);
}

LoopbackListener::LoopbackListener()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(m_fd, 8) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("no loopback listener");
    m_iPort = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() { Close(); }

int LoopbackListener::Accept() { return m_fd < 0 ? -1 : ::accept(m_fd, nullptr, nullptr); }

void LoopbackListener::Close()
{
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
    }
    m_fd = -1;
}

bool RerunAsNobody()
{
    if (::geteuid() != 0)
        return false;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    RunResult r = RunProgram(
        {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
         std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=" + name});
    EXPECT_EQ(r.iExit, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("[       OK ] " + name), std::string::npos) << r.out << r.err;
    return true;
}

} // namespace testutil

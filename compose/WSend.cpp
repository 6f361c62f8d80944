#include "compose/WSend.h"

#include "compose/HeaderText.h"
#include "core/Services.h"
#include "core/Startup.h"
#include "core/TnIni.h"
#include "packet/Repfile.h"
#include "proto/CNNTPP.h"
#include "proto/CSMTP.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

SendSettings Common(const char* pszSection, int iMimeDefault, int iEncodingDefault)
{
    SendSettings s;
    if (g_pStartup)
        s.workDir = g_pStartup->m_szRepWorkDir;
    if (!g_pIni)
        return s;
    s.organization = g_pIni->GetString("User", "Organization", "");
    s.replyTo = g_pIni->GetString("User", "ReplyToAddress", "");
    s.bMime = g_pIni->GetInt(pszSection, "Mime", iMimeDefault) != 0;
    s.iEncoding = g_pIni->GetInt(pszSection, "Encoding", iEncodingDefault);
    s.iPostSize = g_pIni->GetInt(pszSection, "PostSize", 0);
    s.senderName = g_pIni->GetString("User", "Name", "Your Name Here");
    s.senderAddress = g_pIni->GetString("User", "EmailAddress", kPlaceholderEmail);
    return s;
}

} // namespace

SendSettings SendSettings::ForMail()
{
    SendSettings s = Common("Email", 1, 0);
    s.server = g_pIni ? g_pIni->GetString("Servers", "SMTPServer", "mail") : "mail";
    s.iPort = g_pIni ? g_pIni->GetInt("Servers", "SMTPPort", 25) : 25;
    return s;
}

SendSettings SendSettings::ForNews()
{
    SendSettings s = Common("Articles", 0, 1);
    std::string server = g_pIni ? g_pIni->GetString("Servers", "NNTPServer", "news") : "news";
    std::size_t at = server.find('@');
    s.server = at == std::string::npos ? server : server.substr(at + 1);
    s.iPort = g_pIni ? g_pIni->GetInt("Servers", "NNTPPort", 119) : 119;
    return s;
}

std::string PartSubjectText(const std::string& subject, const std::string& attachName, int iPart,
                            int iTotal)
{
    if (iTotal < 2)
        return subject;
    return subject + " - " + attachName + " [" + std::to_string(iPart) + "/" +
           std::to_string(iTotal) + "]";
}

CSendJob::CSendJob(mailxarticle& record, SendSettings settings)
    : m_settings(std::move(settings)), m_record(record)
{
    m_pMessage = std::make_unique<OutgoingMessage>(record, m_settings.workDir, m_settings.bMime,
                                                   m_settings.iEncoding, m_settings.replyTo.c_str(),
                                                   m_settings.organization.c_str());
    if (!m_pMessage->Built()) {
        m_szError = m_pMessage->Error();
        return;
    }
    m_pBodyReader = std::fopen(m_pMessage->m_szBodyFile.c_str(), "rb");
    struct stat st {};
    if (::stat(m_pMessage->m_szBodyFile.c_str(), &st) == 0)
        m_lBodySize = st.st_size;
    if (m_settings.iPostSize > 0)
        m_iPartsTotal = static_cast<std::int32_t>(
            1 + m_lBodySize / (static_cast<std::int64_t>(m_settings.iPostSize) * 1024));
}

CSendJob::~CSendJob()
{
    ClosePart();
    if (m_pBodyReader)
        std::fclose(m_pBodyReader);
}

void CSendJob::ClosePart()
{
    if (m_pPartReader) {
        std::fclose(m_pPartReader);
        m_pPartReader = nullptr;
    }
    if (!m_szPartFile.empty())
        ::unlink(m_szPartFile.c_str());
    m_szPartFile.clear();
}

bool CSendJob::NextPart()
{
    if (!m_pMessage->Built())
        return false;
    if (!m_pBodyReader) {
        m_szError = "cannot read " + m_pMessage->m_szBodyFile;
        return false;
    }
    ClosePart();
    m_szPartFile = TempFileName(m_settings.workDir);
    std::FILE* part = m_szPartFile.empty() ? nullptr : std::fopen(m_szPartFile.c_str(), "wb");
    std::FILE* head = std::fopen(m_pMessage->m_szHeaderFile.c_str(), "rb");
    if (!part || !head) {
        if (part)
            std::fclose(part);
        if (head)
            std::fclose(head);
        m_szError = "cannot write a part file in " + m_settings.workDir;
        return false;
    }
    char buffer[8192];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, head)) > 0)
        std::fwrite(buffer, 1, n, part);
    std::fclose(head);
    if (m_iNextPart > 1)
        std::fputc('\n', part);
    ReadSlice(part);
    bool ok = std::ferror(part) == 0;
    ok = std::fclose(part) == 0 && ok;
    m_pPartReader = ok ? std::fopen(m_szPartFile.c_str(), "rb") : nullptr;
    if (!m_pPartReader) {
        m_szError = "cannot write " + m_szPartFile + " (is the disk full?)";
        return false;
    }
    m_szPartSubject = PartSubjectText(m_pMessage->m_szSubject, m_record.m_szAttachName, m_iNextPart,
                                      m_iPartsTotal);
    ++m_iNextPart;
    if (!StartClient(m_pPartReader, EncodeHeaderText(m_szPartSubject, 9))) {
        m_szError = "the client is busy";
        return false;
    }
    return true;
}

bool CSendJob::SkipPart()
{
    if (!m_pMessage->Built() || !m_pBodyReader)
        return false;
    ReadSlice(nullptr);
    ++m_iNextPart;
    return true;
}

void CSendJob::ReadSlice(std::FILE* pOut)
{
    const std::int64_t limit = static_cast<std::int64_t>(m_settings.iPostSize) * 1024;
    std::int64_t count = 0;
    int c;
    while ((c = std::getc(m_pBodyReader)) != EOF) {
        if (pOut)
            std::fputc(c, pOut);
        ++count;
        if (c == '\n' && limit > 0 && count > limit)
            break;
    }
    c = std::getc(m_pBodyReader);
    m_bMoreParts = c != EOF;
    if (c != EOF)
        std::ungetc(c, m_pBodyReader);
}

std::string CSendJob::Cut() const
{
    return "mime " + std::to_string(m_settings.bMime ? 1 : 0) + " encoding " +
           std::to_string(m_settings.iEncoding) + " body " + std::to_string(m_lBodySize) +
           " size " + std::to_string(m_settings.iPostSize);
}

WSendSmtp::WSendSmtp(mailxarticle& record, CSMTP& client, SendSettings settings)
    : CSendJob(record, std::move(settings)), m_client(client)
{
}

bool WSendSmtp::StartClient(std::FILE* pPart, const std::string& wireSubject)
{
    return m_client.SendMail(m_settings.server.c_str(),
                             static_cast<std::uint16_t>(m_settings.iPort), pPart,
                             wireSubject.c_str(), m_settings.senderAddress.c_str(),
                             EncodeHeaderText(m_settings.senderName, 0).c_str(),
                             Message().m_pRecipients.get(), Message().m_pCopies.get());
}

WSendNntpp::WSendNntpp(mailxarticle& record, CNNTPP& client, SendSettings settings)
    : CSendJob(record, std::move(settings)), m_client(client)
{
}

bool WSendNntpp::StartClient(std::FILE* pPart, const std::string& wireSubject)
{
    return m_client.PostArticle(
        m_settings.server.c_str(), static_cast<std::uint16_t>(m_settings.iPort), pPart,
        wireSubject.c_str(), m_settings.senderAddress.c_str(),
        EncodeHeaderText(m_settings.senderName, 0).c_str(), Message().m_pRecipients.get());
}

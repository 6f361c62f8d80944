// The socket-error texts and the box that shows them.

#include "net/WinsockError.h"

#include "RecordingMessageBox.h"
#include "core/Services.h"
#include "core/Strings.h"
#include "framework/MessageBox.h"

#include <gtest/gtest.h>

namespace {

const char kUnknownText[] = "There was an error reported by the winsock.  However\n"
                            "Mail Tolvan could not determine the specific error.";
const char kRefusedText[] = "The server has refused your connection.  You may be\n"
                            "trying to access this server over the wrong port or\n"
                            "this may be a closed system.  Check you server settings\n"
                            "and try again.";

class WinsockErrorTest : public ::testing::Test {
protected:
    void SetUp() override { fw::SetMessageBoxService(&m_boxes); }
    void TearDown() override
    {
        fw::SetMessageBoxService(nullptr);
        SetAutorunQuery(nullptr);
    }
    RecordingMessageBox m_boxes;
};

TEST_F(WinsockErrorTest, TextsByCode)
{
    EXPECT_EQ(kRefusedText, WinsockErrorString(10061));
    EXPECT_EQ("(10051) Network is unreachable", WinsockErrorString(10051));
    EXPECT_EQ(0u, WinsockErrorString(11001).find("The server name was not listed"));
    // The ends of the table and of its ranges have texts of their own.
    for (int code : {10004, 10009, 10071, 10091, 10093, 11002, 11004}) {
        std::string text = WinsockErrorString(code);
        EXPECT_EQ(std::string::npos, text.find("Unknown Error")) << code;
        if (text[0] == '(') {
            EXPECT_EQ("(" + std::to_string(code) + ") ", text.substr(0, 8)) << code;
        }
    }
    // No code, or a code between the ranges, has the general text.
    EXPECT_EQ(kUnknownText, WinsockErrorString(0));
    EXPECT_EQ(kUnknownText, WinsockErrorString(10000));
    // Codes without a text, and texts of other parts of the string table.
    EXPECT_EQ("[12345] Unknown Error", WinsockErrorString(12345));
    EXPECT_EQ("[10001] Unknown Error", WinsockErrorString(10001));
    EXPECT_EQ("[-5] Unknown Error", WinsockErrorString(-5));
    ASSERT_TRUE(HasStringRes(IDS_MONTH_FIRST));
    EXPECT_EQ("[" + std::to_string(IDS_MONTH_FIRST) + "] Unknown Error",
              WinsockErrorString(IDS_MONTH_FIRST));
}

TEST_F(WinsockErrorTest, MessageIsCutToFitAndTheErrorTextNever)
{
    EXPECT_EQ("SMTP Winsock error\r\n(10051) Network is unreachable.",
              WinsockErrorMessage("SMTP Winsock error", 10051));
    EXPECT_EQ("POP3 Winsock error\r\n[99] Unknown Error.",
              WinsockErrorMessage("POP3 Winsock error", 99));
    std::string error = WinsockErrorString(10051);
    // Exactly at the limit: nothing is cut.
    std::string fits(164 - 3 - error.size(), 'm');
    EXPECT_EQ(fits + "\r\n" + error + ".", WinsockErrorMessage(fits.c_str(), 10051));
    // One more character: the message is cut to 160 minus the error text.
    std::string over = fits + "z";
    EXPECT_EQ(over.substr(0, 160 - error.size()) + "\r\n" + error + ".",
              WinsockErrorMessage(over.c_str(), 10051));
    std::string huge(5000, 'h');
    EXPECT_EQ(std::string(160 - error.size(), 'h') + "\r\n" + error + ".",
              WinsockErrorMessage(huge.c_str(), 10051));
    // An error text longer than the limit keeps the start of the message.
    error = WinsockErrorString(11001);
    ASSERT_GT(error.size(), 160u);
    EXPECT_EQ(std::string("POP3 Winsock error\r\n") + error + ".",
              WinsockErrorMessage("POP3 Winsock error", 11001));
    EXPECT_EQ(std::string(32, 'c') + "\r\n" + error + ".",
              WinsockErrorMessage(std::string(300, 'c').c_str(), 11001));
}

TEST_F(WinsockErrorTest, ShowsAnExclamationBoxCaptionedWinsockErrorEvenInAutorun)
{
    fw::Window owner;
    ShowWinsockError("POP3 Winsock error", 10061, &owner);
    ASSERT_EQ(1u, m_boxes.boxes.size());
    const auto& box = m_boxes.boxes[0];
    EXPECT_EQ("Winsock Error", box.caption);
    EXPECT_EQ(std::string("POP3 Winsock error\r\n") + kRefusedText + ".", box.text);
    EXPECT_EQ(fw::MbIcon::Exclamation, box.icon);
    EXPECT_EQ(fw::MbButtons::Ok, box.buttons);
    EXPECT_FALSE(box.bSystemModal);
    // Autorun does not hold socket errors back.
    SetAutorunQuery([] { return true; });
    ASSERT_TRUE(AutorunRunning());
    ShowWinsockError("NNTP Winsock error", 0, nullptr);
    ASSERT_EQ(2u, m_boxes.boxes.size());
    EXPECT_TRUE(m_boxes.boxes[1].bSystemModal);
    EXPECT_EQ(std::string("NNTP Winsock error\r\n") + kUnknownText + ".", m_boxes.boxes[1].text);
}

} // namespace

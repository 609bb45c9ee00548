// Error boxes also speak on stderr, one line each, whatever display is in
// force: a program nobody watches must still say what went wrong.

#include "platform/MessageDisplay.h"
#include "support/Fixtures.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace velkaro;
using namespace velkaro::platform;
using velkaro::testing::U;

namespace {

// What Show wrote to stderr while the recording display took the box.
std::string shownOnStderr(RecordingMessageDisplay& display, const QString& text, MessageIcon icon)
{
    const ScopedMessageDisplay installed(display);
    ::testing::internal::CaptureStderr();
    Messages().Show(QStringLiteral("caption"), text, icon, MessageButtons::Ok);
    return ::testing::internal::GetCapturedStderr();
}

} // namespace

TEST(MessageDisplay, ErrorBoxesWriteOneLineToStderr)
{
    const std::string name = QCoreApplication::applicationName().toStdString();
    struct Case {
        const char* name;
        QString text;
        std::string line;
    };
    const Case cases[] = {
        {"plain", QStringLiteral("Cannot open file \"/x\". Permission denied"),
            ": Cannot open file \"/x\". Permission denied\n"},
        {"line breaks fold into one blank", QStringLiteral("Exception EFOpenError in module m.\r\n  Gone.\n\nAgain"),
            ": Exception EFOpenError in module m. Gone. Again\n"},
        {"trailing blanks and breaks go", U("ไม่พบไฟล์บันทึกการตั้งค่าของระบบ   \n"),
            ": " + std::string("ไม่พบไฟล์บันทึกการตั้งค่าของระบบ") + "\n"},
        {"control characters are shown, not sent", QStringLiteral("bad\x1b[2Jname\ttab") + QChar(0x85) + QChar(0),
            ": bad\\x1B[2Jname tab\\x85\\x00\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingMessageDisplay display;
        EXPECT_EQ(shownOnStderr(display, c.text, MessageIcon::Stop), name + c.line);
        ASSERT_EQ(display.shown.size(), 1) << "the box is still shown";
        EXPECT_EQ(display.shown[0].text, c.text);
    }
}

TEST(MessageDisplay, OtherBoxesStayOffStderr)
{
    for (const MessageIcon icon :
        {MessageIcon::None, MessageIcon::Warning, MessageIcon::Information, MessageIcon::Question}) {
        SCOPED_TRACE(int(icon));
        RecordingMessageDisplay display;
        EXPECT_EQ(shownOnStderr(display, QStringLiteral("Delete record?"), icon), "");
        EXPECT_EQ(display.shown.size(), 1);
    }
}

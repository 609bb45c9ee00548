#include "platform/MessageDisplay.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace velkaro::platform {

namespace {

class QtMessageDisplay : public MessageDisplay {
public:
    MessageResult Show(const QString& caption, const QString& text, MessageIcon icon, MessageButtons buttons) override
    {
        QMessageBox box;
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        }
        switch (buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MessageButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        }
        switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        case QMessageBox::Cancel:
            return MessageResult::Cancel;
        default:
            return MessageResult::Ok;
        }
    }
};

MessageDisplay*& installed()
{
    static MessageDisplay* display = nullptr;
    return display;
}

// Stands in front of the display in force and echoes errors to stderr
// before the box is shown: a box nobody can click would hold the line back.
class ErrorEchoDisplay : public MessageDisplay {
public:
    MessageResult Show(const QString& caption, const QString& text, MessageIcon icon, MessageButtons buttons) override
    {
        if (icon == MessageIcon::Stop) {
            const QByteArray line = ErrorLine(text).toUtf8() + '\n';
            std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
            std::fflush(stderr);
        }
        static QtMessageDisplay real;
        MessageDisplay& display = installed() != nullptr ? *installed() : real;
        return display.Show(caption, text, icon, buttons);
    }
};

} // namespace

MessageDisplay& Messages()
{
    static ErrorEchoDisplay echo;
    return echo;
}

void SetMessageDisplay(MessageDisplay* display)
{
    installed() = display;
}

QString ApplicationTitle()
{
    return QCoreApplication::instance() != nullptr ? QCoreApplication::applicationName() : QString();
}

QString ErrorLine(const QString& text)
{
    const QString name = ApplicationTitle();
    QString line = name.isEmpty() ? QString() : name + QStringLiteral(": ");
    line.reserve(line.size() + text.size());
    bool inBreak = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n' || u == u'\r') {
            // A break and the blanks around it read as one blank.
            if (!inBreak) {
                while (line.endsWith(u' '))
                    line.chop(1);
                line += u' ';
            }
            inBreak = true;
            continue;
        }
        if (inBreak && (u == u' ' || u == u'\t'))
            continue;
        inBreak = false;
        if (u == u'\t')
            line += u' ';
        else if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            line += QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            line += c;
    }
    while (line.endsWith(u' '))
        line.chop(1);
    return line;
}

} // namespace velkaro::platform

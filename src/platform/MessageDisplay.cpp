#include "platform/MessageDisplay.h"

#include <QApplication>
#include <QMessageBox>

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

} // namespace

MessageDisplay& Messages()
{
    static QtMessageDisplay real;
    return installed() != nullptr ? *installed() : real;
}

void SetMessageDisplay(MessageDisplay* display)
{
    installed() = display;
}

QString ApplicationTitle()
{
    return QCoreApplication::instance() != nullptr ? QCoreApplication::applicationName() : QString();
}

} // namespace velkaro::platform

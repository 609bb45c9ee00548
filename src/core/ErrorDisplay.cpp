#include "core/ErrorDisplay.h"

#include "core/Exceptions.h"
#include "platform/MessageDisplay.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velkaro {

QString ErrorMessage(const std::exception& error)
{
    if (const auto* known = dynamic_cast<const Exception*>(&error))
        return known->Message();
    return QString::fromUtf8(error.what());
}

void ShowErrorBox(const std::exception& error)
{
    platform::Messages().Show(
        platform::ApplicationTitle(), ErrorMessage(error), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
}

void ShowFatalError(const std::exception& error)
{
    const auto* known = dynamic_cast<const Exception*>(&error);
    const QString className = known != nullptr ? QString::fromLatin1(known->ClassName()) : QStringLiteral("Exception");
    QString message = ErrorMessage(error);
    if (!message.endsWith(u'.'))
        message += u'.';
    const QString module = QCoreApplication::instance() != nullptr
        ? QFileInfo(QCoreApplication::applicationFilePath()).fileName()
        : QString();
    platform::Messages().Show(QStringLiteral("Application Error"),
        QStringLiteral("Exception %1 in module %2.\n%3").arg(className, module, message), platform::MessageIcon::Stop,
        platform::MessageButtons::Ok);
}

} // namespace velkaro

#include "updater/RunUpdater.h"

#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "platform/AppPaths.h"
#include "platform/MessageDisplay.h"
#include "updater/uVersionControl.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>

namespace velkaro {

void ShowFatalError(const std::exception& error)
{
    const auto* known = dynamic_cast<const Exception*>(&error);
    const QString className = known != nullptr ? QString::fromLatin1(known->ClassName()) : QStringLiteral("Exception");
    QString message = ErrorMessage(error);
    if (!message.endsWith(u'.'))
        message += u'.';
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    platform::Messages().Show(QStringLiteral("Application Error"),
        QStringLiteral("Exception %1 in module %2.\n%3").arg(className, module, message), platform::MessageIcon::Stop,
        platform::MessageButtons::Ok);
}

int RunUpdater(UpdaterLinks& links)
{
    QPointer<TfrmVersionControl> form;
    try {
        form
            = new TfrmVersionControl(links, platform::ExecutableFolder() + QStringLiteral("VelkaroVersionControl.ini"));
    } catch (const std::exception& e) {
        ShowFatalError(e);
        return 1;
    }
    form->show();
    return QApplication::exec();
}

} // namespace velkaro

#include "updater/RunUpdater.h"

#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "platform/AppPaths.h"
#include "updater/uVersionControl.h"

#include <QApplication>
#include <QPointer>

namespace velkaro {

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

#include "updater/RunUpdater.h"

#include "core/ErrorDisplay.h"
#include "core/Exceptions.h"
#include "platform/AppPaths.h"
#include "updater/uVersionControl.h"

#include <QApplication>
#include <QPointer>

namespace velkaro {

int RunUpdater()
{
    QPointer<TfrmVersionControl> form;
    try {
        form = new TfrmVersionControl(platform::ExecutableFolder() + QStringLiteral("VelkaroVersionControl.ini"));
    } catch (const std::exception& e) {
        ShowFatalError(e);
        return 1;
    }
    form->show();
    const int code = QApplication::exec();
    // A window the loop left behind still says goodbye to both servers.
    delete form.data();
    return code;
}

} // namespace velkaro

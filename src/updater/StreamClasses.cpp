#include "updater/StreamClasses.h"

#include "core/Component.h"
#include "core/ComponentStreaming.h"
#include "data/ClientDataSet.h"
#include "data/Provider.h"
#include "inhouse/GuiPropertyTypes.h"
#include "mysql/MySQLUniProvider.h"
#include "mysql/UniConnection.h"
#include "mysql/UniQuery.h"
#include "remote/SocketConnection.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace velkaro {

void RegisterUpdaterClasses()
{
    RegisterGuiPropertyTypes();

    // Qt's widgets and timer on the window.
    RegisterClass<QWidget>();
    RegisterClass<QLabel>();
    RegisterClass<QTimer>();

    // The components.
    RegisterClass<TComponent>();
    RegisterClass<TMySQLUniProvider>();
    RegisterClass<TUniConnection>();
    RegisterClass<TUniQuery>();
    RegisterClass<TSocketConnection>();
    RegisterClass<TDataSetProvider>();
    RegisterClass<TClientDataSet>();
}

} // namespace velkaro

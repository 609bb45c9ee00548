// VelkaroVersionControl: brings Velkaro.exe up to date, then starts it.

#include "inhouse/InhouseUnits.h"
#include "updater/RunUpdater.h"
#include "updater/StreamClasses.h"

#include <QApplication>

int main(int argc, char** argv)
{
    const velkaro::InhouseUnits units; // the in-house global instances, for the program's lifetime
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VelkaroVersionControl"));
    velkaro::RegisterUpdaterClasses();
    return velkaro::RunUpdater();
}

// SettingsMaker: edits "Config.cds" beside the program.

#include "configeditor/uMain.h"
#include "core/ErrorDisplay.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SettingsMaker"));
    try {
        auto* form = new velkaro::TfrmMain;
        form->show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        velkaro::ShowFatalError(e);
        return 1;
    }
}

// SettingsMaker: edits "Config.cds" beside the program.

#include "configeditor/uMain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SettingsMaker"));
    auto* form = new velkaro::TfrmMain;
    form->show();
    return QApplication::exec();
}

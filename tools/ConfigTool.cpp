// velkaro-config: makes and shows configuration tables ("Config.cds") for
// the demo, without a window.
//
//   velkaro-config create FILE   an empty configuration table (Section,
//                                Key, Value), as a fresh installation has
//   velkaro-config show FILE     its rows, one "Section/Key = Value" a line

#include "data/ClientDataSet.h"
#include "data/Field.h"

#include <QCoreApplication>
#include <QString>

#include <cstdio>

using namespace velkaro;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: velkaro-config create FILE | show FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return usage();
    const QString command = QString::fromLocal8Bit(argv[1]);
    const QString file = QString::fromLocal8Bit(argv[2]);
    try {
        TClientDataSet table;
        if (command == u"create") {
            table.FieldDefs() = {TFieldDef {QStringLiteral("Section"), TFieldType::ftString, 20},
                TFieldDef {QStringLiteral("Key"), TFieldType::ftString, 20},
                TFieldDef {QStringLiteral("Value"), TFieldType::ftString, 255}};
            table.CreateDataSet();
            table.SaveToFile(file);
            return 0;
        }
        if (command == u"show") {
            table.LoadFromFile(file);
            for (table.First(); !table.Eof(); table.Next()) {
                const QString line = QStringLiteral("%1/%2 = %3")
                                         .arg(table.FieldByName(QStringLiteral("Section"))->AsString(),
                                             table.FieldByName(QStringLiteral("Key"))->AsString(),
                                             table.FieldByName(QStringLiteral("Value"))->AsString());
                std::printf("%s\n", line.toUtf8().constData());
            }
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velkaro-config: %s\n", e.what());
        return 1;
    }
    return usage();
}

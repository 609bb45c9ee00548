#pragma once
// The MySQL provider, registered as "MySQL" when the program starts; its
// native connections are TMySQLConnection. Placing a TMySQLUniProvider on a
// window (MySQLUniProvider1) makes sure the provider is part of the
// program; the component itself does nothing else.

#include "mysql/UniProvider.h"

namespace velkaro {

class TMySQLUniProvider : public TUniProvider {
    Q_OBJECT

public:
    explicit TMySQLUniProvider(QObject* owner = nullptr);

    QString GetProviderName() const override { return QStringLiteral("MySQL"); }
    const TOptionsList& GetConnectionOptions() const override;
    const TOptionsList& GetDataSetOptions() const override;

    // For a TMySQLConnection, check precision (1032) is set to true before
    // the options.
    void SetConnectionProps(
        const QString& className, const QStringList& specificOptions, const TSetPropFunc& setProp) const override;
};

} // namespace velkaro

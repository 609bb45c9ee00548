#include "core/Component.h"
#include "core/Exceptions.h"

#include <QVariant>
#include <gtest/gtest.h>

using namespace velkaro;

TEST(Component, OwnerFreesAndFindsItsComponentsByName)
{
    auto* owner = new QObject;
    auto* query = new TComponent(owner);
    query->SetName(QStringLiteral("qryAnyPropose"));
    auto* provider = new TComponent(owner);
    provider->SetName(QStringLiteral("dspAnyPropose"));
    TComponent other;
    other.SetName(QStringLiteral("dspOther"));

    EXPECT_EQ(query->Owner(), owner);
    EXPECT_EQ(FindComponent(owner, QStringLiteral("dspanypropose")), provider) << "names ignore case";
    EXPECT_EQ(FindComponent(owner, QStringLiteral("dspOther")), nullptr) << "only owned components";
    EXPECT_EQ(FindComponent(owner, QString()), nullptr);

    QObject::connect(query, &QObject::destroyed, [&] { query = nullptr; });
    delete owner;
    EXPECT_EQ(query, nullptr);
}

TEST(Component, NamesAreUniqueWithinTheOwner)
{
    QObject owner;
    auto* first = new TComponent(&owner);
    first->SetName(QStringLiteral("qryVersion"));
    auto* second = new TComponent(&owner);
    try {
        second->SetName(QStringLiteral("QRYVERSION"));
        FAIL() << "a second component of the same name";
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), "A component named QRYVERSION already exists");
    }
    EXPECT_EQ(second->Name(), QString());
    first->SetName(QStringLiteral("QryVersion")); // renaming itself is no clash
    EXPECT_EQ(first->property("Name").toString(), "QryVersion");
}

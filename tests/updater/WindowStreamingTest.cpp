// The update client's window description in the component stream forms: the
// real window streamed out and read back into a freshly made window gives the
// same settings. Components and properties are compared generically, so the
// test holds whatever components the window carries, as long as their
// classes are registered (updater/StreamClasses.cpp).

#include "core/Component.h"
#include "core/ComponentStreaming.h"
#include "inhouse/Streamer.h"
#include "support/AppServerPeer.h"
#include "support/Fixtures.h"
#include "updater/StreamClasses.h"
#include "updater/uVersionControl.h"

#include <QLabel>
#include <QMetaProperty>
#include <gtest/gtest.h>

#include <functional>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

bool isComponentOfTheWindow(const QObject& o)
{
    return !o.objectName().isEmpty() && !o.objectName().startsWith(QLatin1String("qt_"));
}

bool isPublished(const QMetaProperty& p)
{
    return p.isReadable() && p.isStored() && p.isDesignable();
}

// Calls Visit for the window and each of its named components, by name path.
void forEachComponent(
    QObject& root, const std::function<void(const QString&, QObject&)>& visit, const QString& path = {})
{
    visit(path.isEmpty() ? QStringLiteral("/") : path, root);
    for (QObject* child : root.children()) {
        if (isComponentOfTheWindow(*child))
            forEachComponent(*child, visit, path + u'/' + child->objectName());
    }
}

QString pathOf(const QObject* root, const QObject* o)
{
    QStringList names;
    for (; o != nullptr && o != root; o = o->parent())
        names.prepend(o->objectName());
    return o == root ? u'/' + names.join(u'/') : QStringLiteral("<outside>");
}

// The differences between two windows' settings, value by value.
QStringList differences(QObject& a, QObject& b)
{
    QStringList diff;
    forEachComponent(a, [&](const QString& path, QObject& x) {
        QObject* y = &b;
        for (const QString& name : path.split(u'/', Qt::SkipEmptyParts)) {
            y = FindComponent(y, name);
            if (y == nullptr) {
                diff.append(path + QStringLiteral(": missing"));
                return;
            }
        }
        if (QByteArrayView(x.metaObject()->className()) != y->metaObject()->className())
            diff.append(path + QStringLiteral(": class"));
        const QMetaObject* meta = x.metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty p = meta->property(i);
            if (!isPublished(p))
                continue;
            const QVariant vx = p.read(&x);
            const QVariant vy = p.read(y);
            bool same = true;
            if ((p.metaType().flags() & QMetaType::PointerToQObject) != 0)
                same = pathOf(&a, vx.value<QObject*>()) == pathOf(&b, vy.value<QObject*>());
            else if (p.metaType().isEqualityComparable())
                same = vx == vy;
            if (!same)
                diff.append(path + u' ' + QString::fromLatin1(p.name()));
        }
    });
    return diff;
}

// Changes every text, number and list setting of the window's components
// (the widgets keep theirs but for the status text and the caption), so
// that a fresh window differs from this one.
void changeSettings(QObject& window)
{
    forEachComponent(window, [](const QString&, QObject& component) {
        if (component.isWidgetType())
            return;
        const QMetaObject* meta = component.metaObject();
        for (int i = 0; i < meta->propertyCount(); ++i) {
            const QMetaProperty p = meta->property(i);
            const QByteArrayView name(p.name());
            if (!isPublished(p) || !p.isWritable() || name == "objectName" || name == "Name")
                continue;
            const QVariant value = p.read(&component);
            switch (p.metaType().id()) {
            case QMetaType::QString:
                p.write(&component, value.toString() + QStringLiteral("-changed"));
                break;
            case QMetaType::Int:
                p.write(&component, value.toInt() + 1);
                break;
            case QMetaType::QStringList:
                p.write(&component, value.toStringList() << QStringLiteral("Changed=1"));
                break;
            default:
                break;
            }
        }
    });
}

class WindowStreaming : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterUpdaterClasses();
        folder.Write(QStringLiteral("VelkaroVersionControl.ini"),
            "[Socket1]\nPort=" + QByteArray::number(appServer.Port()) + "\n");
    }
    // The windows open their links to a scripted application server; the
    // database stays closed.
    QString ini() const { return folder.File(QStringLiteral("VelkaroVersionControl.ini")); }

    AppServerPeer appServer;
    TempExeFolder folder;
    TStreamer streamer;
};

} // namespace

TEST_F(WindowStreaming, TheRealWindowStreamsOutAndBackWithTheSameSettings)
{
    TfrmVersionControl original(ini());
    changeSettings(original);
    original.lbStatus->setText(status::Done);
    original.setWindowTitle(QStringLiteral("Velkaro Updater (changed)"));

    const Variant binary = streamer.ComponentToVariant(original);
    const QString text = streamer.ComponentToString(original);
    EXPECT_TRUE(text.startsWith(QStringLiteral("object frmVersionControl: velkaro::TfrmVersionControl\n")))
        << text.left(200).toStdString();

    for (bool viaText : {false, true}) {
        SCOPED_TRACE(viaText ? "text form" : "binary form");
        TfrmVersionControl fresh(ini());
        const QStringList before = differences(original, fresh);
        EXPECT_GT(before.size(), 10) << "the fresh window starts out different: " << before.join(u", ").toStdString();

        ReadComponentInto(
            viaText ? QByteArrayView(ObjectTextToBinary(text)) : QByteArrayView(binary.ByteArrayData()), fresh);
        EXPECT_EQ(differences(original, fresh), QStringList());
        EXPECT_EQ(differences(fresh, original), QStringList()) << "no components or settings beyond the original's";
        EXPECT_EQ(fresh.lbStatus->text(), status::Done);
    }
}

// Component streams: every property kind and a nested component through both
// forms, the documented bytes and text, the registry, reading into existing
// components, collections, and a folder of damaged streams.

#include "core/ComponentStreaming.h"
#include "core/Collection.h"
#include "core/Exceptions.h"
#include "support/Fixtures.h"
#include "support/StreamSamples.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

using namespace velkaro;
using namespace velkaro::testing;

namespace {

class ComponentStreaming : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterClass<TSample>();
        RegisterClass<TOtherSample>();
    }
    void TearDown() override
    {
        UnRegisterClass(TSample::staticMetaObject);
        UnRegisterClass(TOtherSample::staticMetaObject);
    }
};

enum class Form { Binary, Text };

// The component written and read back through one of the two forms.
std::unique_ptr<QObject> roundTrip(const QObject& component, Form form)
{
    QByteArray bytes = ComponentToBinary(component);
    if (form == Form::Text) {
        const QByteArray again = ObjectTextToBinary(ObjectBinaryToText(bytes));
        EXPECT_EQ(ToHex(again), ToHex(bytes)) << "the text form gives the same stream back";
        bytes = again;
    }
    return BinaryToComponent(bytes);
}

const char* formName(Form form)
{
    return form == Form::Binary ? "binary" : "text";
}

// Doubles compare by their bits, so -0.0 and NaN are checked too.
bool sameBits(double a, double b)
{
    if (std::isnan(a) && std::isnan(b))
        return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The path of names from Root down to Object, or "<outside>".
QString pathIn(const QObject* root, const QObject* object)
{
    if (object == nullptr)
        return QStringLiteral("<null>");
    QStringList names;
    for (const QObject* o = object; o != root; o = o->parent()) {
        if (o == nullptr)
            return QStringLiteral("<outside>");
        names.prepend(o->objectName());
    }
    return QStringLiteral("/") + names.join(u'/');
}

void expectSameSample(const TSample& a, const QObject* aRoot, const TSample& b, const QObject* bRoot)
{
    EXPECT_EQ(b.Name(), a.Name());
    EXPECT_EQ(b.Enabled, a.Enabled);
    EXPECT_EQ(b.Tag, a.Tag);
    EXPECT_EQ(b.Big, a.Big);
    EXPECT_EQ(b.Huge, a.Huge);
    EXPECT_EQ(b.Small, a.Small);
    EXPECT_TRUE(sameBits(b.Ratio, a.Ratio)) << b.Ratio << " vs " << a.Ratio;
    EXPECT_TRUE(sameBits(b.Scale, a.Scale)) << b.Scale << " vs " << a.Scale;
    EXPECT_EQ(b.Caption, a.Caption);
    EXPECT_EQ(ToHex(b.Data), ToHex(a.Data));
    EXPECT_EQ(b.Align, a.Align);
    EXPECT_EQ(int(b.Anchors), int(a.Anchors));
    EXPECT_EQ(b.Lines, a.Lines);
    EXPECT_EQ(b.Bounds, a.Bounds);
    EXPECT_EQ(b.Font()->Face, a.Font()->Face);
    EXPECT_EQ(b.Font()->Size, a.Font()->Size);
    ASSERT_EQ(b.Items()->Count(), a.Items()->Count());
    for (int i = 0; i < a.Items()->Count(); ++i) {
        const auto* x = static_cast<TSampleItem*>(a.Items()->Items(i));
        const auto* y = static_cast<TSampleItem*>(b.Items()->Items(i));
        EXPECT_EQ(y->Caption, x->Caption);
        EXPECT_EQ(y->Width, x->Width);
        EXPECT_EQ(y->Collection(), b.Items());
    }
    EXPECT_EQ(pathIn(bRoot, b.Buddy), pathIn(aRoot, a.Buddy));
}

} // namespace

TEST_F(ComponentStreaming, EveryPropertyKindRoundTripsThroughBothForms)
{
    struct Case {
        const char* name;
        std::function<void(TSample&)> set;
    };
    const Case cases[] = {
        {"defaults", [](TSample&) {}},
        {"bool false", [](TSample& s) { s.Enabled = false; }},
        {"int lowest", [](TSample& s) { s.Tag = std::numeric_limits<int>::min(); }},
        {"int highest", [](TSample& s) { s.Tag = std::numeric_limits<int>::max(); }},
        {"int needing 16 bits", [](TSample& s) { s.Tag = -129; }},
        {"int64 lowest", [](TSample& s) { s.Big = std::numeric_limits<qint64>::min(); }},
        {"int64 highest", [](TSample& s) { s.Big = std::numeric_limits<qint64>::max(); }},
        {"uint64 above the int64 range", [](TSample& s) { s.Huge = std::numeric_limits<quint64>::max() - 1; }},
        {"byte 255", [](TSample& s) { s.Small = 255; }},
        {"double negative zero", [](TSample& s) { s.Ratio = -0.0; }},
        {"double subnormal", [](TSample& s) { s.Ratio = 4.9406564584124654e-324; }},
        {"double one third", [](TSample& s) { s.Ratio = 1.0 / 3.0; }},
        {"double whole", [](TSample& s) { s.Ratio = 1e20; }},
        {"double infinity", [](TSample& s) { s.Ratio = -std::numeric_limits<double>::infinity(); }},
        {"double NaN", [](TSample& s) { s.Ratio = std::numeric_limits<double>::quiet_NaN(); }},
        {"float", [](TSample& s) { s.Scale = 0.1f; }},
        {"text empty", [](TSample& s) { s.Caption = QString(); }},
        {"text Thai", [](TSample& s) { s.Caption = U("กำลังตรวจสอบเวอร์ชั่น"); }},
        {"text with quotes and controls", [](TSample& s) { s.Caption = QStringLiteral("it's\r\n\t#1 ''"); }},
        {"text with a lone surrogate and a pair",
            [](TSample& s) {
                s.Caption = QString(QChar(0xD800)) + QStringLiteral("x") + QString::fromUcs4(U"\U0001F600");
            }},
        {"bytes with zeros", [](TSample& s) { s.Data = QByteArray("\0\x01\xFF\0", 4); }},
        {"bytes, many", [](TSample& s) { s.Data = QByteArray(1000, '\x5A'); }},
        {"enum key", [](TSample& s) { s.Align = TSample::alClient; }},
        {"flags none", [](TSample& s) { s.Anchors = {}; }},
        {"flags all",
            [](TSample& s) { s.Anchors = TSample::akLeft | TSample::akTop | TSample::akRight | TSample::akBottom; }},
        {"flags with a bit that has no key",
            [](TSample& s) { s.Anchors = TSample::TAnchors(0x30 | TSample::akRight); }},
        {"string list",
            [](TSample& s) {
                s.Lines = {QStringLiteral("a"), QString(), U("ข")};
            }},
        {"rectangle", [](TSample& s) { s.Bounds = QRect(-5, 7, 809, 45); }},
        {"sub-object",
            [](TSample& s) {
                s.Font()->Face = QStringLiteral("Arial");
                s.Font()->Size = 12;
            }},
        {"collection",
            [](TSample& s) {
                auto* first = static_cast<TSampleItem*>(s.Items()->Add());
                first->Caption = QStringLiteral("Version");
                first->Width = 120;
                s.Items()->Add();
            }},
        {"link to itself", [](TSample& s) { s.Buddy = &s; }},
    };
    for (const Case& c : cases) {
        for (Form form : {Form::Binary, Form::Text}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", " << formName(form));
            TSample original;
            original.SetName(QStringLiteral("smpMain"));
            c.set(original);
            const std::unique_ptr<QObject> copy = roundTrip(original, form);
            ASSERT_NE(qobject_cast<TSample*>(copy.get()), nullptr);
            EXPECT_EQ(copy->parent(), nullptr);
            expectSameSample(original, &original, *qobject_cast<TSample*>(copy.get()), copy.get());
        }
    }
}

TEST_F(ComponentStreaming, EnumerationsTakeTheirKeysOrTheNumbersOfTheirKeys)
{
    const QString head = QStringLiteral("object a: velkaro::testing::TSample\n");
    const auto read = [&](const char* line) {
        const auto o
            = BinaryToComponent(ObjectTextToBinary(head + QString::fromLatin1(line) + QStringLiteral("\nend")));
        return std::pair {qobject_cast<TSample*>(o.get())->Align, int(qobject_cast<TSample*>(o.get())->Anchors)};
    };
    EXPECT_EQ(read("Align = alBottom").first, TSample::alBottom);
    EXPECT_EQ(read("Align = 3").first, TSample::alClient);
    EXPECT_EQ(read("Anchors = [akRight]").second, int(TSample::akRight));
    EXPECT_EQ(read("Anchors = 48").second, 48) << "flags take any bits";
    EXPECT_THROW(read("Align = 4"), EReadError) << "no key has the value 4";
    EXPECT_THROW(read("Align = [alTop]"), EReadError);
    EXPECT_THROW(read("Anchors = akLeft"), EReadError);
}

TEST_F(ComponentStreaming, PropertiesThatAreNotStoredStayOut)
{
    TSample original;
    original.Scratch = QStringLiteral("transient");
    const QString text = ObjectBinaryToText(ComponentToBinary(original));
    EXPECT_FALSE(text.contains(QStringLiteral("Scratch"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("ReadOnly"))) << "read-only properties cannot be read back";
    EXPECT_FALSE(text.contains(QStringLiteral("objectName")));
    const auto copy = BinaryToComponent(ComponentToBinary(original));
    EXPECT_EQ(qobject_cast<TSample*>(copy.get())->Scratch, QString());
}

TEST_F(ComponentStreaming, NestedComponentsKeepTheirTreeOrderAndLinks)
{
    TSample outsider;
    outsider.SetName(QStringLiteral("smpOutside"));

    TSample root;
    root.SetName(QStringLiteral("frmMain"));
    auto* top = new TSample(&root);
    top->SetName(QStringLiteral("pnlTop"));
    top->Caption = QStringLiteral("top");
    auto* title = new TOtherSample(top);
    title->SetName(QStringLiteral("lblTitle"));
    title->Text = QStringLiteral("Title");
    auto* inner = new TSample(top);
    inner->SetName(QStringLiteral("pnlInner"));
    inner->Tag = 3;
    auto* status = new TOtherSample(&root);
    status->SetName(QStringLiteral("lblStatus"));
    new QObject(&root); // no name: a helper object, not a component
    (new QObject(&root))->setObjectName(QStringLiteral("qt_helper")); // Qt's own part
    root.Buddy = inner; // a grandchild
    top->Buddy = &root; // the root
    inner->Buddy = &outsider; // outside the stream: left out

    for (Form form : {Form::Binary, Form::Text}) {
        SCOPED_TRACE(formName(form));
        const std::unique_ptr<QObject> copy = roundTrip(root, form);
        auto* copyRoot = qobject_cast<TSample*>(copy.get());
        ASSERT_NE(copyRoot, nullptr);

        QStringList tree;
        const std::function<void(const QObject*, int)> walk = [&](const QObject* o, int depth) {
            tree.append(
                QString(depth * 2, u' ') + o->objectName() + u':' + QString::fromLatin1(o->metaObject()->className()));
            for (const QObject* child : o->children()) {
                if (qobject_cast<const TComponent*>(child) != nullptr)
                    walk(child, depth + 1);
            }
        };
        walk(copyRoot, 0);
        EXPECT_EQ(tree.join(u'\n'),
            QStringLiteral("frmMain:velkaro::testing::TSample\n"
                           "  pnlTop:velkaro::testing::TSample\n"
                           "    lblTitle:velkaro::testing::TOtherSample\n"
                           "    pnlInner:velkaro::testing::TSample\n"
                           "  lblStatus:velkaro::testing::TOtherSample"));
        EXPECT_EQ(copyRoot->findChildren<QObject*>(QString(), Qt::FindDirectChildrenOnly).size(), 2 + 2)
            << "two components plus the sample's own font and items";

        auto* copyTop = copyRoot->findChild<TSample*>(QStringLiteral("pnlTop"));
        auto* copyInner = copyRoot->findChild<TSample*>(QStringLiteral("pnlInner"));
        ASSERT_NE(copyTop, nullptr);
        ASSERT_NE(copyInner, nullptr);
        expectSameSample(*top, &root, *copyTop, copyRoot);
        EXPECT_EQ(copyRoot->Buddy, copyInner);
        EXPECT_EQ(copyTop->Buddy, copyRoot);
        EXPECT_EQ(copyInner->Buddy, nullptr);
        EXPECT_EQ(copyRoot->findChild<TOtherSample*>(QStringLiteral("lblTitle"))->Text, QStringLiteral("Title"));
    }
}

TEST_F(ComponentStreaming, BinaryFormAsDocumented)
{
    TOtherSample label;
    label.SetName(QStringLiteral("lbl"));
    label.Text = QStringLiteral("Hi");
    const QByteArray component = Hex("56 4B 43 53 01 00 F0"
                                     "1E 76656C6B61726F3A3A74657374696E673A3A544F7468657253616D706C65"
                                     "03 6C626C"
                                     "04 54657874 12 02000000 4800 6900"
                                     "00"
                                     "00");
    EXPECT_EQ(ToHex(ComponentToBinary(label)), ToHex(component));
    const auto back = BinaryToComponent(component);
    EXPECT_EQ(qobject_cast<TOtherSample*>(back.get())->Text, QStringLiteral("Hi"));
    EXPECT_EQ(back->objectName(), QStringLiteral("lbl"));

    TCollection items(ItemClassOf<TSampleItem>());
    static_cast<TSampleItem*>(items.Add())->Caption = QStringLiteral("A");
    const QByteArray collection = Hex("56 4B 43 53 01 00 0E"
                                      "01 07 43617074696F6E 12 01000000 4100 05 5769647468 02 32 00"
                                      "00");
    EXPECT_EQ(ToHex(CollectionToBinary(items)), ToHex(collection));
    TCollection back2(ItemClassOf<TSampleItem>());
    EXPECT_EQ(BinaryToCollection(collection, back2), collection.size());
    ASSERT_EQ(back2.Count(), 1);
    EXPECT_EQ(static_cast<TSampleItem*>(back2.Items(0))->Caption, QStringLiteral("A"));
}

TEST_F(ComponentStreaming, TextFormAsDocumented)
{
    TOtherSample label;
    label.SetName(QStringLiteral("lbl"));
    label.Text = QStringLiteral("It's\r\n") + U("ก");
    auto* inner = new TOtherSample(&label);
    inner->SetName(QStringLiteral("inner"));
    const QString text = QStringLiteral("object lbl: velkaro::testing::TOtherSample\n"
                                        "  Text = 'It''s'#13#10'")
        + U("ก")
        + QStringLiteral("'\n"
                         "  object inner: velkaro::testing::TOtherSample\n"
                         "    Text = ''\n"
                         "  end\n"
                         "end\n");
    EXPECT_EQ(ObjectBinaryToText(ComponentToBinary(label)), text);
    EXPECT_EQ(ToHex(ObjectTextToBinary(text)), ToHex(ComponentToBinary(label)));

    // Layout, and the case of keywords, do not matter.
    const QString loose = QStringLiteral("OBJECT lbl : velkaro::testing::TOtherSample Text='x' Object inner:"
                                         "velkaro::testing::TOtherSample END end");
    const auto read = BinaryToComponent(ObjectTextToBinary(loose));
    EXPECT_EQ(qobject_cast<TOtherSample*>(read.get())->Text, QStringLiteral("x"));

    TCollection items(ItemClassOf<TSampleItem>());
    static_cast<TSampleItem*>(items.Add())->Caption = QStringLiteral("A");
    items.Add();
    EXPECT_EQ(ObjectBinaryToText(CollectionToBinary(items)),
        QStringLiteral("<\n"
                       "  item\n"
                       "    Caption = 'A'\n"
                       "    Width = 50\n"
                       "  end\n"
                       "  item\n"
                       "    Caption = ''\n"
                       "    Width = 50\n"
                       "  end>\n"));
}

TEST_F(ComponentStreaming, TextThatCannotBeRead)
{
    const QString head = QStringLiteral("object a: velkaro::testing::TOtherSample\n");
    struct Case {
        const char* name;
        QString text;
        const char* message;
    };
    const Case cases[] = {
        {"empty", QString(), "'object' expected on line 1"},
        {"unterminated string", head + QStringLiteral("  Text = 'abc\nend"), "Invalid string constant on line 2"},
        {"character code too large", head + QStringLiteral("  Text = #65536\nend"),
            "Invalid string constant on line 2"},
        {"odd hex digits", head + QStringLiteral("  Text = {ABC}\nend"), "Invalid binary value on line 2"},
        {"hex that is none", head + QStringLiteral("  Text = {AZ}\nend"), "Invalid binary value on line 2"},
        {"number glued to a name", head + QStringLiteral("  Text = 12abc\nend"), "Invalid number on line 2"},
        {"integer beyond 64 bits", head + QStringLiteral("  Text = 99999999999999999999\nend"),
            "Invalid number on line 2"},
        {"real beyond double", head + QStringLiteral("  Text = 1e999\nend"), "Invalid number on line 2"},
        {"single beyond float", head + QStringLiteral("  Text = 1e300s\nend"), "Invalid number on line 2"},
        {"no value", head + QStringLiteral("  Text = )\nend"), "Property value expected on line 2"},
        {"stray character", head + QStringLiteral("  Text = ?\nend"), "Invalid character on line 2"},
        {"missing end", head + QStringLiteral("  Text = 'x'\n"), "'end' expected on line 3"},
        {"text after the end", head + QStringLiteral("end\nend"), "End of text expected on line 3"},
        {"dotted component name", QStringLiteral("object a.b: velkaro::testing::TOtherSample\nend"),
            "Identifier expected on line 1"},
        {"missing class", QStringLiteral("object a: 'x'\nend"), "Class name expected on line 1"},
        {"set element not a name", head + QStringLiteral("  Text = [a, 'b']\nend"), "Identifier expected on line 2"},
        {"nesting too deep", head + QStringLiteral("  Text = ") + QString(70, u'('),
            "Nesting deeper than 64 levels on line 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ObjectTextToBinary(c.text);
            ADD_FAILURE() << "no error";
        } catch (const EParserError& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(c.message));
        }
    }
}

// Every file in fixtures/component-streams is a damaged stream with the error
// it must give: "# error: <class>: <message>", optionally "# reader:
// collection", then the bytes in hex.
TEST_F(ComponentStreaming, DamagedStreamsFromTheFixtureFolder)
{
    const QDir folder(QStringLiteral(VELKARO_TEST_FIXTURES "/component-streams"));
    const QStringList files = folder.entryList({QStringLiteral("*.hex")}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 20) << folder.path().toStdString();
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString expected;
        bool collection = false;
        QByteArray hex;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith("# error: "))
                expected = QString::fromUtf8(line.mid(9)).trimmed();
            else if (line.trimmed() == "# reader: collection")
                collection = true;
            else if (!line.startsWith('#'))
                hex += line;
        }
        ASSERT_FALSE(expected.isEmpty()) << "the fixture names its error";
        const QByteArray bytes = Hex(hex.constData()); // exactly as long as the stream

        QString seen;
        TCollection items(ItemClassOf<TSampleItem>());
        static_cast<TSampleItem*>(items.Add())->Caption = QStringLiteral("kept");
        try {
            if (collection)
                BinaryToCollection(bytes, items);
            else
                BinaryToComponent(bytes);
            seen = QStringLiteral("no error");
        } catch (const Exception& e) {
            seen = QString::fromLatin1(e.ClassName()) + QStringLiteral(": ") + e.Message();
        }
        EXPECT_EQ(seen, expected);
        ASSERT_EQ(items.Count(), 1) << "a failed read leaves the collection alone";
        EXPECT_EQ(static_cast<TSampleItem*>(items.Items(0))->Caption, QStringLiteral("kept"));
    }
}

TEST_F(ComponentStreaming, LengthsAndNestingAreCheckedBeforeAnythingIsAllocated)
{
    // A text that claims 2^32 - 1 code units, a binary value of 4 GiB: both
    // end after a few bytes, and must fail as short reads at once.
    const QByteArray head = Hex("56 4B 43 53 01 00 F0 19") + "velkaro::testing::TSample" + Hex("00 07") + "Caption";
    EXPECT_THROW(BinaryToComponent(head + Hex("12 FF FF FF FF 41 00")), EReadError);
    EXPECT_THROW(BinaryToComponent(head + Hex("0A FF FF FF FF 41")), EReadError);

    // 64 levels of lists are fine to read (the property then refuses them), 65 are not.
    const auto nested
        = [&](int levels) { return head + QByteArray(levels, '\x01') + Hex("02 05") + QByteArray(levels + 2, '\0'); };
    for (const auto& [levels, message] : {std::pair {62, "Invalid property value"}, {63, "Invalid stream format"}}) {
        SCOPED_TRACE(levels);
        try {
            BinaryToComponent(nested(levels));
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(message));
        }
    }

    // The writer refuses what the reader would refuse.
    TSample root;
    QObject* parent = &root;
    for (int i = 0; i < MaxNesting; ++i) {
        auto* child = new TSample(parent);
        child->SetName(QStringLiteral("c%1").arg(i));
        parent = child;
    }
    EXPECT_THROW(ComponentToBinary(root), EStreamError);
}

TEST_F(ComponentStreaming, OnlyRegisteredClassesAreCreated)
{
    TSample root;
    root.SetName(QStringLiteral("frmMain"));
    (new TOtherSample(&root))->SetName(QStringLiteral("lblStatus"));
    const QByteArray bytes = ComponentToBinary(root);

    EXPECT_EQ(GetClass(QStringLiteral("velkaro::testing::TOtherSample")), &TOtherSample::staticMetaObject);
    UnRegisterClass(TOtherSample::staticMetaObject);
    EXPECT_EQ(GetClass(QStringLiteral("velkaro::testing::TOtherSample")), nullptr);
    try {
        BinaryToComponent(bytes); // the half-read root is freed (the sanitizers watch)
        FAIL() << "no error";
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Class velkaro::testing::TOtherSample not found"));
    }
    UnRegisterClass(TSample::staticMetaObject);
    EXPECT_THROW(BinaryToComponent(bytes), EClassNotFound);
}

TEST_F(ComponentStreaming, ReadingIntoAnExistingComponentUsesTheComponentsItAlreadyOwns)
{
    TSample source;
    source.SetName(QStringLiteral("frmMain"));
    source.Caption = QStringLiteral("new caption");
    auto* status = new TOtherSample(&source);
    status->SetName(QStringLiteral("lblStatus"));
    status->Text = QStringLiteral("new text");
    (new TOtherSample(&source))->SetName(QStringLiteral("lblExtra"));
    const QByteArray bytes = ComponentToBinary(source);

    // As a window's constructor leaves it: lblStatus exists, lblExtra does not.
    TSample target;
    target.SetName(QStringLiteral("frmMain"));
    auto* existing = new TOtherSample(&target);
    existing->SetName(QStringLiteral("LBLSTATUS"));
    ReadComponentInto(bytes, target);
    EXPECT_EQ(target.Caption, QStringLiteral("new caption"));
    EXPECT_EQ(target.findChild<TOtherSample*>(QStringLiteral("lblStatus")), existing);
    EXPECT_EQ(existing->Text, QStringLiteral("new text"));
    EXPECT_NE(target.findChild<TOtherSample*>(QStringLiteral("lblExtra")), nullptr);

    struct Case {
        const char* name;
        std::function<void(QObject&)> prepare;
        const char* error;
    };
    const Case failures[] = {
        {"an existing child of another class",
            [](QObject& o) { (new TSample(&o))->SetName(QStringLiteral("lblStatus")); }, "Invalid stream format"},
        {"a root of another class", nullptr, "Invalid stream format"},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QObject> into;
        if (c.prepare) {
            into = std::make_unique<TSample>();
            c.prepare(*into);
        } else {
            into = std::make_unique<TOtherSample>();
        }
        try {
            ReadComponentInto(bytes, *into);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(c.error));
        }
    }
}

TEST_F(ComponentStreaming, CollectionsReplaceTheirItemsOnlyWhenTheStreamHasSome)
{
    TCollection stored(ItemClassOf<TSampleItem>());
    for (const char* caption : {"ID", "Version"})
        static_cast<TSampleItem*>(stored.Add())->Caption = QString::fromLatin1(caption);
    const QByteArray two = CollectionToBinary(stored);
    const QByteArray none = CollectionToBinary(TCollection(ItemClassOf<TSampleItem>()));

    TCollection target(ItemClassOf<TSampleItem>());
    static_cast<TSampleItem*>(target.Add())->Caption = QStringLiteral("old");
    EXPECT_EQ(BinaryToCollection(none, target), none.size());
    ASSERT_EQ(target.Count(), 1) << "an empty stored collection leaves the items in place";

    // Other data may follow a collection in a stream.
    EXPECT_EQ(BinaryToCollection(two + "more", target), two.size());
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(static_cast<TSampleItem*>(target.Items(0))->Caption, QStringLiteral("ID"));
    EXPECT_EQ(static_cast<TSampleItem*>(target.Items(1))->Caption, QStringLiteral("Version"));
    EXPECT_EQ(target.Items(1)->Index(), 1);

    // A component stream is no collection.
    TSample sample;
    try {
        BinaryToCollection(ComponentToBinary(sample), target);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid property value"));
    }
    EXPECT_EQ(target.Count(), 2);
}

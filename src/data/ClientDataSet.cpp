#include "data/ClientDataSet.h"

#include "core/Exceptions.h"
#include "data/Provider.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velkaro {

namespace {

const QString PacketPrefix = QStringLiteral("Invalid data packet: ");

// The table file at Path, read whole and decoded: the one way both
// LoadFromFile and opening by FileName read a file.
datapacket::Decoded ReadTableFile(const QString& path)
{
    QFile file(path);
    if (QFileInfo(path).isDir())
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, QStringLiteral("Is a directory")));
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EFOpenError(QString::fromLatin1(msg::FOpenError).arg(path, file.errorString()));
    try {
        return datapacket::Decode(bytes, datapacket::Source::TableFile);
    } catch (const EDatabaseError& e) {
        QString detail = e.Message();
        if (detail.startsWith(PacketPrefix))
            detail = detail.mid(PacketPrefix.size());
        throw EDatabaseError(QStringLiteral("Invalid table file \"%1\": %2").arg(path, detail));
    }
}

// A provider's answer: a byte array holding a data packet.
datapacket::Decoded DecodePacket(const Variant& answer)
{
    const Variant value = answer.Deref();
    if (value.VType() != (varArray | varByte) || value.Array()->DimCount() != 1)
        throw EDatabaseError(
            PacketPrefix + QStringLiteral("not a byte array (%1)").arg(Variant::TypeName(value.VType())));
    return datapacket::Decode(value.ByteArrayData());
}

} // namespace

TClientDataSet::TClientDataSet(QObject* owner)
    : TDataSet(owner)
{
}

TClientDataSet::~TClientDataSet()
{
    // Destroying an open table closes it, and closing may write its file;
    // nobody is left to hear of a failure here.
    try {
        Close();
    } catch (...) {
    }
}

void TClientDataSet::SetIndexFieldNames(const QString& names)
{
    QStringList fields;
    for (const QString& name : names.split(u';', Qt::SkipEmptyParts)) {
        if (!name.trimmed().isEmpty())
            fields.append(name.trimmed());
    }
    SetIndexFields(fields);
    indexFieldNames_ = names;
}

QString TClientDataSet::Resolve(const QString& fileName) const
{
    if (fileName.isEmpty() || !QFileInfo(fileName).isRelative())
        return fileName;
    return platform::ExecutableFolder() + fileName;
}

QString TClientDataSet::ResolvedFileName() const
{
    return Resolve(fileName_);
}

void TClientDataSet::OpenFromPacket(datapacket::Decoded packet)
{
    pending_ = std::make_unique<datapacket::Decoded>(std::move(packet));
    try {
        Open();
    } catch (...) {
        pending_.reset();
        throw;
    }
}

void TClientDataSet::LoadFromFile(const QString& fileName)
{
    Close();
    OpenFromPacket(ReadTableFile(Resolve(fileName)));
}

void TClientDataSet::SaveToFile(const QString& fileName)
{
    CheckActive();
    CheckBrowseMode();
    const QString path = Resolve(fileName);
    WriteFile(path);
    if (!fileName_.isEmpty() && QFileInfo(path) == QFileInfo(ResolvedFileName()))
        rowsChanged_ = false;
}

void TClientDataSet::WriteFile(const QString& path)
{
    CheckActive();
    const auto fail = [&path](const QString& reason) {
        throw EFCreateError(QString::fromLatin1(msg::FCreateError).arg(path, reason));
    };
    // Only what reading takes back is written.
    try {
        datapacket::CheckTableFileNames(OpenFieldDefs());
    } catch (const EDatabaseError& e) {
        fail(e.Message());
    }
    platform::AtomicFile file(path);
    if (!file.Open())
        fail(file.ErrorString());
    // Written in pieces, so a large table is never held twice in memory.
    constexpr qsizetype Piece = 1 << 16;
    QByteArray buffer = datapacket::EncodeHead(OpenFieldDefs(), qsizetype(Records().size()));
    for (const QByteArrayView record : Records()) {
        buffer.append(record);
        if (buffer.size() >= Piece) {
            if (!file.Write(buffer.constData(), buffer.size()))
                fail(file.ErrorString());
            buffer.resize(0);
        }
    }
    if (!file.Write(buffer.constData(), buffer.size()) || !file.Commit())
        fail(file.ErrorString());
}

void TClientDataSet::CreateDataSet()
{
    Close();
    if (FieldDefs().isEmpty())
        RaiseError(QStringLiteral("No fields defined; cannot create dataset"));
    creating_ = true;
    try {
        Open();
    } catch (...) {
        creating_ = false;
        throw;
    }
    creating_ = false;
}

void TClientDataSet::InternalOpen()
{
    std::unique_ptr<datapacket::Decoded> packet = std::move(pending_);
    if (!packet && !creating_) {
        const QString path = ResolvedFileName();
        if (!path.isEmpty() && QFileInfo::exists(path)) {
            packet = std::make_unique<datapacket::Decoded>(ReadTableFile(path));
        } else if (!providerName_.isEmpty()) {
            const Variant answer = DataRequest(Variant());
            if (answer.IsNull() || answer.IsEmpty())
                RaiseError(QStringLiteral("Missing data provider or data packet"));
            packet = std::make_unique<datapacket::Decoded>(DecodePacket(answer));
        } else if (FieldDefs().isEmpty()) {
            RaiseError(QStringLiteral("Missing data provider or data packet"));
        }
    }
    if (packet) {
        FieldDefs() = packet->fieldDefs;
        AdoptRecords(std::move(packet->storage), std::move(packet->records));
    }
}

void TClientDataSet::InternalClose()
{
    const QString path = ResolvedFileName();
    if (path.isEmpty())
        return;
    if (rowsChanged_ || !QFileInfo::exists(path))
        WriteFile(path);
    rowsChanged_ = false;
}

bool TClientDataSet::FindKey(const QList<Variant>& keyValues)
{
    return FindKeyOf(keyValues.constData(), keyValues.size());
}

bool TClientDataSet::FindKey(std::initializer_list<Variant> keyValues)
{
    return FindKeyOf(keyValues.begin(), qsizetype(keyValues.size()));
}

bool TClientDataSet::FindKeyOf(const Variant* keyValues, qsizetype count)
{
    CheckActive();
    CheckBrowseMode();
    if (IndexFields().isEmpty())
        RaiseError(QStringLiteral("No index currently active"));
    if (count > IndexFields().size())
        RaiseError(QStringLiteral("Too many key values"));
    const int row = FindIndexed(keyValues, int(count));
    if (row < 0)
        return false;
    MoveTo(row);
    return true;
}

Variant TClientDataSet::DataRequest(const Variant& input)
{
    auto* provider = qobject_cast<TDataSetProvider*>(FindComponent(parent(), providerName_));
    if (provider == nullptr)
        RaiseError(QStringLiteral("Provider '%1' not found").arg(providerName_));
    return provider->DataRequest(input);
}

void TClientDataSet::SetData(const Variant& packet)
{
    Close();
    const Variant value = packet.Deref();
    if (value.IsNull() || value.IsEmpty())
        return;
    OpenFromPacket(DecodePacket(value));
}

Variant TClientDataSet::Data() const
{
    if (!Active())
        return Variant::Null();
    return Variant::FromBytes(PacketBytes());
}

} // namespace velkaro

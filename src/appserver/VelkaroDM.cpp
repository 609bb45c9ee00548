#include "appserver/VelkaroDM.h"

#include "appserver/ServerLog.h"
#include "core/Exceptions.h"

namespace velkaro {

namespace {

void fillException(ExcepInfo& excepInfo, qint32 code, const QString& description)
{
    excepInfo = ExcepInfo();
    excepInfo.code = code;
    excepInfo.source = QString::fromLatin1(TVelkaroDM::ProgID);
    excepInfo.description = description;
}

} // namespace

TVelkaroDM::TVelkaroDM(std::shared_ptr<const TReleaseFolder> folder)
    : folder_(std::move(folder))
{
}

HRESULT TVelkaroDM::GetIDsOfNames(const QStringList& names, quint32, std::vector<qint32>& dispIds)
{
    // The method takes no named arguments, so a second name is never known.
    if (names.size() != 1 || names.front().compare(QLatin1String("DownloadUpdate"), Qt::CaseInsensitive) != 0)
        return ResultCode::UnknownName;
    dispIds.assign(1, DispIdDownloadUpdate);
    return ResultCode::Ok;
}

HRESULT TVelkaroDM::PrepareDownload(quint16 flags, const DispParams& params, TReleasedProgram& program,
    ExcepInfo& excepInfo, QString& name, QString& logDetail) const
{
    if ((flags & (DispatchKind::Method | DispatchKind::PropertyGet)) == 0) {
        logDetail = QStringLiteral("DownloadUpdate cannot be written");
        return ResultCode::MemberNotFound;
    }
    if (params.args.size() != 1 || !params.namedArgs.empty()) {
        logDetail = QStringLiteral("called with %1 arguments, %2 of them named; it takes one")
                        .arg(QString::number(params.args.size()), QString::number(params.namedArgs.size()));
        return ResultCode::BadParamCount;
    }
    Variant argument;
    try {
        argument = params.args.front().Deref();
    } catch (const Exception& e) {
        logDetail = e.Message();
        return ResultCode::TypeMismatch;
    }
    if (argument.VType() != varOleStr) {
        logDetail = QStringLiteral("the argument is %1, not text").arg(Variant::TypeName(argument.VType()));
        return ResultCode::TypeMismatch;
    }
    name = argument.ToString();

    TProgramUnavailable unavailable;
    if (!folder_->Open(name, program, unavailable)) {
        fillException(excepInfo, unavailable.code, unavailable.description);
        logDetail = unavailable.detail;
        return ResultCode::ExceptionOccurred;
    }
    if (program.size > MaxProgramSize) {
        fillException(excepInfo, TReleaseFolder::ErrorFileTooLarge,
            QStringLiteral("The program %1 is too large to hand out (%2 bytes; at most %3)")
                .arg(TServerLog::Quoted(name), QString::number(program.size), QString::number(MaxProgramSize)));
        logDetail = QStringLiteral("%1 bytes").arg(program.size);
        program = {};
        return ResultCode::ExceptionOccurred;
    }
    return ResultCode::Ok;
}

HRESULT TVelkaroDM::Invoke(
    qint32 dispId, quint32, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo)
{
    if (dispId != DispIdDownloadUpdate)
        return ResultCode::MemberNotFound;
    TReleasedProgram program;
    ExcepInfo info;
    QString name;
    QString detail;
    const HRESULT code = PrepareDownload(flags, params, program, info, name, detail);
    if (code == ResultCode::Ok) {
        QByteArray bytes = program.file->read(program.size);
        if (bytes.size() != program.size) {
            fillException(info, TReleaseFolder::ErrorReadFault,
                QStringLiteral("The application server could not read the program %1 whole")
                    .arg(TServerLog::Quoted(name)));
        } else {
            if (result != nullptr)
                *result = Variant::FromBytes(std::move(bytes));
            return ResultCode::Ok;
        }
    }
    if (excepInfo != nullptr)
        *excepInfo = info;
    return code == ResultCode::Ok ? ResultCode::ExceptionOccurred : code;
}

} // namespace velkaro

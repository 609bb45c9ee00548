#pragma once
// The remote object "VelkaroAS.VelkaroDM": what the update client creates on
// the application server and calls. Its one method:
//
//   DownloadUpdate(name)  the bytes of "<release folder>/<name>.exe" as a
//                         one-dimensional byte array, lower bound 0
//
// called as a method (or read as a property) with exactly one argument,
// text, by value or by reference. A name that is not a program name, or a
// program the folder does not hold, fails with DISP_E_EXCEPTION
// (ResultCode::ExceptionOccurred) and a description the client shows.
//
// A served connection sends the program straight from the file
// (PrepareDownload, then the file); Invoke, for callers in the same
// process, reads it into memory. Any thread; an object is used by one
// connection.

#include "appserver/ReleaseFolder.h"
#include "core/Dispatch.h"

#include <memory>

namespace velkaro {

class TVelkaroDM final : public IDispatch {
public:
    static constexpr const char* ProgID = "VelkaroAS.VelkaroDM";
    static constexpr qint32 DispIdDownloadUpdate = 1;

    explicit TVelkaroDM(std::shared_ptr<const TReleaseFolder> folder);

    HRESULT GetIDsOfNames(const QStringList& names, quint32 lcid, std::vector<qint32>& dispIds) override;
    HRESULT Invoke(
        qint32 dispId, quint32 lcid, quint16 flags, DispParams& params, Variant* result, ExcepInfo* excepInfo) override;

    // The checks of a DownloadUpdate call and the opening of its program:
    // ResultCode::Ok with Program open, or the code (and for
    // ResultCode::ExceptionOccurred the error information) to answer with.
    // Name receives the name asked for, for the log, when there is one.
    HRESULT PrepareDownload(quint16 flags, const DispParams& params, TReleasedProgram& program, ExcepInfo& excepInfo,
        QString& name, QString& logDetail) const;

    // The largest program a reply can carry: a block's payload holds the
    // result code and the array's header besides the bytes.
    static constexpr qint64 MaxProgramSize = 0x7FFFFFFF - 64;

private:
    std::shared_ptr<const TReleaseFolder> folder_;
};

} // namespace velkaro

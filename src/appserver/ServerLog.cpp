#include "appserver/ServerLog.h"

#include <QDateTime>

#include <cstdio>

namespace velkaro {

TServerLog::TServerLog(LogLevel level)
    : level_(level)
{
}

void TServerLog::Write(LogLevel level, const QString& text)
{
    if (!Shows(level))
        return;
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")) + u' ' + text;
    const std::lock_guard lock(mutex_);
    if (sink_) {
        sink_(line);
        return;
    }
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void TServerLog::SetSink(std::function<void(const QString& line)> sink)
{
    const std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

QString TServerLog::Quoted(const QString& text)
{
    QString quoted = QStringLiteral("\"");
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == MaxQuoted) {
            quoted += QStringLiteral("\"...");
            return quoted;
        }
        const char16_t u = text[i].unicode();
        if (u < 0x20 || (u >= 0x7F && u < 0xA0))
            quoted += QStringLiteral("\\x") + QString::number(u, 16).toUpper().rightJustified(2, u'0');
        else
            quoted += text[i];
    }
    return quoted + u'"';
}

} // namespace velkaro

#pragma once
// The application server's log: one line per event, for an administrator
// reading the service's journal. Every line starts with the local time to
// the millisecond:
//
//   2025-03-01 09:15:02.118 listening on 0.0.0.0:216, release folder /srv/velkaro/release
//   2025-03-01 09:15:07.402 #1 10.0.0.7:51234 connected
//   2025-03-01 09:15:07.403 #1 10.0.0.7:51234 CreateObject "VelkaroAS.VelkaroDM": ok, object 0; 16 bytes in 0.1 ms
//   2025-03-01 09:15:08.655 #1 10.0.0.7:51234 DownloadUpdate "Velkaro": ok; 4194340 bytes in 35.2 ms
//   2025-03-01 09:15:08.700 #1 10.0.0.7:51234 closed: the client closed the link; 4 requests, 4194424 bytes in 1.3 s
//
// Lines go to the standard error stream (a service manager keeps them);
// tests collect them instead. Any thread may write.

#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

namespace velkaro {

enum class LogLevel {
    Errors, // start, stop, and what went wrong
    Connections, // and one line per connection
    Requests, // and one line per request
};

class TServerLog {
public:
    explicit TServerLog(LogLevel level = LogLevel::Requests);

    LogLevel Level() const { return level_; }
    bool Shows(LogLevel level) const { return int(level) <= int(level_); }

    // Writes Text as one line, after the time, if Level is shown.
    void Write(LogLevel level, const QString& text);

    // Tests take the lines instead of the error stream.
    void SetSink(std::function<void(const QString& line)> sink);

    // A text from a client, for a log line or a message: in double quotes,
    // control characters as \xHH, at most MaxQuoted characters, so that it
    // stays on its line.
    static QString Quoted(const QString& text);
    static constexpr qsizetype MaxQuoted = 80;

private:
    LogLevel level_;
    std::mutex mutex_;
    std::function<void(const QString&)> sink_;
};

} // namespace velkaro

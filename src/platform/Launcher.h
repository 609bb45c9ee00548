#pragma once
// Starting another program: detached, without a shell, not waited for.

#include <QList>
#include <QString>

namespace velkaro::platform {

class Launcher {
public:
    virtual ~Launcher() = default;
    // Starts the program at Path (on POSIX it is first made executable).
    // Returns whether it started; callers may ignore the result.
    virtual bool Open(const QString& path) = 0;
};

Launcher& Programs();
// Installs a launcher (not owned); null restores the real one.
void SetLauncher(Launcher* launcher);

class RecordingLauncher : public Launcher {
public:
    bool Open(const QString& path) override
    {
        opened.append(path);
        return succeed;
    }
    QList<QString> opened;
    bool succeed = true;
};

} // namespace velkaro::platform

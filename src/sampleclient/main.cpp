// Velkaro.exe, a stand-in for the client program that the update client
// keeps up to date: the demo and the end-to-end tests put it in the release
// folder. It shows a window with its version, compiled in; where there is
// no screen it prints the version instead and ends.
//
// For the tests and the demo, when VELKARO_SAMPLE_CLIENT_MARKER names a
// file, it also appends a line "<version> <process id>" there: the proof
// that it was started, and whom to stop.

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QLabel>

#include <cstdio>

#ifndef VELKARO_SAMPLE_CLIENT_VERSION
#error "VELKARO_SAMPLE_CLIENT_VERSION is set by CMake"
#endif

namespace {

const QString Version = QStringLiteral(VELKARO_SAMPLE_CLIENT_VERSION);

// No screen: a platform that draws into memory, or no display to connect to.
bool noScreen()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM").split(':').front();
    if (platform == "offscreen" || platform == "minimal")
        return true;
    if (!platform.isEmpty())
        return false;
    return qgetenv("DISPLAY").isEmpty() && qgetenv("WAYLAND_DISPLAY").isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    const QString marker = qEnvironmentVariable("VELKARO_SAMPLE_CLIENT_MARKER");
    if (!marker.isEmpty()) {
        QFile file(marker);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(Version.toUtf8() + ' ' + QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    }
    if (noScreen()) {
        std::printf("Velkaro %s\n", qPrintable(Version));
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velkaro"));
    QLabel window(QStringLiteral("Velkaro\n%1").arg(Version));
    window.setWindowTitle(QStringLiteral("Velkaro %1").arg(Version));
    window.setAlignment(Qt::AlignCenter);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(48);
    window.setFont(font);
    window.resize(480, 240);
    window.show();
    return QApplication::exec();
}

#pragma once
// The application server's settings: an INI file and the command line, the
// command line winning. The file (deploy/VelkaroAppServer.ini is a sample):
//
//   [Server]
//   Listen=0.0.0.0        IPv4 address or host name to listen on
//   Port=216              1 to 65535 (0: any free port, for tests)
//   MaxClients=64         clients served at a time, 1 to 10000
//   IdleTimeout=900       seconds without a request before a link is closed
//   RequestTimeout=30     seconds a request that has begun may take to arrive
//   SendTimeout=60        seconds a client may take no bytes before it is dropped
//   StopTimeout=10        seconds running requests get to finish when stopping
//   [Release]
//   Folder=/srv/velkaro/release   the programs, "<name>.exe"; relative to the file's folder
//   [Log]
//   Level=requests        errors, connections or requests
//
// Section and key names are not case-sensitive; blank lines and lines
// starting with ";" or "#" are ignored. Anything else (an unknown section or
// key, a value out of range, a key given twice) is an error that names the
// file and the line.

#include "appserver/AppServer.h"

#include <QString>
#include <QStringList>

namespace velkaro {

struct TCommandLine {
    enum class Action { Serve, Help, Version };
    Action action = Action::Serve;
    TAppServerSettings settings;
};

// Reads the command line (without the program name) and the file it names
// with --config. Raises Exception with a text for the administrator.
TCommandLine ParseCommandLine(const QStringList& arguments);

// Applies the settings of an INI file.
void ReadSettingsFile(const QString& path, TAppServerSettings& settings);

// The text of --help.
QString UsageText();

} // namespace velkaro

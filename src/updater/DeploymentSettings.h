#pragma once
// The deployment file beside the update client, "VelkaroVersionControl.ini":
// what a site deploys, which is the connection settings of the window's two
// links and nothing else. One section per component, one key per setting:
//
//   [uniConnDataCenter]
//   Server=db.example.org
//   Port=3306
//
//   [Socket1]
//   Host=appserver.example.org
//
// The settings a file may give, and the values each takes:
//
//   [uniConnDataCenter]
//     Server          host name or address: not empty, no blanks, at most
//                     255 characters
//     Port            whole number from 1 to 65535
//     Database        any text, may be empty
//     Username        any text, may be empty
//     Password        any text, may be empty
//     ProviderName    not empty
//     SpecificOptions provider options separated by ";", each
//                     "Prefix.Name=Value" ("MySQL.UseUnicode=True"); they
//                     replace the compiled-in options; empty for none
//   [Socket1]
//     Host            as Server; setting it empties Address
//     Address         dotted IPv4 address (four numbers 0 to 255); setting
//                     it empties Host
//     Port            whole number from 1 to 65535
//     ServerName      not empty
//
// Section and key names compare without regard to case. Blank lines and
// lines starting with ";" or "#" are ignored; blanks around names and values
// are dropped. A section may appear more than once; each setting may be
// given once, and Host and Address exclude each other. The file is UTF-8
// text (a leading byte-order mark is skipped) of at most 64 KiB without
// control characters other than tabs.
//
// Anything else stops the program: an unknown section or key, a value the
// setting cannot take, a malformed line or file. The error (Exception)
// names the file and line, and the section and key where there is one:
//   "<file>, line 2: unknown key Active in section [cdsAnyPropose]; ..."
// Texts from the file are shortened in messages.

#include <QObject>
#include <QString>

namespace velkaro {

// Applies the file at Path to the components owned by Owner (looked up by
// name, as FindComponent does) through their published properties. A
// missing file changes nothing; anything at Path that is not a regular file
// (or a link to one) raises EFOpenError "Cannot open file ...". The whole
// file is checked before the first setting is written, so a faulty file
// changes nothing.
void ApplyDeploymentSettings(QObject* owner, const QString& path);

} // namespace velkaro

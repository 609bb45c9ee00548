#pragma once
// The deployment file beside the update client: it overrides published
// properties of the components on the window, one section per component and
// one key per property:
//
//   [uniConnDataCenter]
//   Server=db.example.org
//
// Lines starting with ";" or "#" and blank lines are ignored. An unknown
// section or key, or a value the property cannot take, stops the program
// with an error naming the file, the section and the key.

#include <QObject>
#include <QString>

namespace velkaro {

// Applies the file at Path to the components owned by Owner (looked up by
// name, as FindComponent does). A missing file changes nothing. Raises
// Exception with a message naming the file, section and key.
void ApplyDeploymentSettings(QObject* owner, const QString& path);

} // namespace velkaro

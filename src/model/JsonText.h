#pragma once

#include <QByteArray>
#include <QJsonValue>

namespace brevlin {

// The configuration file's text form: keys sorted by their UTF-8 bytes at every level, one
// member per line with two spaces of indentation per level, `"key" : value`, and the forward
// slash escaped as `\/`. This is the form the Apple platforms' JSON encoder writes with pretty
// printing and sorted keys, so files move between the two unchanged.
QByteArray prettySortedJson(const QJsonValue& value);

} // namespace brevlin

#pragma once

#include <QByteArray>
#include <QString>

namespace brevlin::testing {

// Feeds `bytes` to the configuration decoders as config.json and as the seed resource. Whatever
// decodes must be written and read back unchanged, and the second write must equal the first.
// Returns what went wrong, or an empty string.
QString checkConfigBytes(const QByteArray& bytes);

} // namespace brevlin::testing

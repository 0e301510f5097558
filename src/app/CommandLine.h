#pragma once

#include <QString>

#include <optional>

namespace brevlin {

// Answers the options that need no desktop (--help, --version) and refuses anything else, before
// any display is looked for, so they work from a plain terminal or a script. Returns the exit code
// when the process is done, nothing when Brevlin should start.
std::optional<int> answerCommandLine(int argc, char** argv, const QString& version);

} // namespace brevlin

#pragma once

#include <QtGlobal>

namespace brevlin {

// The desktop whose conventions the user-facing texts follow: where the user goes to fix a
// problem, how keys are named.
enum class TextPlatform { macOS, linuxDesktop };

// The platform this build describes in its texts.
constexpr TextPlatform currentTextPlatform() {
#if defined(Q_OS_MACOS)
    return TextPlatform::macOS;
#else
    return TextPlatform::linuxDesktop;
#endif
}

} // namespace brevlin

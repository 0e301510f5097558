#pragma once

#include <functional>

typedef struct _GDBusConnection GDBusConnection;

namespace brevlin::atspi {

// Whether assistive technologies are enabled (org.a11y.Status IsEnabled or ScreenReaderEnabled)
// and the accessibility bus answers, asked without blocking: every step is an asynchronous
// D-Bus call answered through the main loop, so a bus or launcher that never answers costs the
// caller nothing. With `prompt`, IsEnabled is turned on first. `answer` runs once, on the main
// thread. `accessibilityBus`, when given, is a connection to the accessibility bus the caller
// holds: while it is open the bus is known to answer, and no new connection is made to ask.
void checkTrust(bool prompt, std::function<void(bool trusted)> answer,
                GDBusConnection* accessibilityBus = nullptr);

// How long each step may take before the answer is no.
inline constexpr int trustStepTimeoutMs = 3000;

} // namespace brevlin::atspi

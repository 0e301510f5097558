#pragma once

class QDBusMessage;

namespace brevlin {

// Sends a call whose answer nobody waits for, from an object that is going away, and returns once
// the call has left: what is still queued for the bus when the process ends is dropped, and a
// KWin script or portal session left behind would outlive Brevlin. Waits half a second at most.
void sendLastCall(const QDBusMessage& message);

} // namespace brevlin

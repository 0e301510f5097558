#pragma once

namespace brevlin {

// Ends the application's event loop when the session or a user asks Brevlin to stop (SIGTERM,
// SIGINT, SIGHUP), so it leaves as after its Quit command: its portal sessions closed and its
// KWin script unloaded, rather than left behind in the compositor.
void quitOnTerminationSignals();

} // namespace brevlin

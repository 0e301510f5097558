#pragma once

class QWindow;

namespace brevlin {

// Tells the window manager that the dock stays above normal windows, shows on every workspace
// and stays out of task bars and pagers (EWMH _NET_WM_STATE and _NET_WM_DESKTOP). Written as
// properties before the window is mapped and sent as requests when it already is, so it holds for
// a first show and for a window shown again. Does nothing off X11.
void applyDockWindowHints(QWindow* window);

// Whether a compositing manager runs on the default screen, so translucent pixels blend with what
// lies below; without one they show black and a rounded window needs a shape mask. True off X11.
bool hasCompositingManager();

} // namespace brevlin

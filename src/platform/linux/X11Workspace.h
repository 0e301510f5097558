#pragma once

#include "launch/Workspace.h"

#include <memory>
#include <optional>

namespace brevlin {

// Applications as an X11 desktop shows them: an application identifier names a desktop entry
// ("<identifier>.desktop", found as desktopEntryFor finds it), its windows are the managed windows
// whose WM_CLASS instance or class is the entry's StartupWMClass (without an entry, the identifier
// itself), and the running instance is the process owning the oldest such window. Only those
// windows count: a browser's web app is its app window, never the browser's ordinary ones.
class X11Workspace : public WorkspaceApi {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<X11Workspace> create();
    ~X11Workspace() override;

    RunningApplicationPtr findRunning(const QString& applicationId) override;
    // Launches the desktop entry (through GIO, as a desktop's launcher does) and reports it
    // started when one of its windows shows up, or failed after the start timeout. Needs a
    // running Qt event loop.
    void start(const QString& applicationId, StartDone done) override;
    // The window manager's active window, counted only while the keyboard focus is inside it.
    bool isFrontmost(const QString& applicationId) override;

    // The desktop entry file that stands for the identifier, or nothing when none is installed.
    std::optional<QString> desktopEntryPath(const QString& applicationId) const;
    void setStartTimeoutMilliseconds(int milliseconds);
    // How often a start looks for the started application's window.
    static constexpr int startPollMilliseconds = 50;
    // Whether a window manager runs (activation then goes through it).
    bool hasWindowManager() const;

    struct Display;

private:
    explicit X11Workspace(std::shared_ptr<Display> display);
    std::shared_ptr<Display> m_display;
    int m_startTimeoutMilliseconds = 20000;
};

} // namespace brevlin

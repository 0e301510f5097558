#pragma once

#include "launch/Workspace.h"

#include <memory>

namespace brevlin {

// Applications as an X11 desktop shows them: an application identifier names a desktop entry
// ("<identifier>.desktop"; for "com.figma.Desktop" also the community client's
// "figma-linux.desktop"), its windows are the managed windows whose WM_CLASS matches the entry's
// StartupWMClass, and one running application stands for each process owning such windows.
class X11Workspace : public WorkspaceApi {
public:
    // Null when the display cannot be opened.
    static std::unique_ptr<X11Workspace> create();
    ~X11Workspace() override;

    QList<RunningApplicationPtr> runningApplications(const QString& bundleIdentifier) override;
    std::optional<QString> applicationLocation(const QString& bundleIdentifier) override;
    // Launches the desktop entry at `location` and completes when one of its windows shows up,
    // or with an error after `openTimeoutMilliseconds`. Needs a running Qt event loop.
    void openApplication(const QString& location, bool activates,
                         OpenCompletion completion) override;
    std::optional<QString> frontmostApplicationBundleIdentifier() override;

    void setOpenTimeoutMilliseconds(int milliseconds);
    // Whether a window manager runs (activation then goes through it).
    bool hasWindowManager() const;

    struct Display;

private:
    explicit X11Workspace(std::shared_ptr<Display> display);
    std::shared_ptr<Display> m_display;
    int m_openTimeoutMilliseconds = 20000;
};

} // namespace brevlin

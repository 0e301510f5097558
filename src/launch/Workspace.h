#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace brevlin {

// "Activate all windows", the option the launcher passes.
inline constexpr quint32 activateAllWindows = 1;

class RunningApplication {
public:
    virtual ~RunningApplication() = default;
    virtual qint64 processIdentifier() const = 0;
    // Best effort, both.
    virtual bool unhide() = 0;
    virtual bool activate(quint32 options) = 0;
};

using RunningApplicationPtr = std::shared_ptr<RunningApplication>;

class WorkspaceApi {
public:
    virtual ~WorkspaceApi() = default;

    virtual QList<RunningApplicationPtr> runningApplications(const QString& bundleIdentifier) = 0;
    // Where the installed application is, or nothing.
    virtual std::optional<QString> applicationLocation(const QString& bundleIdentifier) = 0;
    // Starts the application; `completion` runs once, on the main thread or any other, with the
    // application or none and an error description or none.
    using OpenCompletion =
        std::function<void(RunningApplicationPtr application, std::optional<QString> error)>;
    virtual void openApplication(const QString& location, bool activates,
                                 OpenCompletion completion) = 0;
    virtual std::optional<QString> frontmostApplicationBundleIdentifier() = 0;
};

} // namespace brevlin

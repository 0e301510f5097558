#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace brevlin {

// One running instance of an application, as the workspace found or started it.
class RunningApplication {
public:
    virtual ~RunningApplication() = default;

    // The process that owns the application's windows: the one keys and accessibility requests
    // are addressed to. The same for the life of the handle.
    virtual qint64 processIdentifier() const = 0;

    // Brings the application forward. A backend guarantees:
    // - its hidden or minimised windows are shown again, and its main window is asked to come to
    //   the front with the keyboard focus, as if the user had switched to it;
    // - it returns at once, without waiting for the window system: the request may be refused or
    //   take effect later, and Workspace::isFrontmost tells when it has;
    // - asking again while it is already in front changes nothing, so callers may repeat it.
    virtual void activate() = 0;

    // The title of the window that is the target, as the window system shows it, so the launcher
    // can tell that window's frame among the application's others in the accessibility tree;
    // empty when the backend cannot say.
    virtual QString windowTitle() const { return {}; }
};

using RunningApplicationPtr = std::shared_ptr<RunningApplication>;

// How a start ended.
struct StartResult {
    enum class Kind { started, notInstalled, failed };

    Kind kind = Kind::failed;
    // The instance that was started; set when started.
    RunningApplicationPtr application;
    // Why it could not start, in words for the user; set when failed.
    QString message;

    static StartResult started(RunningApplicationPtr application) {
        return {Kind::started, std::move(application), {}};
    }
    static StartResult notInstalled() { return {Kind::notInstalled, nullptr, {}}; }
    static StartResult failed(QString message) {
        return {Kind::failed, nullptr, std::move(message)};
    }
};

// The desktop's applications, named by an application identifier: a desktop entry's id without
// ".desktop" ("com.figma.Desktop", "chrome-<app id>-Default"). The entry's window class says which
// windows are the application's, so a browser's web app is its own windows, not the browser's
// others. Finding the running one, starting it, and telling which one has the keyboard.
class WorkspaceApi {
public:
    virtual ~WorkspaceApi() = default;

    // A running instance of the application, or null when none runs. A backend guarantees:
    // - it neither starts nor activates anything;
    // - an instance counts as running once it shows a window, and stops counting when its last
    //   window is gone;
    // - with several instances running, it names the same one each time while that one runs.
    virtual RunningApplicationPtr findRunning(const QString& applicationId) = 0;

    using StartDone = std::function<void(StartResult)>;
    // Starts the installed application and brings it to the front. A backend guarantees:
    // - `done` runs exactly once, on the main thread or any other, possibly before start
    //   returns;
    // - notInstalled when nothing installed answers to the identifier, and then nothing was run;
    // - failed, with the system's own description, when the program could not be run or showed
    //   no window within a bounded time (tens of seconds at most);
    // - started, with the instance, only once it shows a window: findRunning finds it from then
    //   on. It has been asked to come to the front, but may not be there yet.
    virtual void start(const QString& applicationId, StartDone done) = 0;

    // Whether a window of the application has the keyboard focus now, so that keys sent now
    // reach it. A backend guarantees:
    // - true only while the keyboard focus really is in one of its windows (not merely while the
    //   window system is about to move it there);
    // - an answer without waiting on the application itself, cheap enough to ask before every
    //   key a launch sends.
    virtual bool isFrontmost(const QString& applicationId) = 0;
};

} // namespace brevlin

#pragma once

#include "launch/FigmaLauncher.h"
#include "launch/Task.h"

#include <QString>

#include <exception>
#include <optional>

namespace brevlin::testing {

// How one launch ended, as the tests read it.
struct LaunchOutcome {
    bool finished = false;
    bool cancelled = false;
    std::optional<FigmaLauncherError> launcherError;
    QString otherError;

    void end(std::exception_ptr error) {
        finished = true;
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const FigmaLauncherError& e) {
            launcherError = e;
        } catch (const CancellationError&) {
            cancelled = true;
        } catch (const std::exception& e) {
            otherError = QString::fromUtf8(e.what());
        }
    }
    bool succeeded() const {
        return finished && !cancelled && !launcherError && otherError.isEmpty();
    }
    QString describe() const {
        if (!finished || cancelled)
            return finished ? QStringLiteral("cancelled") : QStringLiteral("did not finish");
        if (launcherError)
            return launcherError->description();
        return otherError.isEmpty() ? QStringLiteral("success") : otherError;
    }
};

} // namespace brevlin::testing

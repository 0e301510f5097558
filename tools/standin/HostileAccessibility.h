#pragma once

class QWidget;

namespace brevlin::standin {

// Elements that an application may hand a reader to trip it up; the stand-in shows them on
// request so walks can be measured against them.
//
// A group named "Loop" whose last child is its own window (an ancestor).
QWidget* createAncestorLoop();
// A group named "Churn" whose children are new elements on every read, and so are theirs.
QWidget* createChurningGroup();
// Enables the two above; call before any window is shown.
void installHostileAccessibility();

} // namespace brevlin::standin

#pragma once

#include "UtilityIconButton.h"

namespace brevlin {

class DockStore;

// Stands in the dock beside the error marker while the shortcuts cannot be saved: the change
// lives only in memory until a later save succeeds. The tooltip says why and that the last saved
// file is kept.
class SaveFailureMarker : public UtilityIconButton {
    Q_OBJECT
public:
    static inline const QString symbolName = QStringLiteral("exclamationmark.circle.fill");

    SaveFailureMarker(const DockStore& store, QColor tint, QWidget* parent = nullptr);

private:
    void update();

    const DockStore& m_store;
};

} // namespace brevlin

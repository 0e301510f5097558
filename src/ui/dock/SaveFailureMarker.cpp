#include "SaveFailureMarker.h"

#include "model/DockStore.h"

namespace brevlin {

SaveFailureMarker::SaveFailureMarker(const DockStore& store, QColor tint, QWidget* parent)
    : UtilityIconButton(symbolName, std::move(tint), parent)
    , m_store(store) {
    setObjectName(QStringLiteral("saveFailureMarker"));
    setAccessibleName(tr("Shortcuts not saved"));
    connect(&m_store, &DockStore::saveFailureChanged, this, &SaveFailureMarker::update);
    update();
}

void SaveFailureMarker::update() {
    const std::optional<QString> message = m_store.saveFailureMessage();
    setToolTip(message.value_or(QString()));
    setAccessibleDescription(message.value_or(QString()));
    setVisible(message.has_value());
}

} // namespace brevlin

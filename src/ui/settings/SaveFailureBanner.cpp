#include "SaveFailureBanner.h"

#include "SettingsStyle.h"
#include "model/DockStore.h"
#include "ui/dock/SaveFailureMarker.h"
#include "ui/icons/SymbolIcon.h"

#include <QHBoxLayout>
#include <QLabel>

namespace brevlin {

namespace {

const QColor systemRed = QColor::fromRgb(255, 59, 48);

} // namespace

SaveFailureBanner::SaveFailureBanner(const DockStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store) {
    setObjectName(QStringLiteral("saveFailureBanner"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 10, 24, 0);
    layout->setSpacing(8);
    m_symbol = new QLabel(this);
    const int side = QFontMetrics(footnoteFont()).height();
    m_symbol->setPixmap(
        symbolIcon(SaveFailureMarker::symbolName, QFont::DemiBold, systemRed).pixmap(side, side));
    layout->addWidget(m_symbol, 0, Qt::AlignTop);
    m_text = new QLabel(this);
    m_text->setFont(footnoteFont());
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    layout->addWidget(m_text, 1);
    connect(&m_store, &DockStore::saveFailureChanged, this, &SaveFailureBanner::update);
    update();
}

QString SaveFailureBanner::text() const {
    return m_text->text();
}

void SaveFailureBanner::update() {
    const std::optional<QString> message = m_store.saveFailureMessage();
    m_text->setText(message.value_or(QString()));
    setVisible(message.has_value());
}

} // namespace brevlin

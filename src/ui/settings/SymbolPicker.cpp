#include "SymbolPicker.h"

#include "SettingsStyle.h"
#include "model/DockItem.h"
#include "ui/dock/DockIconContent.h"
#include "ui/icons/SymbolIcon.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>

namespace brevlin {

namespace {

constexpr int iconSide = 24;
constexpr int cellSide = 44;
constexpr int nameRole = Qt::UserRole;
const QString fillSuffix = QStringLiteral(".fill");

// One cell of the grid: the symbol in the view's text colour, on a rounded highlight while it is
// the chosen one or under the pointer. Drawn here rather than by the style, which highlights only
// an item's text and the cells have none.
class SymbolCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const bool selected = option.state & QStyle::State_Selected;
        const bool hovered = option.state & QStyle::State_MouseOver;
        if (selected || hovered) {
            const QColor accent = option.palette.color(QPalette::Highlight);
            QColor fill = accent;
            fill.setAlphaF(selected ? 0.25f : 0.1f);
            painter->setPen(selected ? QPen(accent, 1.5) : QPen(Qt::NoPen));
            painter->setBrush(fill);
            painter->drawPath(continuousRoundedRect(QRectF(option.rect).adjusted(3, 3, -3, -3), 9));
        }
        QRect iconRect(QPoint(0, 0), QSize(iconSide, iconSide));
        iconRect.moveCenter(option.rect.center());
        iconFor(index.data(nameRole).toString(), option.palette.color(QPalette::Text))
            .paint(painter, iconRect);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {cellSide, cellSide};
    }

private:
    // Drawn in the palette's text colour, so a change of theme draws them anew.
    QIcon iconFor(const QString& name, const QColor& tint) const {
        if (tint != m_tint) {
            m_icons.clear();
            m_tint = tint;
        }
        auto it = m_icons.find(name);
        if (it == m_icons.end()) {
            it = m_icons.insert(name, symbolIcon(name, QFont::Normal, tint));
        }
        return *it;
    }

    mutable QHash<QString, QIcon> m_icons;
    mutable QColor m_tint;
};

QStringList searchWords(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[\\s.\\-_]+"));
    return text.toLower().split(separators, Qt::SkipEmptyParts);
}

} // namespace

QStringList SymbolPicker::offeredNames() {
    QStringList names;
    for (const QString& name : mappedSymbolNames()) {
        names.append(name);
        names.append(name + fillSuffix);
    }
    return names;
}

bool SymbolPicker::matches(const QString& symbolName, const QString& searchText) {
    const QStringList terms = searchWords(searchText);
    if (terms.isEmpty()) {
        return true;
    }
    QString base = symbolName;
    if (base.endsWith(fillSuffix)) {
        base.chop(fillSuffix.size());
    }
    const QStringList words = searchWords(symbolName) + searchWords(mappedIconName(base));
    const QString joined = symbolName.toLower().remove(QLatin1Char('.'));
    for (const QString& term : terms) {
        const bool found = joined.contains(term) ||
                           std::any_of(words.begin(), words.end(),
                                       [&](const QString& w) { return w.startsWith(term); });
        if (!found) {
            return false;
        }
    }
    return true;
}

SymbolPicker::SymbolPicker(const QString& currentName, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Choose Symbol"));
    setObjectName(QStringLiteral("symbolPicker"));
    setWindowModality(Qt::WindowModal);
    resize(520, 440);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("symbolSearchField"));
    m_search->setPlaceholderText(QStringLiteral("Search symbols"));
    m_search->setClearButtonEnabled(true);
    m_search->installEventFilter(this);
    layout->addWidget(m_search);

    m_grid = new QListWidget(this);
    m_grid->setObjectName(QStringLiteral("symbolGrid"));
    m_grid->setViewMode(QListView::IconMode);
    m_grid->setIconSize(QSize(iconSide, iconSide));
    m_grid->setGridSize(QSize(cellSide, cellSide));
    m_grid->setUniformItemSizes(true);
    m_grid->setResizeMode(QListView::Adjust);
    m_grid->setMovement(QListView::Static);
    m_grid->setWrapping(true);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setItemDelegate(new SymbolCellDelegate(m_grid));
    m_grid->setMouseTracking(true);
    for (const QString& name : offeredNames()) {
        auto* item = new QListWidgetItem(m_grid);
        item->setData(nameRole, name);
        item->setToolTip(name);
        item->setData(Qt::AccessibleTextRole, name);
    }
    layout->addWidget(m_grid, 1);

    auto* bottom = new QHBoxLayout;
    m_nameLabel = new QLabel(this);
    m_nameLabel->setObjectName(QStringLiteral("symbolNameLabel"));
    m_nameLabel->setFont(monospacedFootnoteFont());
    m_nameLabel->setTextFormat(Qt::PlainText);
    makeSecondary(m_nameLabel);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    m_chooseButton = new QPushButton(QStringLiteral("Choose"), this);
    m_chooseButton->setObjectName(QStringLiteral("chooseButton"));
    m_chooseButton->setAutoDefault(false);
    bottom->addWidget(m_nameLabel, 1);
    bottom->addWidget(cancel);
    bottom->addWidget(m_chooseButton);
    layout->addLayout(bottom);

    connect(m_search, &QLineEdit::textChanged, this, &SymbolPicker::applyFilter);
    connect(m_grid, &QListWidget::currentItemChanged, this, &SymbolPicker::showCurrent);
    // A click, or Return on the grid, chooses at once.
    connect(m_grid, &QListWidget::itemClicked, this, &SymbolPicker::choose);
    connect(m_grid, &QListWidget::itemActivated, this, &SymbolPicker::choose);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_chooseButton, &QPushButton::clicked, this, [this] { choose(m_grid->currentItem()); });

    // Open on the symbol the field names, when the grid has it.
    const QString trimmed = trimmedText(currentName);
    QListWidgetItem* start = m_grid->item(0);
    for (int i = 0; i < m_grid->count(); ++i) {
        if (m_grid->item(i)->data(nameRole).toString() == trimmed) {
            start = m_grid->item(i);
            break;
        }
    }
    m_grid->setCurrentItem(start);
    m_grid->scrollToItem(start, QAbstractItemView::PositionAtCenter);
    showCurrent();
    m_search->setFocus();
}

QStringList SymbolPicker::visibleNames() const {
    QStringList names;
    for (int i = 0; i < m_grid->count(); ++i) {
        if (!m_grid->item(i)->isHidden()) {
            names.append(m_grid->item(i)->data(nameRole).toString());
        }
    }
    return names;
}

QString SymbolPicker::currentName() const {
    const QListWidgetItem* item = m_grid->currentItem();
    return item && !item->isHidden() ? item->data(nameRole).toString() : QString();
}

void SymbolPicker::applyFilter(const QString& text) {
    QListWidgetItem* firstShown = nullptr;
    for (int i = 0; i < m_grid->count(); ++i) {
        QListWidgetItem* item = m_grid->item(i);
        const bool shown = matches(item->data(nameRole).toString(), text);
        item->setHidden(!shown);
        if (shown && !firstShown) {
            firstShown = item;
        }
    }
    // The highlight stays on a symbol that still matches, else goes to the first match.
    QListWidgetItem* current = m_grid->currentItem();
    if (!current || current->isHidden()) {
        m_grid->setCurrentItem(firstShown);
    }
    if (m_grid->currentItem()) {
        m_grid->scrollToItem(m_grid->currentItem());
    }
    showCurrent();
}

void SymbolPicker::showCurrent() {
    const QString name = currentName();
    m_nameLabel->setText(name.isEmpty() ? QStringLiteral("No matching symbols") : name);
    m_chooseButton->setEnabled(!name.isEmpty());
}

void SymbolPicker::choose(QListWidgetItem* item) {
    if (!item || item->isHidden()) {
        return;
    }
    m_chosen = item->data(nameRole).toString();
    accept();
}

bool SymbolPicker::eventFilter(QObject* watched, QEvent* event) {
    // The search field keeps the keys it edits with; the ones that move through a grid go to the
    // grid, so one can type, step to a symbol and press Return without leaving the field.
    if (watched == m_search && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: {
            QKeyEvent forwarded(key->type(), key->key(), key->modifiers(), key->text());
            QApplication::sendEvent(m_grid, &forwarded);
            return true;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter:
            choose(m_grid->currentItem());
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace brevlin

#include "SettingsView.h"

#include "ItemEditorView.h"
#include "SaveFailureBanner.h"
#include "SettingsStyle.h"
#include "TimingControlRow.h"
#include "model/DockStore.h"
#include "ui/icons/SymbolIcon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace brevlin {

namespace {

// The rounded panel that holds one section's content, drawn from the palette so it follows the
// theme.
class SectionCard : public QFrame {
public:
    explicit SectionCard(QWidget* parent)
        : QFrame(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor edge = palette().color(QPalette::WindowText);
        edge.setAlphaF(0.12f);
        painter.setPen(QPen(edge, 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawPath(continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8));
    }
};

QLabel* sectionHeader(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(headlineFont());
    label->setContentsMargins(4, 0, 0, 0);
    return label;
}

QLabel* sectionFooter(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(footnoteFont());
    label->setWordWrap(true);
    label->setContentsMargins(4, 0, 0, 0);
    makeSecondary(label);
    return label;
}

QFrame* rowSeparator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Midlight);
    return line;
}

// The folder as people write it: "~/.local/share/Brevlin" rather than the full home path.
QString displayedPath(const QString& path) {
    const QString home = QDir::homePath();
    const QString native = QDir::cleanPath(path);
    if (native == home) {
        return QStringLiteral("~");
    }
    if (native.startsWith(home + QLatin1Char('/'))) {
        return QStringLiteral("~") + native.mid(home.size());
    }
    return native;
}

// The platform's warning red, readable on light and dark backgrounds alike.
const QColor destructiveRed = QColor(0xE0, 0x3A, 0x30);

} // namespace

ShortcutRow::ShortcutRow(const DockItem& item, QWidget* parent)
    : QWidget(parent)
    , m_item(item) {
    setObjectName(QStringLiteral("shortcutRow"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(14);

    auto* tile = new AccentIconTile(34, 10, 18, 5, this);
    tile->setObjectName(QStringLiteral("iconTile"));
    tile->content()->setSystemName(m_item.resolvedSymbolName());
    tile->content()->setCustomIconPath(m_item.customIconPath);
    layout->addWidget(tile, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* name = new QLabel(m_item.name, this);
    name->setObjectName(QStringLiteral("nameLabel"));
    name->setFont(headlineFont());
    name->setTextFormat(Qt::PlainText);
    auto* plugin = new QLabel(m_item.pluginName, this);
    plugin->setObjectName(QStringLiteral("pluginLabel"));
    plugin->setFont(subheadlineFont());
    plugin->setTextFormat(Qt::PlainText);
    makeSecondary(plugin);
    texts->addWidget(name);
    texts->addWidget(plugin);
    layout->addLayout(texts);
    layout->addStretch(1);

    auto* hotkey = new QLabel(m_item.hotkey.displayString(), this);
    hotkey->setObjectName(QStringLiteral("hotkeyLabel"));
    hotkey->setFont(monospacedFootnoteFont());
    hotkey->setTextFormat(Qt::PlainText);
    makeSecondary(hotkey);
    layout->addWidget(hotkey, 0, Qt::AlignVCenter);

    auto* edit = new QPushButton(QStringLiteral("Edit"), this);
    edit->setObjectName(QStringLiteral("editButton"));
    edit->setAutoDefault(false);
    layout->addWidget(edit, 0, Qt::AlignVCenter);

    auto* remove = new QPushButton(QStringLiteral("Delete"), this);
    remove->setObjectName(QStringLiteral("deleteButton"));
    remove->setAutoDefault(false);
    QPalette warning = remove->palette();
    warning.setColor(QPalette::ButtonText, destructiveRed);
    remove->setPalette(warning);
    layout->addWidget(remove, 0, Qt::AlignVCenter);

    connect(edit, &QPushButton::clicked, this, [this] { emit editRequested(m_item); });
    connect(remove, &QPushButton::clicked, this, [this] { emit deleteRequested(m_item); });
}

SettingsView::SettingsView(DockStore& store, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_folderOpener(&SettingsView::openFolderWithDesktop) {
    setWindowTitle(QStringLiteral("Brevlin Settings"));
    setObjectName(QStringLiteral("settingsView"));
    setMinimumSize(minimumWindowWidth, minimumWindowHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* toolbar = new QToolBar(this);
    toolbar->setObjectName(QStringLiteral("toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    QAction* restoreSamples = toolbar->addAction(QStringLiteral("Restore Sample Shortcuts"));
    restoreSamples->setObjectName(QStringLiteral("restoreSamplesAction"));
    QAction* add = toolbar->addAction(QStringLiteral("Add Shortcut"));
    m_addAction = add;
    applyPaletteColours();
    add->setObjectName(QStringLiteral("addShortcutAction"));
    toolbar->widgetForAction(restoreSamples)->setObjectName(QStringLiteral("restoreSamplesButton"));
    toolbar->widgetForAction(add)->setObjectName(QStringLiteral("addShortcutButton"));
    layout->addWidget(toolbar);
    layout->addWidget(new SaveFailureBanner(m_store, this));
    connect(restoreSamples, &QAction::triggered, &m_store, &DockStore::restoreSampleShortcuts);
    connect(add, &QAction::triggered, this, &SettingsView::addShortcut);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(scroll, 1);

    auto* content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("settingsContent"));
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 18, 24, 24);
    column->setSpacing(8);

    column->addWidget(sectionHeader(QStringLiteral("General"), content));
    auto* generalCard = new SectionCard(content);
    generalCard->setObjectName(QStringLiteral("generalSection"));
    auto* generalLayout = new QVBoxLayout(generalCard);
    generalLayout->setContentsMargins(14, 12, 14, 12);
    generalLayout->setSpacing(10);
    auto* figmaRow = new QHBoxLayout;
    figmaRow->setSpacing(14);
    auto* figmaLabel = new QLabel(QStringLiteral("Figma"), generalCard);
    figmaLabel->setFont(headlineFont());
    figmaRow->addWidget(figmaLabel, 0, Qt::AlignTop);
    m_figmaTargetBox = new QComboBox(generalCard);
    m_figmaTargetBox->setObjectName(QStringLiteral("figmaTargetBox"));
    m_figmaTargetBox->setAccessibleName(QStringLiteral("Figma"));
    figmaRow->addWidget(m_figmaTargetBox, 1);
    m_figmaMissingLabel = new QLabel(QStringLiteral("No Figma was found on this computer. ") +
                                         figmaIdentity::installAdvice(),
                                     generalCard);
    m_figmaMissingLabel->setObjectName(QStringLiteral("figmaMissingLabel"));
    m_figmaMissingLabel->setWordWrap(true);
    m_figmaMissingLabel->setTextFormat(Qt::PlainText);
    figmaRow->addWidget(m_figmaMissingLabel, 1);
    generalLayout->addLayout(figmaRow);
    m_startAtLoginBox = new QCheckBox(QStringLiteral("Start Brevlin at login"), generalCard);
    m_startAtLoginBox->setObjectName(QStringLiteral("startAtLoginBox"));
    generalLayout->addWidget(m_startAtLoginBox);
    column->addWidget(generalCard);
    // Only what the user does is saved: filling the list chooses nothing.
    connect(m_figmaTargetBox, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_figmaTargets.size())
            m_store.setFigmaTarget(m_figmaTargets[index].applicationId);
    });
    connect(m_startAtLoginBox, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_desktop.setStartsAtLogin)
            m_desktop.setStartsAtLogin(checked);
        refreshDesktopState();
    });
    refreshDesktopState();
    column->addSpacing(18);

    column->addWidget(sectionHeader(QStringLiteral("Active Dock Items"), content));
    m_itemsCard = new SectionCard(content);
    m_itemsCard->setObjectName(QStringLiteral("itemsSection"));
    m_rowsLayout = new QVBoxLayout(m_itemsCard);
    m_rowsLayout->setContentsMargins(14, 6, 14, 6);
    m_rowsLayout->setSpacing(6);
    column->addWidget(m_itemsCard);
    auto* itemsFooter = sectionFooter(
        QStringLiteral("Shortcuts are saved to %1 and registered as global hotkeys when Brevlin "
                       "is running.")
            .arg(displayedPath(m_store.applicationFolderPath())),
        content);
    itemsFooter->setObjectName(QStringLiteral("itemsFooter"));
    itemsFooter->setTextFormat(Qt::PlainText);
    auto* openFolder = new QPushButton(QStringLiteral("Open Folder"), content);
    openFolder->setObjectName(QStringLiteral("openFolderButton"));
    openFolder->setFlat(true);
    openFolder->setFont(footnoteFont());
    openFolder->setAutoDefault(false);
    openFolder->setCursor(Qt::PointingHandCursor);
    m_openFolderButton = openFolder;
    applyPaletteColours();
    connect(openFolder, &QPushButton::clicked, this, &SettingsView::openConfigurationFolder);
    auto* footerRow = new QHBoxLayout;
    footerRow->setSpacing(6);
    footerRow->addWidget(itemsFooter, 1);
    footerRow->addWidget(openFolder, 0, Qt::AlignTop);
    column->addLayout(footerRow);

    column->addSpacing(18);
    column->addWidget(sectionHeader(QStringLiteral("Launcher Timing"), content));
    auto* timingCard = new SectionCard(content);
    timingCard->setObjectName(QStringLiteral("timingSection"));
    auto* timingLayout = new QVBoxLayout(timingCard);
    timingLayout->setContentsMargins(14, 12, 14, 12);
    timingLayout->addWidget(new TimingControls(m_store, timingCard));
    column->addWidget(timingCard);
    auto* timingFooter = sectionFooter(
        QStringLiteral("These values are in milliseconds. Increase them if Brevlin starts "
                       "searching before Figma's Actions UI is ready."),
        content);
    timingFooter->setObjectName(QStringLiteral("timingFooter"));
    column->addWidget(timingFooter);
    column->addStretch(1);

    scroll->setWidget(content);

    connect(&m_store, &DockStore::itemsChanged, this, &SettingsView::rebuildRows);
    rebuildRows();
}

void SettingsView::setFolderOpener(FolderOpener opener) {
    m_folderOpener = std::move(opener);
}

void SettingsView::setDesktopServices(DesktopServices services) {
    m_desktop = std::move(services);
    refreshDesktopState();
}

void SettingsView::refreshDesktopState() {
    m_figmaTargets =
        m_desktop.findFigmaTargets ? m_desktop.findFigmaTargets() : QList<FigmaTarget>();
    const QSignalBlocker blockBox(m_figmaTargetBox);
    m_figmaTargetBox->clear();
    int chosen = 0; // the first found, unless the user chose another that is still there
    for (qsizetype i = 0; i < m_figmaTargets.size(); ++i) {
        const FigmaTarget& target = m_figmaTargets[i];
        m_figmaTargetBox->addItem(QStringLiteral("%1 (%2)").arg(target.name, target.installation),
                                  target.applicationId);
        if (m_store.figmaTarget() == target.applicationId)
            chosen = int(i);
    }
    m_figmaTargetBox->setCurrentIndex(m_figmaTargets.isEmpty() ? -1 : chosen);
    m_figmaTargetBox->setVisible(!m_figmaTargets.isEmpty());
    m_figmaMissingLabel->setVisible(m_figmaTargets.isEmpty());

    const QSignalBlocker blockCheck(m_startAtLoginBox);
    m_startAtLoginBox->setEnabled(bool(m_desktop.setStartsAtLogin));
    m_startAtLoginBox->setChecked(m_desktop.startsAtLogin && m_desktop.startsAtLogin());
}

void SettingsView::showEvent(QShowEvent* event) {
    refreshDesktopState();
    QWidget::showEvent(event);
}

bool SettingsView::openFolderWithDesktop(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SettingsView::openConfigurationFolder() {
    const QString folder = m_store.applicationFolderPath();
    // Saving may not have made it yet (a read-only home); the file manager then has nothing to
    // show, so make it, as the first save would.
    QDir().mkpath(folder);
    if (m_folderOpener) {
        m_folderOpener(folder);
    }
}

void SettingsView::applyPaletteColours() {
    // "Open Folder" reads as a link, in the accent colour of the palette in force.
    if (m_openFolderButton) {
        QPalette linkColours = m_openFolderButton->palette();
        linkColours.setColor(QPalette::ButtonText, palette().color(QPalette::Highlight));
        m_openFolderButton->setPalette(linkColours);
    }
    m_addAction->setIcon(
        symbolIcon(QStringLiteral("plus"), QFont::Medium, palette().color(QPalette::ButtonText)));
}

void SettingsView::changeEvent(QEvent* event) {
    // The symbol is drawn in the text colour, so a change of theme redraws it.
    if (event->type() == QEvent::PaletteChange && m_addAction) {
        applyPaletteColours();
    }
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        refreshDesktopState();
    }
    QWidget::changeEvent(event);
}

ItemEditorView* SettingsView::editor() const {
    return m_editor.data();
}

QList<ShortcutRow*> SettingsView::rows() const {
    QList<ShortcutRow*> rows;
    for (int i = 0; i < m_rowsLayout->count(); ++i) {
        if (auto* row = qobject_cast<ShortcutRow*>(m_rowsLayout->itemAt(i)->widget())) {
            rows.append(row);
        }
    }
    return rows;
}

void SettingsView::rebuildRows() {
    // The old rows go later: one of them may be the sender of the click that changed the store.
    while (QLayoutItem* entry = m_rowsLayout->takeAt(0)) {
        if (QWidget* widget = entry->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete entry;
    }
    const QList<DockItem>& items = m_store.items();
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0) {
            m_rowsLayout->addWidget(rowSeparator(m_itemsCard));
        }
        auto* row = new ShortcutRow(items[i], m_itemsCard);
        connect(row, &ShortcutRow::editRequested, this, &SettingsView::editItem);
        connect(row, &ShortcutRow::deleteRequested, &m_store, &DockStore::deleteItem);
        m_rowsLayout->addWidget(row);
    }
    // An empty list shows its header and footer and nothing between them.
    m_itemsCard->setVisible(!items.isEmpty());
}

void SettingsView::addShortcut() {
    openEditor({QUuid::createUuid(), QStringLiteral("Add Shortcut"), DockItemDraft()});
}

void SettingsView::editItem(const DockItem& item) {
    openEditor({QUuid::createUuid(), QStringLiteral("Edit Shortcut"), DockItemDraft(item)});
}

void SettingsView::openEditor(EditorContext context) {
    if (m_editor) {
        m_editor->reject();
    }
    m_editorContext = std::move(context);
    auto* editor = new ItemEditorView(
        m_editorContext->title, m_editorContext->draft,
        [this](const DockItemDraft& copy) { m_store.saveDraft(copy); }, this);
    editor->setAttribute(Qt::WA_DeleteOnClose);
    const QUuid openedId = m_editorContext->id;
    connect(editor, &QDialog::finished, this, [this, openedId] {
        if (m_editorContext && m_editorContext->id == openedId) {
            m_editorContext.reset();
        }
    });
    m_editor = editor;
    // Modal for this window only, like a sheet.
    editor->open();
    emit editorOpened(editor);
}

} // namespace brevlin

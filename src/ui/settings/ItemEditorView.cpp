#include "ItemEditorView.h"

#include "SettingsStyle.h"
#include "SymbolPicker.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace brevlin {

namespace {

QLabel* sectionHeader(const QString& text, QWidget* parent, bool spaceAbove) {
    auto* label = new QLabel(text, parent);
    label->setFont(headlineFont());
    label->setContentsMargins(0, spaceAbove ? 10 : 0, 0, 0);
    return label;
}

QPushButton* plainButton(const QString& text, const QString& objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    // Only Save answers the Return key.
    button->setAutoDefault(false);
    return button;
}

QString modifierObjectName(KeyModifier modifier) {
    return storedName(modifier) + QStringLiteral("Check");
}

} // namespace

ItemEditorView::ItemEditorView(QString title, DockItemDraft draft, SaveAction onSave,
                               QWidget* parent)
    : QDialog(parent)
    , m_draft(std::move(draft))
    , m_onSave(std::move(onSave))
    , m_imageChooser(&ItemEditorView::chooseImageFile) {
    setWindowTitle(title);
    setObjectName(QStringLiteral("itemEditor"));
    setMinimumSize(minimumWindowWidth, minimumWindowHeight);
    // A sheet: it blocks its settings window only, not the dock.
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* form = new QWidget(this);
    buildForm(form);
    layout->addWidget(form, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);

    auto* buttonBar = new QHBoxLayout;
    buttonBar->setContentsMargins(16, 16, 16, 16);
    auto* cancel = plainButton(QStringLiteral("Cancel"), QStringLiteral("cancelButton"), this);
    m_saveButton = new QPushButton(QStringLiteral("Save"), this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setDefault(true);
    buttonBar->addWidget(cancel);
    buttonBar->addStretch(1);
    buttonBar->addWidget(m_saveButton);
    layout->addLayout(buttonBar);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_saveButton, &QPushButton::clicked, this, [this] {
        // Return reaches a disabled default button too; only a valid draft is saved.
        if (!m_draft.canSave()) {
            return;
        }
        if (m_onSave) {
            m_onSave(m_draft);
        }
        accept();
    });

    refresh();
}

void ItemEditorView::buildForm(QWidget* form) {
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(20, 16, 20, 12);
    column->setSpacing(8);

    // One form for the three sections, so their labels share one column.
    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    fields->setHorizontalSpacing(12);
    fields->setVerticalSpacing(8);
    column->addLayout(fields);
    m_form = fields;

    // Plugin Shortcut
    fields->addRow(sectionHeader(QStringLiteral("Plugin Shortcut"), form, false));
    m_nameField = new QLineEdit(m_draft.name, form);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("Shortcut name"));
    fields->addRow(QStringLiteral("Shortcut name"), m_nameField);
    m_pluginField = new QLineEdit(m_draft.pluginName, form);
    m_pluginField->setObjectName(QStringLiteral("pluginField"));
    m_pluginField->setPlaceholderText(QStringLiteral("Figma plugin or action name"));
    fields->addRow(QStringLiteral("Figma plugin or action name"), m_pluginField);

    // Icon
    fields->addRow(sectionHeader(QStringLiteral("Icon"), form, true));

    auto* segments = new QWidget(form);
    segments->setObjectName(QStringLiteral("sourcePicker"));
    auto* segmentLayout = new QHBoxLayout(segments);
    segmentLayout->setContentsMargins(0, 0, 0, 0);
    segmentLayout->setSpacing(0);
    m_symbolSourceButton =
        plainButton(QStringLiteral("Symbol"), QStringLiteral("symbolSourceButton"), segments);
    m_imageSourceButton =
        plainButton(QStringLiteral("Custom Image"), QStringLiteral("imageSourceButton"), segments);
    auto* sourceGroup = new QButtonGroup(segments);
    for (QPushButton* button : {m_symbolSourceButton, m_imageSourceButton}) {
        button->setCheckable(true);
        sourceGroup->addButton(button);
        segmentLayout->addWidget(button);
    }
    segmentLayout->addStretch(1);
    fields->addRow(QStringLiteral("Source"), segments);
    connect(m_symbolSourceButton, &QPushButton::clicked, this, [this] {
        m_draft.iconSource = DockIconSource::systemSymbol;
        refresh();
    });
    connect(m_imageSourceButton, &QPushButton::clicked, this, [this] {
        m_draft.iconSource = DockIconSource::customImage;
        refresh();
    });

    m_symbolFieldLabel = new QLabel(form);
    auto* symbolRow = new QWidget(form);
    auto* symbolLayout = new QHBoxLayout(symbolRow);
    symbolLayout->setContentsMargins(0, 0, 0, 0);
    symbolLayout->setSpacing(8);
    m_symbolField = new QLineEdit(m_draft.icon, symbolRow);
    m_symbolField->setObjectName(QStringLiteral("symbolField"));
    m_symbolFieldLabel->setBuddy(m_symbolField);
    // Typed names keep working; the picker is for those who do not know them.
    auto* pickSymbol = plainButton(QStringLiteral("Choose Symbol..."),
                                   QStringLiteral("chooseSymbolButton"), symbolRow);
    symbolLayout->addWidget(m_symbolField, 1);
    symbolLayout->addWidget(pickSymbol);
    fields->addRow(m_symbolFieldLabel, symbolRow);
    connect(pickSymbol, &QPushButton::clicked, this, &ItemEditorView::openSymbolPicker);

    m_imageChooserRow = new QWidget(form);
    m_imageChooserRow->setObjectName(QStringLiteral("imageChooserRow"));
    auto* chooserLayout = new QHBoxLayout(m_imageChooserRow);
    chooserLayout->setContentsMargins(0, 0, 0, 0);
    chooserLayout->setSpacing(12);
    auto* fileColumn = new QVBoxLayout;
    fileColumn->setSpacing(4);
    m_imageNameLabel = new QLabel(m_imageChooserRow);
    m_imageNameLabel->setObjectName(QStringLiteral("imageNameLabel"));
    m_imagePathLabel = new MiddleElidedLabel(m_imageChooserRow);
    m_imagePathLabel->setObjectName(QStringLiteral("imagePathLabel"));
    m_imagePathLabel->setFont(captionFont());
    makeSecondary(m_imagePathLabel);
    fileColumn->addWidget(m_imageNameLabel);
    fileColumn->addWidget(m_imagePathLabel);
    chooserLayout->addLayout(fileColumn, 1);
    auto* chooseButton = plainButton(QStringLiteral("Choose Image..."),
                                     QStringLiteral("chooseImageButton"), m_imageChooserRow);
    m_clearImageButton =
        plainButton(QStringLiteral("Clear"), QStringLiteral("clearImageButton"), m_imageChooserRow);
    chooserLayout->addWidget(chooseButton, 0, Qt::AlignTop);
    chooserLayout->addWidget(m_clearImageButton, 0, Qt::AlignTop);
    fields->addRow(m_imageChooserRow);
    connect(chooseButton, &QPushButton::clicked, this, &ItemEditorView::chooseImage);
    connect(m_clearImageButton, &QPushButton::clicked, this, [this] {
        m_draft.customIconPath.reset();
        refresh();
    });

    m_imageNote = new QLabel(
        QStringLiteral("If the custom image can't be loaded, Brevlin falls back to the symbol "
                       "above."),
        form);
    m_imageNote->setObjectName(QStringLiteral("imageNote"));
    m_imageNote->setFont(footnoteFont());
    m_imageNote->setWordWrap(true);
    makeSecondary(m_imageNote);
    fields->addRow(m_imageNote);

    auto* previewRow = new QWidget(form);
    auto* previewLayout = new QHBoxLayout(previewRow);
    previewLayout->setContentsMargins(0, 4, 0, 4);
    previewLayout->setSpacing(14);
    auto* previewLabel = new QLabel(QStringLiteral("Preview"), previewRow);
    makeSecondary(previewLabel);
    m_preview = new AccentIconTile(40, 12, 20, 6, previewRow);
    m_preview->setObjectName(QStringLiteral("preview"));
    previewLayout->addWidget(previewLabel, 0, Qt::AlignVCenter);
    previewLayout->addWidget(m_preview, 0, Qt::AlignVCenter);
    previewLayout->addStretch(1);
    fields->addRow(previewRow);

    connect(m_nameField, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_draft.name = text;
        refresh();
    });
    connect(m_pluginField, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_draft.pluginName = text;
        refresh();
    });
    connect(m_symbolField, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_draft.icon = text;
        refresh();
    });

    // Global Hotkey
    fields->addRow(sectionHeader(QStringLiteral("Global Hotkey"), form, true));
    m_keyPicker = new QComboBox(form);
    m_keyPicker->setObjectName(QStringLiteral("keyPicker"));
    m_keyPicker->addItems(supportedKeys());
    fields->addRow(QStringLiteral("Key"), m_keyPicker);
    connect(m_keyPicker, &QComboBox::activated, this, [this](int index) {
        m_draft.hotkey.key = supportedKeys().value(index);
        refresh();
    });

    auto* boxes = new QWidget(form);
    auto* boxLayout = new QHBoxLayout(boxes);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(10);
    for (KeyModifier modifier : allKeyModifiers) {
        auto* box = new QCheckBox(displayName(modifier), boxes);
        box->setObjectName(modifierObjectName(modifier));
        boxLayout->addWidget(box);
        m_modifierBoxes.append(box);
        connect(box, &QCheckBox::clicked, this,
                [this, modifier](bool checked) { setModifier(modifier, checked); });
    }
    boxLayout->addStretch(1);
    fields->addRow(QString(), boxes);

    m_currentShortcut = new QLabel(form);
    m_currentShortcut->setObjectName(QStringLiteral("currentShortcutLabel"));
    m_currentShortcut->setFont(monospacedFootnoteFont());
    makeSecondary(m_currentShortcut);
    fields->addRow(m_currentShortcut);
    column->addStretch(1);
}

void ItemEditorView::openSymbolPicker() {
    if (m_symbolPicker) {
        m_symbolPicker->raise();
        return;
    }
    auto* picker = new SymbolPicker(m_draft.icon, this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    connect(picker, &QDialog::accepted, this, [this, picker] {
        m_draft.icon = picker->chosenName();
        m_symbolField->setText(m_draft.icon);
        refresh();
    });
    m_symbolPicker = picker;
    picker->open();
}

void ItemEditorView::setImageChooser(ImageChooser chooser) {
    m_imageChooser = std::move(chooser);
}

void ItemEditorView::chooseImage() {
    if (!m_imageChooser) {
        return;
    }
    const std::optional<QString> path = m_imageChooser(this);
    if (!path) {
        return;
    }
    m_draft.iconSource = DockIconSource::customImage;
    m_draft.customIconPath = QFileInfo(*path).absoluteFilePath();
    refresh();
}

void ItemEditorView::setModifier(KeyModifier modifier, bool on) {
    QList<KeyModifier>& modifiers = m_draft.hotkey.modifiers;
    if (on) {
        // Switched on again, a modifier goes to the end: the list keeps the order of switching.
        if (!modifiers.contains(modifier)) {
            modifiers.append(modifier);
        }
    } else {
        modifiers.removeAll(modifier);
    }
    refresh();
}

void ItemEditorView::refresh() {
    const bool customImage = m_draft.iconSource == DockIconSource::customImage;
    m_symbolSourceButton->setChecked(!customImage);
    m_imageSourceButton->setChecked(customImage);
    m_symbolFieldLabel->setText(customImage ? QStringLiteral("Fallback symbol")
                                            : QStringLiteral("Symbol icon"));
    m_symbolField->setPlaceholderText(m_symbolFieldLabel->text());

    // Hiding the rows, not just their widgets, closes up the space they took.
    m_form->setRowVisible(m_imageChooserRow, customImage);
    m_form->setRowVisible(m_imageNote, customImage);

    const bool hasPath = m_draft.customIconPath.has_value();
    if (hasPath) {
        m_imageNameLabel->setText(QFileInfo(*m_draft.customIconPath).fileName());
        m_imageNameLabel->setForegroundRole(QPalette::WindowText);
        m_imagePathLabel->setText(*m_draft.customIconPath);
    } else {
        m_imageNameLabel->setText(QStringLiteral("No custom image selected"));
        makeSecondary(m_imageNameLabel);
        m_imagePathLabel->setText(QString());
    }
    m_imagePathLabel->setVisible(hasPath);
    m_clearImageButton->setVisible(hasPath);

    const QString trimmedIcon = trimmedText(m_draft.icon);
    DockIconContent* preview = m_preview->content();
    preview->setSystemName(trimmedIcon.isEmpty() ? defaultSymbolName : m_draft.icon);
    preview->setCustomIconPath(customImage ? m_draft.customIconPath : std::nullopt);

    m_keyPicker->setCurrentIndex(supportedKeys().indexOf(m_draft.hotkey.key));
    for (int i = 0; i < m_modifierBoxes.size(); ++i) {
        m_modifierBoxes[i]->setChecked(
            m_draft.hotkey.modifiers.contains(allKeyModifiers[std::size_t(i)]));
    }
    m_currentShortcut->setText(QStringLiteral("Current shortcut: ") +
                               m_draft.hotkey.displayString());

    m_saveButton->setEnabled(m_draft.canSave());
}

void ItemEditorView::keyPressEvent(QKeyEvent* event) {
    // The sheet closes through its buttons; Escape is not bound to Cancel.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString ItemEditorView::imageFileFilter() {
    QStringList patterns;
    const QMimeDatabase mimeDatabase;
    for (const QByteArray& name : QImageReader::supportedMimeTypes()) {
        const QMimeType type = mimeDatabase.mimeTypeForName(QString::fromLatin1(name));
        for (const QString& pattern : type.globPatterns()) {
            if (!patterns.contains(pattern)) {
                patterns.append(pattern);
            }
        }
    }
    return QStringLiteral("Image files (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

std::optional<QString> ItemEditorView::chooseImageFile(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(imageFileFilter());
    dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) {
        return std::nullopt;
    }
    // A link is recorded as the file it leads to.
    const QString resolved = QFileInfo(files.first()).canonicalFilePath();
    return resolved.isEmpty() ? files.first() : resolved;
}

} // namespace brevlin

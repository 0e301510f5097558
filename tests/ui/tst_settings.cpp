#include "model/DockStore.h"
#include "ui/dock/DockIconContent.h"
#include "ui/icons/SymbolIcon.h"
#include "ui/settings/AboutView.h"
#include "ui/settings/ItemEditorView.h"
#include "ui/settings/SaveFailureBanner.h"
#include "ui/settings/SettingsStyle.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SymbolPicker.h"
#include "ui/settings/TimingControlRow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace brevlin;

namespace {

// The samples' Command+Option+1, as Linux desktops write it.
const QString commandOption1 = QStringLiteral("Ctrl+Alt+1");

template <typename T> T* child(const QObject* parent, const char* name) {
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found) {
        qWarning("no child named %s", name);
    }
    return found;
}

QString writePng(const QString& path, QColor colour = Qt::red) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(path);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject storedTiming(const DockStore& store) {
    return QJsonDocument::fromJson(readFile(store.configFilePath()))
        .object()
        .value(QStringLiteral("launcherTiming"))
        .toObject();
}

QStringList iconFiles(const DockStore& store) {
    return QDir(store.iconsFolderPath()).entryList(QDir::Files, QDir::Name);
}

// A fresh store on first run without a seed resource: the three sample shortcuts.
struct Fixture {
    QTemporaryDir dir;
    DockStore store{dir.filePath(QStringLiteral("support")), [] { return std::nullopt; }};
};

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

void commit(QLineEdit* field, const QString& text) {
    typeInto(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

ItemEditorView* openedEditor(SettingsView& view) {
    ItemEditorView* editor = view.editor();
    if (editor && !QTest::qWaitForWindowExposed(editor)) {
        qWarning("the editor did not show");
    }
    return editor;
}

void clickRowButton(SettingsView& view, int row, const char* name) {
    QTest::mouseClick(child<QPushButton>(view.rows().at(row), name), Qt::LeftButton);
}

} // namespace

class SettingsTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    // Item editor
    void saveIsEnabledOnlyForAValidDraft();
    void returnSavesOnlyAValidDraftAndEscapeIsNotBound();
    void modifierBoxesKeepTheOrderOfSwitchingOn();
    void keyOutsideTheListShowsNoSelection();
    void choosingAnImageSwitchesToCustomImage();
    void clearKeepsCustomImageSelected();
    void switchingSourceKeepsBothValues();
    void modifierBoxesReadAsOnTheKeyboard();
    void iconTextsNameSymbols();
    void symbolPickerOffersEveryMappedSymbol();
    void symbolPickerSearchesNamesAndWords();
    void pickingASymbolFillsTheField();
    void symbolCellsFollowThePalette();
    void symbolPickerWorksFromTheKeyboard();

    // Settings window
    void windowShowsTheStoredShortcuts();
    void emptyListShowsOnlyHeaderAndFooter();
    void footerNamesAndOpensTheConfigurationFolder();
    void toolbarSymbolFollowsThePalette();
    void addThenSaveStoresATrimmedShortcut();
    void cancelLeavesStoreAndIconsUntouched();
    void editStartsFromTheStoredItemEachTime();
    void deleteRemovesEveryItemWithThatId();
    void deleteRemovesOnlyThatItemsIconFiles();
    void restoreSamplesReplacesItemsKeepsTiming();
    void failedSaveIsShownUntilASaveSucceeds();

    // Timing controls
    void timingRowsShowLocaleFormattedValues();
    void typedValuesAreClampedThroughTheStore();
    void unparsableTextLeavesTheValueAlone();
    void stepperStepsWithinTheRange();
    void oneChangeWritesAllFourClamped();
    void restoreDefaultTiming();

    // About
    void aboutShowsVersionAndTexts();
};

void SettingsTests::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void SettingsTests::saveIsEnabledOnlyForAValidDraft() {
    ItemEditorView editor(QStringLiteral("Add Shortcut"), DockItemDraft(), {});
    // Laid out, so that a click lands on a check box's label as a pointer would.
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    auto* save = child<QPushButton>(&editor, "saveButton");
    auto* name = child<QLineEdit>(&editor, "nameField");
    auto* plugin = child<QLineEdit>(&editor, "pluginField");
    QCOMPARE(editor.windowTitle(), QStringLiteral("Add Shortcut"));
    QCOMPARE(child<QLabel>(&editor, "currentShortcutLabel")->text(),
             QStringLiteral("Current shortcut: ") + commandOption1);
    QVERIFY(!save->isEnabled());

    typeInto(name, QStringLiteral("Rename"));
    QVERIFY(!save->isEnabled());
    typeInto(plugin, QStringLiteral("Rename It"));
    QVERIFY(save->isEnabled());

    typeInto(name, QStringLiteral("   "));
    QVERIFY(!save->isEnabled());
    typeInto(name, QStringLiteral(" R "));
    QVERIFY(save->isEnabled());
    // Typed text is kept as typed; trimming is the store's business.
    QCOMPARE(editor.draft().name, QStringLiteral(" R "));

    // Without modifiers the hotkey cannot be registered.
    QTest::mouseClick(child<QCheckBox>(&editor, "commandCheck"), Qt::LeftButton);
    QVERIFY(save->isEnabled());
    QTest::mouseClick(child<QCheckBox>(&editor, "optionCheck"), Qt::LeftButton);
    QVERIFY(!save->isEnabled());
    QCOMPARE(child<QLabel>(&editor, "currentShortcutLabel")->text(),
             QStringLiteral("Current shortcut: 1"));
    QTest::mouseClick(child<QCheckBox>(&editor, "shiftCheck"), Qt::LeftButton);
    QVERIFY(save->isEnabled());
}

void SettingsTests::returnSavesOnlyAValidDraftAndEscapeIsNotBound() {
    QList<DockItemDraft> saved;
    ItemEditorView editor(QStringLiteral("Add Shortcut"), DockItemDraft(),
                          [&saved](const DockItemDraft& draft) { saved.append(draft); });
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    auto* name = child<QLineEdit>(&editor, "nameField");
    typeInto(name, QStringLiteral("Only a name"));
    QTest::keyClick(name, Qt::Key_Return);
    QVERIFY(saved.isEmpty());
    QVERIFY(editor.isVisible());

    QTest::keyClick(name, Qt::Key_Escape);
    QVERIFY(editor.isVisible());

    typeInto(child<QLineEdit>(&editor, "pluginField"), QStringLiteral("Plugin"));
    QTest::keyClick(child<QLineEdit>(&editor, "pluginField"), Qt::Key_Return);
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved.first().name, QStringLiteral("Only a name"));
    QCOMPARE(saved.first().pluginName, QStringLiteral("Plugin"));
    QVERIFY(!editor.isVisible());
    QCOMPARE(editor.result(), int(QDialog::Accepted));
}

void SettingsTests::modifierBoxesKeepTheOrderOfSwitchingOn() {
    ItemEditorView editor(QStringLiteral("Add Shortcut"), DockItemDraft(), {});
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    auto* command = child<QCheckBox>(&editor, "commandCheck");
    auto* label = child<QLabel>(&editor, "currentShortcutLabel");
    QVERIFY(command->isChecked());
    QVERIFY(child<QCheckBox>(&editor, "optionCheck")->isChecked());
    QVERIFY(!child<QCheckBox>(&editor, "controlCheck")->isChecked());
    QVERIFY(!child<QCheckBox>(&editor, "shiftCheck")->isChecked());

    QTest::mouseClick(command, Qt::LeftButton);
    QCOMPARE(editor.draft().hotkey.modifiers, QList<HotkeyModifier>{HotkeyModifier::option});
    QTest::mouseClick(command, Qt::LeftButton);
    QCOMPARE(editor.draft().hotkey.modifiers,
             (QList<HotkeyModifier>{HotkeyModifier::option, HotkeyModifier::command}));
    // The display sorts the modifiers itself.
    QCOMPARE(label->text(), QStringLiteral("Current shortcut: ") + commandOption1);

    QTest::mouseClick(child<QCheckBox>(&editor, "controlCheck"), Qt::LeftButton);
    QCOMPARE(editor.draft().hotkey.modifiers.last(), HotkeyModifier::control);
    QCOMPARE(label->text(), QStringLiteral("Current shortcut: Ctrl+Alt+Super+1"));

    // Switching off removes every occurrence, the others keep their order.
    DockItemDraft doubled;
    doubled.hotkey.modifiers = {HotkeyModifier::shift, HotkeyModifier::command,
                                HotkeyModifier::shift, HotkeyModifier::option};
    ItemEditorView second(QStringLiteral("Edit Shortcut"), doubled, {});
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    QTest::mouseClick(child<QCheckBox>(&second, "shiftCheck"), Qt::LeftButton);
    QCOMPARE(second.draft().hotkey.modifiers,
             (QList<HotkeyModifier>{HotkeyModifier::command, HotkeyModifier::option}));
}

void SettingsTests::keyOutsideTheListShowsNoSelection() {
    DockItemDraft draft;
    draft.name = QStringLiteral("Hand edited");
    draft.pluginName = QStringLiteral("Plugin");
    draft.hotkey.key = QStringLiteral("k");
    ItemEditorView editor(QStringLiteral("Edit Shortcut"), draft, {});
    auto* picker = child<QComboBox>(&editor, "keyPicker");
    QCOMPARE(picker->count(), 36);
    QCOMPARE(picker->itemText(0), QStringLiteral("1"));
    QCOMPARE(picker->itemText(9), QStringLiteral("0"));
    QCOMPARE(picker->itemText(35), QStringLiteral("Z"));
    QCOMPARE(picker->currentIndex(), -1);
    // "k" still has a key code once upper-cased.
    QVERIFY(child<QPushButton>(&editor, "saveButton")->isEnabled());

    picker->setFocus();
    QTest::keyClick(picker, Qt::Key_End);
    QCOMPARE(editor.draft().hotkey.key, QStringLiteral("Z"));
    QCOMPARE(child<QLabel>(&editor, "currentShortcutLabel")->text(),
             QStringLiteral("Current shortcut: Ctrl+Alt+Z"));
}

void SettingsTests::choosingAnImageSwitchesToCustomImage() {
    QTemporaryDir dir;
    const QString picture = writePng(dir.filePath(QStringLiteral("Photo.png")));
    ItemEditorView editor(QStringLiteral("Add Shortcut"), DockItemDraft(), {});
    auto* preview = child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");
    QVERIFY(!child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));

    // The file dialog offers every format the image readers decode.
    const QString filter = ItemEditorView::imageFileFilter();
    QVERIFY(filter.startsWith(QStringLiteral("Image files (")));
    QVERIFY(filter.contains(QStringLiteral("*.png")));
    QVERIFY(filter.contains(QStringLiteral("*.jpg")));
    QVERIFY(filter.contains(QStringLiteral("*.gif")));

    // A cancelled file dialog changes nothing.
    editor.setImageChooser([](QWidget*) { return std::nullopt; });
    QTest::mouseClick(child<QPushButton>(&editor, "chooseImageButton"), Qt::LeftButton);
    QCOMPARE(editor.draft(), DockItemDraft());

    editor.setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
    QTest::mouseClick(child<QPushButton>(&editor, "chooseImageButton"), Qt::LeftButton);
    QCOMPARE(editor.draft().iconSource, DockIconSource::customImage);
    QCOMPARE(editor.draft().customIconPath, std::optional<QString>(picture));
    QVERIFY(child<QPushButton>(&editor, "imageSourceButton")->isChecked());
    QVERIFY(child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));
    QCOMPARE(child<QLabel>(&editor, "imageNameLabel")->text(), QStringLiteral("Photo.png"));
    QCOMPARE(child<MiddleElidedLabel>(&editor, "imagePathLabel")->text(), picture);
    QVERIFY(child<QPushButton>(&editor, "clearImageButton")->isVisibleTo(&editor));
    QCOMPARE(preview->customIconPath(), std::optional<QString>(picture));
    QVERIFY(preview->loadCustomImage());
}

void SettingsTests::clearKeepsCustomImageSelected() {
    QTemporaryDir dir;
    const QString picture = writePng(dir.filePath(QStringLiteral("Icon.png")));
    DockItemDraft draft;
    draft.name = QStringLiteral("N");
    draft.pluginName = QStringLiteral("P");
    draft.iconSource = DockIconSource::customImage;
    draft.customIconPath = picture;
    std::optional<DockItemDraft> saved;
    ItemEditorView editor(QStringLiteral("Edit Shortcut"), draft,
                          [&saved](const DockItemDraft& copy) { saved = copy; });

    QTest::mouseClick(child<QPushButton>(&editor, "clearImageButton"), Qt::LeftButton);
    QCOMPARE(editor.draft().iconSource, DockIconSource::customImage);
    QVERIFY(!editor.draft().customIconPath);
    QCOMPARE(child<QLabel>(&editor, "imageNameLabel")->text(),
             QStringLiteral("No custom image selected"));
    QVERIFY(!child<QPushButton>(&editor, "clearImageButton")->isVisibleTo(&editor));
    QVERIFY(child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));

    QTest::mouseClick(child<QPushButton>(&editor, "saveButton"), Qt::LeftButton);
    QVERIFY(saved);
    QCOMPARE(saved->iconSource, DockIconSource::customImage);
    QVERIFY(!saved->customIconPath);
}

void SettingsTests::switchingSourceKeepsBothValues() {
    QTemporaryDir dir;
    const QString picture = writePng(dir.filePath(QStringLiteral("Icon.png")));
    DockItemDraft draft;
    draft.icon = QStringLiteral("star");
    draft.iconSource = DockIconSource::customImage;
    draft.customIconPath = picture;
    ItemEditorView editor(QStringLiteral("Edit Shortcut"), draft, {});
    auto* preview = child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");
    QCOMPARE(preview->customIconPath(), std::optional<QString>(picture));

    QTest::mouseClick(child<QPushButton>(&editor, "symbolSourceButton"), Qt::LeftButton);
    QCOMPARE(editor.draft().iconSource, DockIconSource::systemSymbol);
    QCOMPARE(editor.draft().customIconPath, std::optional<QString>(picture));
    QCOMPARE(editor.draft().icon, QStringLiteral("star"));
    // With the symbol selected the preview never shows the recorded image.
    QVERIFY(!preview->customIconPath());
    QVERIFY(!preview->loadCustomImage());
    QVERIFY(!child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));

    typeInto(child<QLineEdit>(&editor, "symbolField"), QStringLiteral("  "));
    QCOMPARE(preview->effectiveSymbolName(), QStringLiteral("square.grid.2x2"));
    typeInto(child<QLineEdit>(&editor, "symbolField"), QStringLiteral(" heart "));
    QCOMPARE(preview->effectiveSymbolName(), QStringLiteral("heart"));

    QTest::mouseClick(child<QPushButton>(&editor, "imageSourceButton"), Qt::LeftButton);
    QCOMPARE(preview->customIconPath(), std::optional<QString>(picture));
    QCOMPARE(child<QLabel>(&editor, "imageNameLabel")->text(), QStringLiteral("Icon.png"));
}

void SettingsTests::modifierBoxesReadAsOnTheKeyboard() {
    ItemEditorView editor(QStringLiteral("Add Shortcut"), DockItemDraft(), {});
    // Left to right as the keyboard's own order, each bound to the stored modifier it shows as.
    const QList<QCheckBox*> boxes = editor.findChildren<QCheckBox*>();
    QStringList labels;
    for (QCheckBox* box : boxes) {
        labels.append(box->text());
    }
    QCOMPARE(labels, (QStringList{"Ctrl", "Alt", "Shift", "Super"}));
    QCOMPARE(child<QCheckBox>(&editor, "commandCheck")->text(), QStringLiteral("Ctrl"));
    QCOMPARE(child<QCheckBox>(&editor, "optionCheck")->text(), QStringLiteral("Alt"));
    QCOMPARE(child<QCheckBox>(&editor, "controlCheck")->text(), QStringLiteral("Super"));
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    for (int i = 1; i < boxes.size(); ++i) {
        QVERIFY(boxes[i - 1]->x() < boxes[i]->x());
    }

    // Ctrl and Alt are on for a new shortcut; Super stores "control", Shift "shift".
    QVERIFY(boxes[0]->isChecked() && boxes[1]->isChecked());
    QTest::mouseClick(boxes[3], Qt::LeftButton);
    QTest::mouseClick(boxes[0], Qt::LeftButton);
    QTest::mouseClick(boxes[2], Qt::LeftButton);
    QCOMPARE(editor.draft().hotkey.modifiers,
             (QList<HotkeyModifier>{HotkeyModifier::option, HotkeyModifier::control,
                                    HotkeyModifier::shift}));
    QCOMPARE(child<QLabel>(&editor, "currentShortcutLabel")->text(),
             QStringLiteral("Current shortcut: Alt+Shift+Super+1"));
    QCOMPARE(editor.draft().hotkey.toJson().value("modifiers").toArray().toVariantList(),
             (QVariantList{"option", "control", "shift"}));
}

void SettingsTests::iconTextsNameSymbols() {
    DockItemDraft draft;
    ItemEditorView editor(QStringLiteral("Add Shortcut"), draft, {});
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    QCOMPARE(child<QPushButton>(&editor, "symbolSourceButton")->text(), QStringLiteral("Symbol"));
    auto* field = child<QLineEdit>(&editor, "symbolField");
    QCOMPARE(field->placeholderText(), QStringLiteral("Symbol icon"));
    QTest::mouseClick(child<QPushButton>(&editor, "imageSourceButton"), Qt::LeftButton);
    QCOMPARE(field->placeholderText(), QStringLiteral("Fallback symbol"));
    QCOMPARE(child<QLabel>(&editor, "imageNote")->text(),
             QStringLiteral("If the custom image can't be loaded, Brevlin falls back to the symbol "
                            "above."));
    // No text of the editor names the other platform's symbol set.
    for (const QLabel* label : editor.findChildren<QLabel*>()) {
        QVERIFY2(!label->text().contains(QStringLiteral("SF ")), qPrintable(label->text()));
    }
    for (const QPushButton* button : editor.findChildren<QPushButton*>()) {
        QVERIFY2(!button->text().contains(QStringLiteral("SF ")), qPrintable(button->text()));
    }
}

void SettingsTests::symbolPickerOffersEveryMappedSymbol() {
    SymbolPicker picker{QString()};
    const QStringList names = picker.visibleNames();
    QCOMPARE(names, SymbolPicker::offeredNames());
    QCOMPARE(names.size(), 2 * mappedSymbolNames().size());
    for (const QString& name : mappedSymbolNames()) {
        QVERIFY2(names.contains(name) && names.contains(name + QStringLiteral(".fill")),
                 qPrintable(name));
    }
    // Every cell draws its symbol and names it to the pointer and to assistive technologies.
    QListWidget* grid = picker.grid();
    for (int i = 0; i < grid->count(); ++i) {
        const QListWidgetItem* item = grid->item(i);
        QVERIFY2(hasSymbol(names[i]), qPrintable(names[i]));
        QCOMPARE(item->toolTip(), names[i]);
        QCOMPARE(item->data(Qt::AccessibleTextRole).toString(), names[i]);
    }
    QCOMPARE(grid->viewMode(), QListView::IconMode);
}

void SettingsTests::symbolPickerSearchesNamesAndWords() {
    SymbolPicker picker(QStringLiteral("star"));
    QCOMPARE(picker.currentName(), QStringLiteral("star"));
    QLineEdit* search = picker.searchField();

    // A plain word finds a symbol whose own name does not hold it.
    search->setText(QStringLiteral("lightning"));
    QVERIFY(picker.visibleNames().contains(QStringLiteral("bolt")));
    QVERIFY(picker.visibleNames().contains(QStringLiteral("bolt.fill")));
    QVERIFY(!picker.visibleNames().contains(QStringLiteral("star")));
    // The highlight moves to the first match when its own symbol is filtered away.
    QCOMPARE(picker.currentName(), picker.visibleNames().first());

    // Full and partial names, words in any order, any case.
    search->setText(QStringLiteral("square.stack.3d.up.fill"));
    QCOMPARE(picker.visibleNames(), QStringList{QStringLiteral("square.stack.3d.up.fill")});
    search->setText(QStringLiteral("Stack Square"));
    QVERIFY(picker.visibleNames().contains(QStringLiteral("square.stack.3d.up")));
    for (const QString& name : picker.visibleNames()) {
        QVERIFY2(name.contains(QStringLiteral("stack")) && name.contains(QStringLiteral("square")),
                 qPrintable(name));
    }
    search->setText(QStringLiteral("gear"));
    QVERIFY(picker.visibleNames().contains(QStringLiteral("gearshape")));

    search->setText(QStringLiteral("nothing-like-this"));
    QVERIFY(picker.visibleNames().isEmpty());
    QCOMPARE(picker.currentName(), QString());
    QCOMPARE(child<QLabel>(&picker, "symbolNameLabel")->text(),
             QStringLiteral("No matching symbols"));
    QVERIFY(!child<QPushButton>(&picker, "chooseButton")->isEnabled());

    search->clear();
    QCOMPARE(picker.visibleNames().size(), SymbolPicker::offeredNames().size());
}

void SettingsTests::symbolCellsFollowThePalette() {
    // The second cell ("square.stack.3d.up.fill") is filled, so its middle is the icon's colour.
    const auto middleOfSecondCell = [](SymbolPicker& picker) {
        picker.show();
        if (!QTest::qWaitForWindowExposed(&picker)) {
            return QColor();
        }
        QListWidget* grid = picker.grid();
        const QRect cell = grid->visualItemRect(grid->item(1));
        const QImage image = grid->viewport()->grab(cell).toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    };
    SymbolPicker light{QString()};
    QPalette palette = light.palette();
    palette.setColor(QPalette::Text, QColor(20, 20, 20));
    palette.setColor(QPalette::Base, Qt::white);
    light.setPalette(palette);
    QVERIFY(middleOfSecondCell(light).lightness() < 80);

    // A dark theme set after the picker was made draws the symbols light.
    SymbolPicker dark{QString()};
    QVERIFY(middleOfSecondCell(dark).isValid());
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setPalette(palette);
    QVERIFY(middleOfSecondCell(dark).lightness() > 180);
}

void SettingsTests::pickingASymbolFillsTheField() {
    DockItemDraft draft;
    draft.icon = QStringLiteral("heart");
    ItemEditorView editor(QStringLiteral("Edit Shortcut"), draft, {});
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    auto* field = child<QLineEdit>(&editor, "symbolField");
    auto* preview = child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");

    QTest::mouseClick(child<QPushButton>(&editor, "chooseSymbolButton"), Qt::LeftButton);
    SymbolPicker* picker = editor.symbolPicker();
    QVERIFY(picker);
    QVERIFY(QTest::qWaitForWindowExposed(picker));
    // It opens on the field's symbol.
    QCOMPARE(picker->currentName(), QStringLiteral("heart"));

    // A click on a cell chooses it and closes the picker.
    picker->searchField()->setText(QStringLiteral("bolt"));
    QListWidget* grid = picker->grid();
    QListWidgetItem* bolt = nullptr;
    for (int i = 0; i < grid->count(); ++i) {
        if (grid->item(i)->toolTip() == QStringLiteral("bolt.fill")) {
            bolt = grid->item(i);
        }
    }
    QVERIFY(bolt && !bolt->isHidden());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(bolt).center());
    QTRY_VERIFY(!editor.symbolPicker());
    QCOMPARE(field->text(), QStringLiteral("bolt.fill"));
    QCOMPARE(editor.draft().icon, QStringLiteral("bolt.fill"));
    QCOMPARE(preview->effectiveSymbolName(), QStringLiteral("bolt.fill"));

    // Cancel leaves the field as it was; a typed name still counts.
    editor.openSymbolPicker();
    picker = editor.symbolPicker();
    QVERIFY(QTest::qWaitForWindowExposed(picker));
    QCOMPARE(picker->currentName(), QStringLiteral("bolt.fill"));
    QTest::mouseClick(child<QPushButton>(picker, "cancelButton"), Qt::LeftButton);
    QTRY_VERIFY(!editor.symbolPicker());
    QCOMPARE(editor.draft().icon, QStringLiteral("bolt.fill"));
    typeInto(field, QStringLiteral("star.fill"));
    QCOMPARE(editor.draft().icon, QStringLiteral("star.fill"));
}

void SettingsTests::symbolPickerWorksFromTheKeyboard() {
    DockItemDraft draft;
    ItemEditorView editor(QStringLiteral("Add Shortcut"), draft, {});
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    editor.openSymbolPicker();
    SymbolPicker* picker = editor.symbolPicker();
    QVERIFY(QTest::qWaitForWindowExposed(picker));
    QLineEdit* search = picker->searchField();
    QTRY_VERIFY(search->hasFocus());

    // Type to filter, step with the arrows without leaving the field, Return to choose.
    QTest::keyClicks(search, QStringLiteral("arrow"));
    const QStringList matches = picker->visibleNames();
    QVERIFY(matches.size() > 20);
    QCOMPARE(picker->currentName(), matches.first());
    QTest::keyClick(search, Qt::Key_Down);
    QVERIFY(search->hasFocus());
    const QString stepped = picker->currentName();
    QVERIFY(matches.indexOf(stepped) > 1); // a whole row down the grid
    QTest::keyClick(search, Qt::Key_Up);
    QCOMPARE(picker->currentName(), matches.first());
    QTest::keyClick(search, Qt::Key_Down);

    // Left and Right still move the text cursor in the field.
    QTest::keyClick(search, Qt::Key_Left);
    QCOMPARE(search->cursorPosition(), 4);
    QCOMPARE(picker->currentName(), stepped);

    // Tab goes into the grid, where the arrows move sideways too.
    QTest::keyClick(search, Qt::Key_Tab);
    QTRY_VERIFY(picker->grid()->hasFocus());
    QTest::keyClick(picker->grid(), Qt::Key_Right);
    const QString right = picker->currentName();
    QCOMPARE(right, matches.at(matches.indexOf(stepped) + 1));
    QTest::keyClick(picker->grid(), Qt::Key_Return);
    QTRY_VERIFY(!editor.symbolPicker());
    QCOMPARE(editor.draft().icon, right);
    QVERIFY(editor.isVisible());

    // Return from the field chooses the highlighted symbol; Escape closes without choosing.
    const auto typeInPicker = [&editor](const QString& text, Qt::Key key) {
        editor.openSymbolPicker();
        SymbolPicker* opened = editor.symbolPicker();
        QVERIFY(QTest::qWaitForWindowExposed(opened));
        QTest::keyClicks(opened->searchField(), text);
        QTest::keyClick(opened->searchField(), key);
        QTRY_VERIFY(!editor.symbolPicker());
    };
    typeInPicker(QStringLiteral("heart"), Qt::Key_Return);
    QCOMPARE(editor.draft().icon, QStringLiteral("heart"));
    typeInPicker(QStringLiteral("star"), Qt::Key_Escape);
    QCOMPARE(editor.draft().icon, QStringLiteral("heart"));
    QVERIFY(editor.isVisible());
}

void SettingsTests::windowShowsTheStoredShortcuts() {
    Fixture f;
    DockItem blank = DockStore::builtInSamples().first();
    blank.id = QUuid::createUuid();
    blank.icon = QStringLiteral(" \t");
    blank.customIconPath = f.dir.filePath(QStringLiteral("gone.png"));
    f.store.upsert(blank);

    SettingsView view(f.store);
    QCOMPARE(view.windowTitle(), QStringLiteral("Brevlin Settings"));
    QCOMPARE(view.minimumSize(), QSize(760, 500));
    const QList<ShortcutRow*> rows = view.rows();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(child<QLabel>(rows[0], "nameLabel")->text(), QStringLiteral("Content Reel"));
    QCOMPARE(child<QLabel>(rows[1], "pluginLabel")->text(), QStringLiteral("Autoflow"));
    QCOMPARE(child<QLabel>(rows[0], "hotkeyLabel")->text(), commandOption1);
    QCOMPARE(child<DockIconContent>(rows[2], "iconContent")->effectiveSymbolName(),
             QStringLiteral("photo.stack"));
    auto* fallback = child<DockIconContent>(rows[3], "iconContent");
    QCOMPARE(fallback->effectiveSymbolName(), QStringLiteral("square.grid.2x2"));
    QVERIFY(!fallback->loadCustomImage());
    QCOMPARE(child<QLabel>(&view, "itemsFooter")->text(),
             QStringLiteral("Shortcuts are saved to %1 and registered as global hotkeys when "
                            "Brevlin is running.")
                 .arg(f.store.applicationFolderPath()));
    QCOMPARE(child<QLabel>(&view, "timingFooter")->text(),
             QStringLiteral("These values are in milliseconds. Increase them if Brevlin starts "
                            "searching before Figma's Actions UI is ready."));

    // The list follows the store.
    f.store.deleteItem(f.store.items().first());
    QCOMPARE(view.rows().size(), 3);
    QCOMPARE(child<QLabel>(view.rows()[0], "nameLabel")->text(), QStringLiteral("Autoflow"));
}

void SettingsTests::footerNamesAndOpensTheConfigurationFolder() {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const QString support = home.filePath(QStringLiteral(".local/share"));
    DockStore store(support, [] { return std::nullopt; });
    SettingsView view(store);
    qputenv("HOME", oldHome);
    // Written as people write paths in their home folder.
    QCOMPARE(child<QLabel>(&view, "itemsFooter")->text(),
             QStringLiteral("Shortcuts are saved to ~/.local/share/Brevlin and registered as "
                            "global hotkeys when Brevlin is running."));

    QStringList opened;
    view.setFolderOpener([&opened](const QString& path) {
        opened.append(path);
        return true;
    });
    // The folder is made first when no save has made it yet.
    QDir(store.applicationFolderPath()).removeRecursively();
    auto* open = child<QPushButton>(&view, "openFolderButton");
    QCOMPARE(open->text(), QStringLiteral("Open Folder"));
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(opened, QStringList{store.applicationFolderPath()});
    QVERIFY(QFileInfo(opened.first()).isDir());
    QCOMPARE(QFileInfo(store.configFilePath()).absolutePath(), opened.first());
}

void SettingsTests::failedSaveIsShownUntilASaveSucceeds() {
    Fixture f;
    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto* banner = child<SaveFailureBanner>(&view, "saveFailureBanner");
    QVERIFY(!banner->isVisible());

    // A file where the application's folder must be: every save fails until it goes.
    const QString folder = f.store.applicationFolderPath();
    QVERIFY(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    clickRowButton(view, 0, "deleteButton");
    QCOMPARE(view.rows().size(), 2);
    QVERIFY(banner->isVisible());
    QCOMPARE(banner->text(), *f.store.saveFailureMessage());
    QVERIFY(banner->text().contains(folder));
    // The banner sits between the toolbar and the list.
    QVERIFY(banner->geometry().bottom() <
            child<QWidget>(&view, "itemsSection")->mapTo(&view, QPoint(0, 0)).y());

    QVERIFY(QFile::remove(folder));
    clickRowButton(view, 0, "deleteButton");
    QVERIFY(!banner->isVisible());
    QCOMPARE(DockStore(f.dir.filePath(QStringLiteral("support")), [] { return std::nullopt; })
                 .items()
                 .size(),
             1);
}

void SettingsTests::emptyListShowsOnlyHeaderAndFooter() {
    Fixture f;
    while (!f.store.items().isEmpty()) {
        f.store.deleteItem(f.store.items().first());
    }
    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.rows().isEmpty());
    QVERIFY(child<QLabel>(&view, "itemsFooter")->isVisible());
    QVERIFY(!child<QWidget>(&view, "itemsSection")->isVisible());
    bool headerShown = false;
    for (QLabel* label : view.findChildren<QLabel*>()) {
        headerShown |= label->text() == QStringLiteral("Active Dock Items") && label->isVisible();
    }
    QVERIFY(headerShown);
}

void SettingsTests::toolbarSymbolFollowsThePalette() {
    Fixture f;
    SettingsView view(f.store);
    auto* add = child<QToolButton>(&view, "addShortcutButton");
    QCOMPARE(add->text(), QStringLiteral("Add Shortcut"));
    QCOMPARE(child<QToolButton>(&view, "restoreSamplesButton")->text(),
             QStringLiteral("Restore Sample Shortcuts"));
    for (const QColor colour : {QColor(Qt::red), QColor(Qt::green)}) {
        QPalette palette = view.palette();
        palette.setColor(QPalette::ButtonText, colour);
        view.setPalette(palette);
        const QImage plus = add->icon().pixmap(32, 32).toImage();
        // The middle of the plus is drawn in the button text colour.
        const QColor middle = plus.pixelColor(16, 16);
        QCOMPARE(middle.rgb(), colour.rgb());
    }
}

void SettingsTests::addThenSaveStoresATrimmedShortcut() {
    Fixture f;
    const QString picture = writePng(f.dir.filePath(QStringLiteral("Photo.PNG")));
    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QTest::mouseClick(child<QToolButton>(&view, "addShortcutButton"), Qt::LeftButton);
    ItemEditorView* editor = openedEditor(view);
    QVERIFY(editor);
    QCOMPARE(editor->windowTitle(), QStringLiteral("Add Shortcut"));
    QCOMPARE(editor->windowModality(), Qt::WindowModal);
    QVERIFY(view.editorContext());
    QCOMPARE(view.editorContext()->title, QStringLiteral("Add Shortcut"));
    QCOMPARE(view.editorContext()->draft, DockItemDraft());

    typeInto(child<QLineEdit>(editor, "nameField"), QStringLiteral("  Rename  "));
    typeInto(child<QLineEdit>(editor, "pluginField"), QStringLiteral(" Rename It"));
    editor->setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
    QTest::mouseClick(child<QPushButton>(editor, "chooseImageButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(editor, "saveButton"), Qt::LeftButton);

    QTRY_VERIFY(!view.editor());
    QVERIFY(!view.editorContext());
    QCOMPARE(f.store.items().size(), 4);
    const DockItem added = f.store.items().last();
    QCOMPARE(added.name, QStringLiteral("Rename"));
    QCOMPARE(added.pluginName, QStringLiteral("Rename It"));
    QCOMPARE(iconFiles(f.store), QStringList{uuidString(added.id) + QStringLiteral(".png")});
    QCOMPARE(view.rows().size(), 4);
    QCOMPARE(child<QLabel>(view.rows().last(), "nameLabel")->text(), QStringLiteral("Rename"));
    QVERIFY(QFile::exists(picture));
}

void SettingsTests::cancelLeavesStoreAndIconsUntouched() {
    Fixture f;
    const QString picture = writePng(f.dir.filePath(QStringLiteral("Photo.png")));
    const QList<DockItem> before = f.store.items();
    const QByteArray configBefore = readFile(f.store.configFilePath());
    QVERIFY(!configBefore.isEmpty());
    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    for (const bool editing : {false, true}) {
        if (editing) {
            clickRowButton(view, 0, "editButton");
        } else {
            view.addShortcut();
        }
        ItemEditorView* editor = openedEditor(view);
        QVERIFY(editor);
        typeInto(child<QLineEdit>(editor, "nameField"), QStringLiteral("Changed"));
        typeInto(child<QLineEdit>(editor, "pluginField"), QStringLiteral("Changed"));
        editor->setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
        QTest::mouseClick(child<QPushButton>(editor, "chooseImageButton"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(editor, "cancelButton"), Qt::LeftButton);
        QTRY_VERIFY(!view.editor());
        QVERIFY(!view.editorContext());
    }
    QCOMPARE(f.store.items(), before);
    QCOMPARE(readFile(f.store.configFilePath()), configBefore);
    QVERIFY(!QFileInfo::exists(f.store.iconsFolderPath()));
}

void SettingsTests::editStartsFromTheStoredItemEachTime() {
    Fixture f;
    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    clickRowButton(view, 1, "editButton");
    ItemEditorView* first = openedEditor(view);
    QVERIFY(first);
    const QUuid firstContext = view.editorContext()->id;
    QCOMPARE(first->windowTitle(), QStringLiteral("Edit Shortcut"));
    QCOMPARE(child<QLineEdit>(first, "nameField")->text(), QStringLiteral("Autoflow"));
    QCOMPARE(first->draft().id, std::optional<QUuid>(f.store.items()[1].id));
    typeInto(child<QLineEdit>(first, "nameField"), QStringLiteral("Unsaved"));
    QTest::mouseClick(child<QCheckBox>(first, "shiftCheck"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(first, "cancelButton"), Qt::LeftButton);
    QTRY_VERIFY(!view.editor());

    clickRowButton(view, 1, "editButton");
    ItemEditorView* second = openedEditor(view);
    QVERIFY(second);
    QVERIFY(view.editorContext()->id != firstContext);
    QCOMPARE(child<QLineEdit>(second, "nameField")->text(), QStringLiteral("Autoflow"));
    QVERIFY(!child<QCheckBox>(second, "shiftCheck")->isChecked());
    QCOMPARE(second->draft(), DockItemDraft(f.store.items()[1]));

    // Saving an edit replaces the shortcut in place.
    typeInto(child<QLineEdit>(second, "nameField"), QStringLiteral("Flow"));
    QTest::mouseClick(child<QPushButton>(second, "saveButton"), Qt::LeftButton);
    QTRY_VERIFY(!view.editor());
    QCOMPARE(f.store.items().size(), 3);
    QCOMPARE(f.store.items()[1].name, QStringLiteral("Flow"));
    QCOMPARE(f.store.items()[1].id, DockStore::builtInSamples()[1].id);
}

void SettingsTests::deleteRemovesEveryItemWithThatId() {
    QTemporaryDir dir;
    const QString support = dir.filePath(QStringLiteral("support"));
    QVERIFY(QDir().mkpath(support + QStringLiteral("/Brevlin")));
    // Only a hand-edited file can hold two shortcuts with one id.
    const QByteArray config = R"({"items":[
        {"id":"11111111-1111-1111-1111-111111111111","name":"First","pluginName":"P","icon":"star",
         "hotkey":{"key":"1","modifiers":["command"]}},
        {"id":"22222222-2222-2222-2222-222222222222","name":"Other","pluginName":"P","icon":"star",
         "hotkey":{"key":"2","modifiers":["command"]}},
        {"id":"11111111-1111-1111-1111-111111111111","name":"Copy","pluginName":"P","icon":"star",
         "hotkey":{"key":"3","modifiers":["command"]}}],
        "launcherTiming":{"focusDelayMilliseconds":180,"actionsOpenDelayMilliseconds":80,
         "typingCharacterDelayMilliseconds":18,"postSearchDelayMilliseconds":60}})";
    QFile file(support + QStringLiteral("/Brevlin/config.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(config);
    file.close();
    DockStore store(support, [] { return std::nullopt; });
    QCOMPARE(store.items().size(), 3);

    SettingsView view(store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    clickRowButton(view, 0, "deleteButton");
    QCOMPARE(store.items().size(), 1);
    QCOMPARE(store.items().first().name, QStringLiteral("Other"));
    QCOMPARE(view.rows().size(), 1);
    QCOMPARE(child<QLabel>(view.rows().first(), "nameLabel")->text(), QStringLiteral("Other"));
    // The deletion was written at once.
    QVERIFY(!readFile(store.configFilePath()).contains("Copy"));
}

void SettingsTests::deleteRemovesOnlyThatItemsIconFiles() {
    Fixture f;
    for (const QString& name : {QStringLiteral("One"), QStringLiteral("Two")}) {
        DockItemDraft draft;
        draft.name = name;
        draft.pluginName = name;
        draft.iconSource = DockIconSource::customImage;
        draft.customIconPath = writePng(f.dir.filePath(name + QStringLiteral(".png")));
        f.store.saveDraft(draft);
    }
    const DockItem one = f.store.items()[3];
    const DockItem two = f.store.items()[4];
    QCOMPARE(iconFiles(f.store).size(), 2);

    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    clickRowButton(view, 3, "deleteButton");
    QCOMPARE(iconFiles(f.store), QStringList{uuidString(two.id) + QStringLiteral(".png")});
    QCOMPARE(f.store.items().size(), 4);
    QVERIFY(!f.store.items().contains(one));
}

void SettingsTests::restoreSamplesReplacesItemsKeepsTiming() {
    Fixture f;
    DockItemDraft draft;
    draft.name = QStringLiteral("Mine");
    draft.pluginName = QStringLiteral("Mine");
    draft.iconSource = DockIconSource::customImage;
    draft.customIconPath = writePng(f.dir.filePath(QStringLiteral("Mine.png")));
    f.store.saveDraft(draft);
    f.store.deleteItem(f.store.items().first());
    f.store.setTimingValue(TimingField::postSearchDelayMilliseconds, 333);
    QVERIFY(QFileInfo::exists(f.store.iconsFolderPath()));

    SettingsView view(f.store);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTest::mouseClick(child<QToolButton>(&view, "restoreSamplesButton"), Qt::LeftButton);
    QCOMPARE(f.store.items(), DockStore::builtInSamples());
    QVERIFY(!QFileInfo::exists(f.store.iconsFolderPath()));
    QCOMPARE(f.store.launcherTiming().postSearchDelayMilliseconds, 333);
    QCOMPARE(view.rows().size(), 3);
    QCOMPARE(storedTiming(f.store).value(QStringLiteral("postSearchDelayMilliseconds")).toInt(),
             333);
}

void SettingsTests::timingRowsShowLocaleFormattedValues() {
    Fixture f;
    f.store.setTimingValue(TimingField::actionsOpenDelayMilliseconds, 1500);
    TimingControls controls(f.store);
    const QList<TimingControlRow*>& rows = controls.rows();
    QCOMPARE(rows.size(), 4);
    const QStringList titles = {QStringLiteral("Focus Figma"), QStringLiteral("Actions Open"),
                                QStringLiteral("Typing Speed"), QStringLiteral("Post Search")};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(rows[i]->title(), titles[i]);
        QCOMPARE(rows[i]->valueField()->accessibleName(), titles[i]);
    }
    QCOMPARE(rows[0]->valueField()->text(), QStringLiteral("180"));
    QCOMPARE(rows[1]->valueField()->text(), QStringLiteral("1,500"));
    QCOMPARE(rows[1]->valueField()->width(), 78);
    QCOMPARE(rows[1]->findChild<QLabel*>(QStringLiteral("subtitleLabel"))->text(),
             QStringLiteral("Wait after pressing Ctrl+K before searching."));

    // The grouping follows the user's locale, for showing and for reading.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TimingControls german(f.store);
    QCOMPARE(german.rows()[1]->valueField()->text(), QStringLiteral("1.500"));
    commit(german.rows()[0]->valueField(), QStringLiteral("1.200"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 1200);
}

void SettingsTests::typedValuesAreClampedThroughTheStore() {
    Fixture f;
    TimingControls controls(f.store);
    controls.show();
    QVERIFY(QTest::qWaitForWindowExposed(&controls));
    QLineEdit* focus = controls.rows()[0]->valueField();
    commit(focus, QStringLiteral("5000"));
    QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 2000);
    QCOMPARE(focus->text(), QStringLiteral("2,000"));
    QCOMPARE(storedTiming(f.store).value(QStringLiteral("focusDelayMilliseconds")).toInt(), 2000);

    commit(focus, QStringLiteral("-5"));
    QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 0);
    QCOMPARE(focus->text(), QStringLiteral("0"));

    commit(focus, QStringLiteral("1,234"));
    QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 1234);

    QLineEdit* typing = controls.rows()[2]->valueField();
    commit(typing, QStringLiteral("500"));
    QCOMPARE(f.store.launcherTiming().typingCharacterDelayMilliseconds, 120);
    QCOMPARE(typing->text(), QStringLiteral("120"));
    // Other rows are not disturbed by the clamp of one.
    QCOMPARE(focus->text(), QStringLiteral("1,234"));
}

void SettingsTests::unparsableTextLeavesTheValueAlone() {
    Fixture f;
    TimingControls controls(f.store);
    controls.show();
    QVERIFY(QTest::qWaitForWindowExposed(&controls));
    const QByteArray configBefore = readFile(f.store.configFilePath());
    QLineEdit* post = controls.rows()[3]->valueField();
    for (const QString& text : {QStringLiteral("abc"), QStringLiteral("12.5"), QStringLiteral(""),
                                QStringLiteral("99999999999999999999999")}) {
        commit(post, text);
        QCOMPARE(f.store.launcherTiming().postSearchDelayMilliseconds, 60);
        QCOMPARE(post->text(), QStringLiteral("60"));
    }
    QCOMPARE(readFile(f.store.configFilePath()), configBefore);
}

void SettingsTests::stepperStepsWithinTheRange() {
    Fixture f;
    TimingControls controls(f.store);
    controls.show();
    QVERIFY(QTest::qWaitForWindowExposed(&controls));
    TimingControlRow* typing = controls.rows()[2];
    QCOMPARE(typing->step(), 2);
    QTest::mouseClick(typing->incrementButton(), Qt::LeftButton);
    QCOMPARE(f.store.launcherTiming().typingCharacterDelayMilliseconds, 20);
    QCOMPARE(typing->valueField()->text(), QStringLiteral("20"));
    QCOMPARE(
        storedTiming(f.store).value(QStringLiteral("typingCharacterDelayMilliseconds")).toInt(),
        20);

    commit(typing->valueField(), QStringLiteral("119"));
    QTest::mouseClick(typing->incrementButton(), Qt::LeftButton);
    QCOMPARE(f.store.launcherTiming().typingCharacterDelayMilliseconds, 120);
    QVERIFY(!typing->incrementButton()->isEnabled());
    typing->incrementButton()->click();
    QCOMPARE(f.store.launcherTiming().typingCharacterDelayMilliseconds, 120);

    const QList<qint64> steps = {10, 10, 2, 10};
    for (int i = 0; i < 4; ++i) {
        TimingControlRow* row = controls.rows()[i];
        QCOMPARE(row->step(), steps[i]);
        // One step from just above the bound stops at the bound, and no further.
        commit(row->valueField(), QString::number(steps[i] - 1));
        QCOMPARE(row->value(), steps[i] - 1);
        QTest::mouseClick(row->decrementButton(), Qt::LeftButton);
        QCOMPARE(row->value(), 0);
        row->decrementButton()->click();
        QCOMPARE(row->value(), 0);
        QVERIFY(!row->decrementButton()->isEnabled());
        QCOMPARE(row->valueField()->text(), QStringLiteral("0"));
    }
}

void SettingsTests::oneChangeWritesAllFourClamped() {
    QTemporaryDir dir;
    const QString support = dir.filePath(QStringLiteral("support"));
    QVERIFY(QDir().mkpath(support + QStringLiteral("/Brevlin")));
    QFile file(support + QStringLiteral("/Brevlin/config.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"items":[],"launcherTiming":{"focusDelayMilliseconds":5000,
        "actionsOpenDelayMilliseconds":-3,"typingCharacterDelayMilliseconds":18,
        "postSearchDelayMilliseconds":4000}})");
    file.close();
    DockStore store(support, [] { return std::nullopt; });
    TimingControls controls(store);
    controls.show();
    QVERIFY(QTest::qWaitForWindowExposed(&controls));
    QCOMPARE(controls.rows()[0]->valueField()->text(), QStringLiteral("2,000"));
    // A file from before the setting existed means it is on.
    QVERIFY(controls.adaptiveWaitsBox()->isChecked());

    QTest::mouseClick(controls.rows()[2]->incrementButton(), Qt::LeftButton);
    const QJsonObject timing = storedTiming(store);
    QCOMPARE(timing.value(QStringLiteral("adaptiveWaits")), QJsonValue(true));
    QCOMPARE(timing.value(QStringLiteral("focusDelayMilliseconds")).toInt(), 2000);
    QCOMPARE(timing.value(QStringLiteral("actionsOpenDelayMilliseconds")).toInt(), 0);
    QCOMPARE(timing.value(QStringLiteral("typingCharacterDelayMilliseconds")).toInt(), 20);
    QCOMPARE(timing.value(QStringLiteral("postSearchDelayMilliseconds")).toInt(), 1000);
}

void SettingsTests::restoreDefaultTiming() {
    Fixture f;
    f.store.setTimingValue(TimingField::focusDelayMilliseconds, 900);
    f.store.setTimingValue(TimingField::typingCharacterDelayMilliseconds, 4);
    f.store.deleteItem(f.store.items().first());
    const QList<DockItem> items = f.store.items();
    TimingControls controls(f.store);
    controls.show();
    QVERIFY(QTest::qWaitForWindowExposed(&controls));
    QCOMPARE(controls.restoreDefaultsButton()->text(), QStringLiteral("Restore Default Timing"));

    QCOMPARE(controls.adaptiveWaitsBox()->text(),
             QStringLiteral("Wait only as long as Figma needs"));
    QTest::mouseClick(controls.adaptiveWaitsBox(), Qt::LeftButton);
    QCOMPARE(storedTiming(f.store).value(QStringLiteral("adaptiveWaits")), QJsonValue(false));
    {
        DockStore reread(f.dir.filePath(QStringLiteral("support")), [] { return std::nullopt; });
        TimingControls shown(reread);
        QVERIFY(!reread.launcherTiming().adaptiveWaits);
        QVERIFY(!shown.adaptiveWaitsBox()->isChecked());
    }

    QTest::mouseClick(controls.restoreDefaultsButton(), Qt::LeftButton);
    QCOMPARE(f.store.launcherTiming(), LauncherTimingSettings::defaults);
    QVERIFY(controls.adaptiveWaitsBox()->isChecked());
    QCOMPARE(storedTiming(f.store).value(QStringLiteral("adaptiveWaits")), QJsonValue(true));
    const QStringList shown = {QStringLiteral("180"), QStringLiteral("80"), QStringLiteral("18"),
                               QStringLiteral("60")};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(controls.rows()[i]->valueField()->text(), shown[i]);
    }
    const QJsonObject timing = storedTiming(f.store);
    QCOMPARE(timing.value(QStringLiteral("focusDelayMilliseconds")).toInt(), 180);
    QCOMPARE(timing.value(QStringLiteral("typingCharacterDelayMilliseconds")).toInt(), 18);
    QCOMPARE(f.store.items(), items);
}

void SettingsTests::aboutShowsVersionAndTexts() {
    AboutView about(QStringLiteral("2.3"), QStringLiteral("45"));
    QCOMPARE(child<QLabel>(&about, "versionLabel")->text(),
             QStringLiteral("Version 2.3 \u2022 Build 45"));
    QCOMPARE(child<QLabel>(&about, "nameLabel")->text(), QStringLiteral("Brevlin"));
    QCOMPARE(child<QLabel>(&about, "taglineLabel")->text(),
             QStringLiteral("Launch Figma plugins from a compact desktop dock."));
    QCOMPARE(child<QLabel>(&about, "summaryLabel")->text(),
             QStringLiteral("Brevlin gives you one-click shortcuts, global hotkeys, custom item "
                            "icons, and adjustable launch timing so your Figma workflow stays "
                            "close at hand."));
    QCOMPARE(child<QLabel>(&about, "permissionLabel")->text(),
             QStringLiteral("Accessibility permission is required to control Figma."));
    QVERIFY(about.minimumWidth() >= 400);
    QVERIFY(about.minimumHeight() >= 300);
    QCOMPARE(child<QWidget>(&about, "appIcon")->size(), QSize(88, 88));

    // The summary wraps inside 320 points and keeps every line.
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QLabel* summary = child<QLabel>(&about, "summaryLabel");
    QVERIFY(summary->width() <= 320);
    QVERIFY(summary->height() >= summary->heightForWidth(summary->width()));

    QVERIFY(!AboutView::builtVersion().isEmpty());
    QVERIFY(!AboutView::builtBuildNumber().isEmpty());
}

QTEST_MAIN(SettingsTests)
#include "tst_settings.moc"

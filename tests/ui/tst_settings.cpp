#include "../model/StoreFiles.h"
#include "model/DockStore.h"
#include "ui/dock/DockIconContent.h"
#include "ui/icons/SymbolIcon.h"
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
using namespace brevlin::testing;
using namespace Qt::StringLiterals;

namespace {

// The samples' Command+Option+1, as Linux desktops write it.
const QString commandOption1 = u"Ctrl+Alt+1"_s;

template <typename T> T* child(const QObject* parent, const char* name) {
    return parent->findChild<T*>(QLatin1String(name));
}

bool shown(QWidget& widget) {
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

void click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

QString writePng(const QString& path, QColor colour = Qt::red) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(colour);
    image.save(path);
    return path;
}

QJsonObject storedTiming(const DockStore& store) {
    return QJsonDocument::fromJson(readAll(store.configFilePath()))
        .object()
        .value(u"launcherTiming"_s)
        .toObject();
}

// A fresh store on first run without a seed resource: the three sample shortcuts.
struct Fixture {
    QTemporaryDir dir;
    DockStore store = reread();
    DockStore reread() const { return DockStore(dir.filePath("support"), noSeed()); }
};

// The settings window over such a store.
struct Window : Fixture {
    SettingsView view{store};
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
    return editor && QTest::qWaitForWindowExposed(editor) ? editor : nullptr;
}

void clickRowButton(SettingsView& view, int row, const char* name) {
    click(child<QPushButton>(view.rows().at(row), name));
}

} // namespace

class SettingsTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void saveIsEnabledOnlyForAValidDraft() {
        QList<DockItemDraft> saved;
        ItemEditorView editor(u"Add Shortcut"_s, DockItemDraft(),
                              [&saved](const DockItemDraft& draft) { saved.append(draft); });
        // Laid out, so that a click lands on a check box's label as a pointer would.
        QVERIFY(shown(editor));
        auto* save = child<QPushButton>(&editor, "saveButton");
        auto* name = child<QLineEdit>(&editor, "nameField");
        auto* plugin = child<QLineEdit>(&editor, "pluginField");
        QVERIFY(!save->isEnabled());

        // Return does nothing for an invalid draft; Escape is not bound.
        typeInto(name, u"Rename"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QTest::keyClick(name, Qt::Key_Escape);
        QVERIFY(saved.isEmpty());
        QVERIFY(editor.isVisible());
        QVERIFY(!save->isEnabled());
        typeInto(plugin, u"Rename It"_s);
        QVERIFY(save->isEnabled());
        typeInto(name, u"   "_s);
        QVERIFY(!save->isEnabled());
        typeInto(name, u" R "_s);
        // Without modifiers the hotkey cannot be registered.
        click(child<QCheckBox>(&editor, "commandCheck"));
        QVERIFY(save->isEnabled());
        click(child<QCheckBox>(&editor, "optionCheck"));
        QVERIFY(!save->isEnabled());
        click(child<QCheckBox>(&editor, "shiftCheck"));
        QTest::keyClick(plugin, Qt::Key_Return);
        QCOMPARE(saved.size(), 1);
        // Typed text is kept as typed; trimming is the store's business.
        QCOMPARE(saved.first().name, u" R "_s);
        QCOMPARE(saved.first().hotkey.modifiers, QList<KeyModifier>{KeyModifier::shift});
        QVERIFY(!editor.isVisible());
        QCOMPARE(editor.result(), int(QDialog::Accepted));
    }

    void modifierBoxesKeepTheOrderOfSwitchingOn() {
        ItemEditorView editor(u"Add Shortcut"_s, DockItemDraft(), {});
        QVERIFY(shown(editor));
        auto* command = child<QCheckBox>(&editor, "commandCheck");
        auto* label = child<QLabel>(&editor, "currentShortcutLabel");
        QVERIFY(command->isChecked());
        QVERIFY(child<QCheckBox>(&editor, "optionCheck")->isChecked());

        click(command);
        QCOMPARE(editor.draft().hotkey.modifiers, QList<KeyModifier>{KeyModifier::alternate});
        click(command);
        QCOMPARE(editor.draft().hotkey.modifiers,
                 (QList<KeyModifier>{KeyModifier::alternate, KeyModifier::primary}));
        // The display sorts the modifiers itself.
        QCOMPARE(label->text(), u"Current shortcut: "_s + commandOption1);

        click(child<QCheckBox>(&editor, "controlCheck"));
        QCOMPARE(editor.draft().hotkey.modifiers.last(), KeyModifier::system);

        // Switching off removes every occurrence, the others keep their order.
        DockItemDraft doubled;
        doubled.hotkey.modifiers = {KeyModifier::shift, KeyModifier::primary, KeyModifier::shift,
                                    KeyModifier::alternate};
        ItemEditorView second(u"Edit Shortcut"_s, doubled, {});
        QVERIFY(shown(second));
        click(child<QCheckBox>(&second, "shiftCheck"));
        QCOMPARE(second.draft().hotkey.modifiers,
                 (QList<KeyModifier>{KeyModifier::primary, KeyModifier::alternate}));
    }

    void keyOutsideTheListShowsNoSelection() {
        DockItemDraft draft;
        draft.name = u"Hand edited"_s;
        draft.pluginName = u"Plugin"_s;
        draft.hotkey.key = u"k"_s;
        ItemEditorView editor(u"Edit Shortcut"_s, draft, {});
        auto* picker = child<QComboBox>(&editor, "keyPicker");
        QCOMPARE(picker->currentIndex(), -1);
        // "k" still has a key code once upper-cased.
        QVERIFY(child<QPushButton>(&editor, "saveButton")->isEnabled());

        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_End);
        QCOMPARE(editor.draft().hotkey.key, u"Z"_s);
    }

    void choosingAnImageSwitchesToCustomImage() {
        QTemporaryDir dir;
        const QString picture = writePng(dir.filePath(u"Photo.png"_s));
        ItemEditorView editor(u"Add Shortcut"_s, DockItemDraft(), {});
        auto* preview = child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");
        QVERIFY(!child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));

        // A cancelled file dialog changes nothing.
        editor.setImageChooser([](QWidget*) { return std::nullopt; });
        click(child<QPushButton>(&editor, "chooseImageButton"));
        QCOMPARE(editor.draft(), DockItemDraft());

        editor.setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
        click(child<QPushButton>(&editor, "chooseImageButton"));
        QCOMPARE(editor.draft().iconSource, DockIconSource::customImage);
        QCOMPARE(editor.draft().customIconPath, std::optional<QString>(picture));
        QVERIFY(child<QPushButton>(&editor, "imageSourceButton")->isChecked());
        QVERIFY(child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));
        QVERIFY(child<QPushButton>(&editor, "clearImageButton")->isVisibleTo(&editor));
        QCOMPARE(preview->customIconPath(), std::optional<QString>(picture));
        QVERIFY(preview->loadCustomImage());
    }

    void switchingSourceKeepsBothValues() {
        QTemporaryDir dir;
        const QString picture = writePng(dir.filePath(u"Icon.png"_s));
        DockItemDraft draft;
        draft.icon = u"star"_s;
        draft.iconSource = DockIconSource::customImage;
        draft.customIconPath = picture;
        ItemEditorView editor(u"Edit Shortcut"_s, draft, {});
        auto* preview = child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");
        QCOMPARE(preview->customIconPath(), std::optional<QString>(picture));

        click(child<QPushButton>(&editor, "symbolSourceButton"));
        QCOMPARE(editor.draft().iconSource, DockIconSource::systemSymbol);
        QCOMPARE(editor.draft().customIconPath, std::optional<QString>(picture));
        QCOMPARE(editor.draft().icon, u"star"_s);
        // With the symbol selected the preview never shows the recorded image.
        QVERIFY(!preview->customIconPath());
        QVERIFY(!preview->loadCustomImage());
        QVERIFY(!child<QWidget>(&editor, "imageChooserRow")->isVisibleTo(&editor));

        typeInto(child<QLineEdit>(&editor, "symbolField"), u"  "_s);
        QCOMPARE(preview->effectiveSymbolName(), u"square.grid.2x2"_s);
        typeInto(child<QLineEdit>(&editor, "symbolField"), u" heart "_s);
        QCOMPARE(preview->effectiveSymbolName(), u"heart"_s);

        click(child<QPushButton>(&editor, "imageSourceButton"));
        QCOMPARE(preview->customIconPath(), std::optional<QString>(picture));
        QCOMPARE(child<QLabel>(&editor, "imageNameLabel")->text(), u"Icon.png"_s);
    }

    void symbolPickerSearchesNamesAndWords() {
        SymbolPicker picker(u"star"_s);
        QCOMPARE(picker.currentName(), u"star"_s);
        QLineEdit* search = picker.searchField();

        // A plain word finds a symbol whose own name does not hold it.
        search->setText(u"lightning"_s);
        QVERIFY(picker.visibleNames().contains(u"bolt"_s));
        QVERIFY(picker.visibleNames().contains(u"bolt.fill"_s));
        QVERIFY(!picker.visibleNames().contains(u"star"_s));
        // The highlight moves to the first match when its own symbol is filtered away.
        QCOMPARE(picker.currentName(), picker.visibleNames().first());

        // Full and partial names, words in any order, any case.
        search->setText(u"square.stack.3d.up.fill"_s);
        QCOMPARE(picker.visibleNames(), QStringList{u"square.stack.3d.up.fill"_s});
        search->setText(u"Stack Square"_s);
        QVERIFY(picker.visibleNames().contains(u"square.stack.3d.up"_s));
        for (const QString& name : picker.visibleNames())
            QVERIFY2(name.contains(u"stack"_s) && name.contains(u"square"_s), qPrintable(name));
        search->setText(u"gear"_s);
        QVERIFY(picker.visibleNames().contains(u"gearshape"_s));

        search->setText(u"nothing-like-this"_s);
        QVERIFY(picker.visibleNames().isEmpty());
        QCOMPARE(picker.currentName(), QString());
        QCOMPARE(child<QLabel>(&picker, "symbolNameLabel")->text(), u"No matching symbols"_s);
        QVERIFY(!child<QPushButton>(&picker, "chooseButton")->isEnabled());

        search->clear();
        QCOMPARE(picker.visibleNames().size(), SymbolPicker::offeredNames().size());
    }

    void pickingASymbolFillsTheField() {
        DockItemDraft draft;
        draft.icon = u"heart"_s;
        ItemEditorView editor(u"Edit Shortcut"_s, draft, {});
        QVERIFY(shown(editor));
        auto* field = child<QLineEdit>(&editor, "symbolField");
        auto* preview = child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");

        click(child<QPushButton>(&editor, "chooseSymbolButton"));
        SymbolPicker* picker = editor.symbolPicker();
        QVERIFY(picker);
        QVERIFY(QTest::qWaitForWindowExposed(picker));
        // It opens on the field's symbol.
        QCOMPARE(picker->currentName(), u"heart"_s);

        // A click on a cell chooses it and closes the picker.
        picker->searchField()->setText(u"bolt"_s);
        QListWidget* grid = picker->grid();
        QListWidgetItem* bolt = nullptr;
        for (int i = 0; i < grid->count(); ++i) {
            if (grid->item(i)->toolTip() == u"bolt.fill"_s)
                bolt = grid->item(i);
        }
        QVERIFY(bolt && !bolt->isHidden());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualItemRect(bolt).center());
        QTRY_VERIFY(!editor.symbolPicker());
        QCOMPARE(field->text(), u"bolt.fill"_s);
        QCOMPARE(editor.draft().icon, u"bolt.fill"_s);
        QCOMPARE(preview->effectiveSymbolName(), u"bolt.fill"_s);

        // Cancel leaves the field as it was; a typed name still counts.
        editor.openSymbolPicker();
        picker = editor.symbolPicker();
        QVERIFY(QTest::qWaitForWindowExposed(picker));
        QCOMPARE(picker->currentName(), u"bolt.fill"_s);
        click(child<QPushButton>(picker, "cancelButton"));
        QTRY_VERIFY(!editor.symbolPicker());
        QCOMPARE(editor.draft().icon, u"bolt.fill"_s);
        typeInto(field, u"star.fill"_s);
        QCOMPARE(editor.draft().icon, u"star.fill"_s);
    }

    void symbolPickerWorksFromTheKeyboard() {
        DockItemDraft draft;
        ItemEditorView editor(u"Add Shortcut"_s, draft, {});
        QVERIFY(shown(editor));
        editor.openSymbolPicker();
        SymbolPicker* picker = editor.symbolPicker();
        QVERIFY(QTest::qWaitForWindowExposed(picker));
        QLineEdit* search = picker->searchField();
        QTRY_VERIFY(search->hasFocus());

        // Type to filter, step with the arrows without leaving the field, Return to choose.
        QTest::keyClicks(search, u"arrow"_s);
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
        typeInPicker(u"heart"_s, Qt::Key_Return);
        QCOMPARE(editor.draft().icon, u"heart"_s);
        typeInPicker(u"star"_s, Qt::Key_Escape);
        QCOMPARE(editor.draft().icon, u"heart"_s);
        QVERIFY(editor.isVisible());
    }

    void windowShowsTheStoredShortcuts() {
        Fixture f;
        DockItem blank = DockStore::builtInSamples().first();
        blank.id = QUuid::createUuid();
        blank.icon = u" \t"_s;
        blank.customIconPath = f.dir.filePath(u"gone.png"_s);
        f.store.upsert(blank);

        SettingsView view(f.store);
        const QList<ShortcutRow*> rows = view.rows();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(child<QLabel>(rows[0], "nameLabel")->text(), u"Content Reel"_s);
        QCOMPARE(child<QLabel>(rows[0], "hotkeyLabel")->text(), commandOption1);
        QCOMPARE(child<DockIconContent>(rows[2], "iconContent")->effectiveSymbolName(),
                 u"photo.stack"_s);
        auto* fallback = child<DockIconContent>(rows[3], "iconContent");
        QCOMPARE(fallback->effectiveSymbolName(), u"square.grid.2x2"_s);
        QVERIFY(!fallback->loadCustomImage());

        // The list follows the store.
        f.store.deleteItem(f.store.items().first());
        QCOMPARE(view.rows().size(), 3);
        QCOMPARE(child<QLabel>(view.rows()[0], "nameLabel")->text(), u"Autoflow"_s);
    }

    void footerNamesAndOpensTheConfigurationFolder() {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        const QString support = home.filePath(u".local/share"_s);
        DockStore store(support, [] { return std::nullopt; });
        SettingsView view(store);
        qputenv("HOME", oldHome);

        QStringList opened;
        view.setFolderOpener([&opened](const QString& path) {
            opened.append(path);
            return true;
        });
        // The folder is made first when no save has made it yet.
        QDir(store.applicationFolderPath()).removeRecursively();
        click(child<QPushButton>(&view, "openFolderButton"));
        QCOMPARE(opened, QStringList{store.applicationFolderPath()});
        QVERIFY(QFileInfo(opened.first()).isDir());
        QCOMPARE(QFileInfo(store.configFilePath()).absolutePath(), opened.first());
    }

    void addThenSaveStoresATrimmedShortcut() {
        Window w;
        const QString picture = writePng(w.dir.filePath(u"Photo.PNG"_s));
        QVERIFY(shown(w.view));

        click(child<QToolButton>(&w.view, "addShortcutButton"));
        ItemEditorView* editor = openedEditor(w.view);
        QVERIFY(editor);

        typeInto(child<QLineEdit>(editor, "nameField"), u"  Rename  "_s);
        typeInto(child<QLineEdit>(editor, "pluginField"), u" Rename It"_s);
        editor->setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
        click(child<QPushButton>(editor, "chooseImageButton"));
        click(child<QPushButton>(editor, "saveButton"));

        QTRY_VERIFY(!w.view.editor());
        QVERIFY(!w.view.editorContext());
        QCOMPARE(w.store.items().size(), 4);
        const DockItem added = w.store.items().last();
        QCOMPARE(added.name, u"Rename"_s);
        QCOMPARE(added.pluginName, u"Rename It"_s);
        QCOMPARE(QDir(w.store.iconsFolderPath()).entryList(QDir::Files),
                 QStringList{uuidString(added.id) + u".png"_s});
        QCOMPARE(w.view.rows().size(), 4);
        QCOMPARE(child<QLabel>(w.view.rows().last(), "nameLabel")->text(), u"Rename"_s);
        QVERIFY(QFile::exists(picture));
    }

    void cancelLeavesStoreAndIconsUntouched() {
        Window w;
        const QString picture = writePng(w.dir.filePath(u"Photo.png"_s));
        const QList<DockItem> before = w.store.items();
        const QByteArray configBefore = readAll(w.store.configFilePath());
        QVERIFY(!configBefore.isEmpty());
        QVERIFY(shown(w.view));

        for (const bool editing : {false, true}) {
            if (editing) {
                clickRowButton(w.view, 0, "editButton");
            } else {
                w.view.addShortcut();
            }
            ItemEditorView* editor = openedEditor(w.view);
            QVERIFY(editor);
            typeInto(child<QLineEdit>(editor, "nameField"), u"Changed"_s);
            typeInto(child<QLineEdit>(editor, "pluginField"), u"Changed"_s);
            editor->setImageChooser(
                [&picture](QWidget*) { return std::optional<QString>(picture); });
            click(child<QPushButton>(editor, "chooseImageButton"));
            click(child<QPushButton>(editor, "cancelButton"));
            QTRY_VERIFY(!w.view.editor());
            QVERIFY(!w.view.editorContext());
        }
        QCOMPARE(w.store.items(), before);
        QCOMPARE(readAll(w.store.configFilePath()), configBefore);
        QVERIFY(!QFileInfo::exists(w.store.iconsFolderPath()));
    }

    void editStartsFromTheStoredItemEachTime() {
        Window w;
        QVERIFY(shown(w.view));

        clickRowButton(w.view, 1, "editButton");
        ItemEditorView* first = openedEditor(w.view);
        QVERIFY(first);
        const QUuid firstContext = w.view.editorContext()->id;
        QCOMPARE(child<QLineEdit>(first, "nameField")->text(), u"Autoflow"_s);
        QCOMPARE(first->draft().id, std::optional<QUuid>(w.store.items()[1].id));
        typeInto(child<QLineEdit>(first, "nameField"), u"Unsaved"_s);
        click(child<QCheckBox>(first, "shiftCheck"));
        click(child<QPushButton>(first, "cancelButton"));
        QTRY_VERIFY(!w.view.editor());

        clickRowButton(w.view, 1, "editButton");
        ItemEditorView* second = openedEditor(w.view);
        QVERIFY(second);
        QVERIFY(w.view.editorContext()->id != firstContext);
        QCOMPARE(child<QLineEdit>(second, "nameField")->text(), u"Autoflow"_s);
        QVERIFY(!child<QCheckBox>(second, "shiftCheck")->isChecked());
        QCOMPARE(second->draft(), DockItemDraft(w.store.items()[1]));

        // Saving an edit replaces the shortcut in place.
        typeInto(child<QLineEdit>(second, "nameField"), u"Flow"_s);
        click(child<QPushButton>(second, "saveButton"));
        QTRY_VERIFY(!w.view.editor());
        QCOMPARE(w.store.items().size(), 3);
        QCOMPARE(w.store.items()[1].name, u"Flow"_s);
        QCOMPARE(w.store.items()[1].id, DockStore::builtInSamples()[1].id);
    }

    void restoreSamplesReplacesItemsKeepsTiming() {
        // What a restore keeps and removes is the store's to test; here the button reaches it.
        Window w;
        w.store.deleteItem(w.store.items().first());
        QVERIFY(shown(w.view));
        click(child<QToolButton>(&w.view, "restoreSamplesButton"));
        QCOMPARE(w.store.items(), DockStore::builtInSamples());
        QCOMPARE(w.view.rows().size(), 3);
    }

    void failedSaveIsShownUntilASaveSucceeds() {
        Window w;
        QVERIFY(shown(w.view));
        auto* banner = child<SaveFailureBanner>(&w.view, "saveFailureBanner");
        QVERIFY(!banner->isVisible());

        const QString folder = w.store.applicationFolderPath();
        QVERIFY(blockFolder(folder));
        clickRowButton(w.view, 0, "deleteButton");
        QCOMPARE(w.view.rows().size(), 2);
        QVERIFY(banner->isVisible());
        QCOMPARE(banner->text(), *w.store.saveFailureMessage());
        QVERIFY(banner->text().contains(folder));

        QVERIFY(QFile::remove(folder));
        clickRowButton(w.view, 0, "deleteButton");
        QVERIFY(!banner->isVisible());
        QCOMPARE(w.reread().items().size(), 1);
    }

    void typedValuesAreClampedThroughTheStore() {
        Fixture f;
        f.store.deleteItem(f.store.items().first());
        const QList<DockItem> items = f.store.items();
        TimingControls controls(f.store);
        QVERIFY(shown(controls));
        QLineEdit* focus = controls.rows()[0]->valueField();
        commit(focus, u"5000"_s);
        QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 2000);
        QCOMPARE(focus->text(), u"2,000"_s);
        QCOMPARE(storedTiming(f.store).value(u"focusDelayMilliseconds"_s).toInt(), 2000);
        commit(focus, u"1,234"_s);
        QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 1234);

        // Text that is no whole number leaves the value, and the file, alone.
        const QByteArray configBefore = readAll(f.store.configFilePath());
        for (const QString& text : {u"abc"_s, u"12.5"_s, u"99999999999999999999"_s}) {
            commit(focus, text);
            QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 1234);
            QCOMPARE(focus->text(), u"1,234"_s);
        }
        QCOMPARE(readAll(f.store.configFilePath()), configBefore);

        // The stepper stops at the bound, and the button with it.
        TimingControlRow* typing = controls.rows()[2];
        commit(typing->valueField(), u"119"_s);
        click(typing->incrementButton());
        QCOMPARE(f.store.launcherTiming().typingCharacterDelayMilliseconds, 120);
        QVERIFY(!typing->incrementButton()->isEnabled());
        // Other rows are not disturbed by the clamp of one.
        QCOMPARE(focus->text(), u"1,234"_s);

        // The grouping follows the user's locale, for reading too.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TimingControls german(f.store);
        commit(german.rows()[0]->valueField(), u"1.200"_s);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(f.store.launcherTiming().focusDelayMilliseconds, 1200);

        QCOMPARE(controls.adaptiveWaitsBox()->text(), u"Wait only as long as Figma needs"_s);
        click(controls.adaptiveWaitsBox());
        QCOMPARE(storedTiming(f.store).value(u"adaptiveWaits"_s), QJsonValue(false));
        {
            DockStore reread = f.reread();
            QVERIFY(!reread.launcherTiming().adaptiveWaits);
            QVERIFY(!TimingControls(reread).adaptiveWaitsBox()->isChecked());
        }

        click(controls.restoreDefaultsButton());
        QCOMPARE(storedTiming(f.store), LauncherTimingSettings::defaults.toJson());
        QCOMPARE(controls.rows()[0]->valueField()->text(), u"180"_s);
        QVERIFY(controls.adaptiveWaitsBox()->isChecked());
        QCOMPARE(f.store.items(), items);
    }
};

QTEST_MAIN(SettingsTests)
#include "tst_settings.moc"

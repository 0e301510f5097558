#include "../TestImages.h"
#include "../model/StoreFiles.h"
#include "ui/dock/DockIconContent.h"
#include "ui/settings/ItemEditorView.h"
#include "ui/settings/SaveFailureBanner.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SymbolPicker.h"
#include "ui/settings/TimingControlRow.h"

#include <QCheckBox>
#include <QComboBox>
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

template <typename T = QAbstractButton> T* child(const QObject* parent, const char* name) {
    return parent->findChild<T*>(QLatin1String(name));
}

bool shown(QWidget& widget) {
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

void click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}
void click(const QObject* parent, const char* name) {
    click(child(parent, name));
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

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}
void typeInto(const QObject* parent, const char* name, const QString& text) {
    typeInto(child<QLineEdit>(parent, name), text);
}

void commit(QLineEdit* field, const QString& text) {
    typeInto(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

ItemEditorView* openedEditor(SettingsView& view) {
    ItemEditorView* editor = view.editor();
    return editor && QTest::qWaitForWindowExposed(editor) ? editor : nullptr;
}

DockIconContent* preview(const ItemEditorView& editor) {
    return child<DockIconContent>(child<QWidget>(&editor, "preview"), "iconContent");
}

SymbolPicker* openedPicker(ItemEditorView& editor) {
    editor.openSymbolPicker();
    SymbolPicker* picker = editor.symbolPicker();
    return picker && QTest::qWaitForWindowExposed(picker) ? picker : nullptr;
}

} // namespace

class SettingsTests : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void editorSavesValidDraftsKeepsModifierOrderAndBothIconSources() {
        QList<DockItemDraft> saved;
        ItemEditorView editor(u"Add Shortcut"_s, DockItemDraft(),
                              [&saved](const DockItemDraft& draft) { saved.append(draft); });
        // Laid out, so that a click lands on a check box's label as a pointer would.
        QVERIFY(shown(editor));
        auto* save = child(&editor, "saveButton");
        auto* name = child<QLineEdit>(&editor, "nameField");
        auto* plugin = child<QLineEdit>(&editor, "pluginField");
        auto* command = child(&editor, "commandCheck");
        QVERIFY(command->isChecked() && child(&editor, "optionCheck")->isChecked());
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
        typeInto(name, u" R "_s);

        click(command);
        QCOMPARE(editor.draft().hotkey.modifiers, QList<KeyModifier>{KeyModifier::alternate});
        QVERIFY(save->isEnabled());
        click(command);
        QCOMPARE(editor.draft().hotkey.modifiers,
                 (QList<KeyModifier>{KeyModifier::alternate, KeyModifier::primary}));
        // The display sorts the modifiers itself.
        QCOMPARE(child<QLabel>(&editor, "currentShortcutLabel")->text(),
                 u"Current shortcut: "_s + commandOption1);
        click(&editor, "controlCheck");
        QCOMPARE(editor.draft().hotkey.modifiers.last(), KeyModifier::system);
        // Without modifiers the hotkey cannot be registered.
        for (const char* box : {"commandCheck", "optionCheck", "controlCheck"})
            click(&editor, box);
        QVERIFY(!save->isEnabled());
        click(&editor, "shiftCheck");
        QTest::keyClick(plugin, Qt::Key_Return);
        QCOMPARE(saved.size(), 1);
        // Typed text is kept as typed; trimming is the store's business.
        QCOMPARE(saved.first().name, u" R "_s);
        QCOMPARE(saved.first().hotkey.modifiers, QList<KeyModifier>{KeyModifier::shift});
        QVERIFY(!editor.isVisible());
        QCOMPARE(editor.result(), int(QDialog::Accepted));

        // A hand-edited draft: a key outside the list shows no selection, yet counts once
        // upper-cased; switching a modifier off removes every occurrence of it.
        DockItemDraft edited;
        edited.name = u"Hand edited"_s;
        edited.pluginName = u"Plugin"_s;
        edited.hotkey = {
            u"k"_s,
            {KeyModifier::shift, KeyModifier::primary, KeyModifier::shift, KeyModifier::alternate}};
        ItemEditorView second(u"Edit Shortcut"_s, edited, {});
        QVERIFY(shown(second));
        auto* keys = child<QComboBox>(&second, "keyPicker");
        QCOMPARE(keys->currentIndex(), -1);
        QVERIFY(child(&second, "saveButton")->isEnabled());
        click(&second, "shiftCheck");
        QCOMPARE(second.draft().hotkey.modifiers,
                 (QList<KeyModifier>{KeyModifier::primary, KeyModifier::alternate}));
        keys->setFocus();
        QTest::keyClick(keys, Qt::Key_End);
        QCOMPARE(second.draft().hotkey.key, u"Z"_s);

        // The image and the symbol source each keep their value while the other is chosen.
        QTemporaryDir dir;
        const QString picture = writeImage(dir.filePath(u"Photo.png"_s));
        DockItemDraft draft;
        draft.icon = u"star"_s;
        ItemEditorView chooser(u"Add Shortcut"_s, draft, {});
        QVERIFY(!child<QWidget>(&chooser, "imageChooserRow")->isVisibleTo(&chooser));
        // A cancelled file dialog changes nothing.
        chooser.setImageChooser([](QWidget*) { return std::nullopt; });
        click(&chooser, "chooseImageButton");
        QCOMPARE(chooser.draft(), draft);
        chooser.setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
        click(&chooser, "chooseImageButton");
        QCOMPARE(chooser.draft().iconSource, DockIconSource::customImage);
        QCOMPARE(chooser.draft().customIconPath, std::optional<QString>(picture));
        QVERIFY(child(&chooser, "imageSourceButton")->isChecked());
        QVERIFY(child<QWidget>(&chooser, "imageChooserRow")->isVisibleTo(&chooser));
        QVERIFY(child(&chooser, "clearImageButton")->isVisibleTo(&chooser));
        QCOMPARE(preview(chooser)->customIconPath(), std::optional<QString>(picture));
        QVERIFY(preview(chooser)->loadCustomImage());

        // Opened on that draft, an editor shows the image; switching keeps both values.
        ItemEditorView reopened(u"Edit Shortcut"_s, chooser.draft(), {});
        DockIconContent* icon = preview(reopened);
        QCOMPARE(icon->customIconPath(), std::optional<QString>(picture));
        click(&reopened, "symbolSourceButton");
        QCOMPARE(reopened.draft().iconSource, DockIconSource::systemSymbol);
        QCOMPARE(reopened.draft().customIconPath, std::optional<QString>(picture));
        QCOMPARE(reopened.draft().icon, u"star"_s);
        // With the symbol selected the preview never shows the recorded image.
        QVERIFY(!icon->customIconPath());
        QVERIFY(!icon->loadCustomImage());
        QVERIFY(!child<QWidget>(&reopened, "imageChooserRow")->isVisibleTo(&reopened));

        typeInto(&reopened, "symbolField", u" heart "_s);
        QCOMPARE(icon->effectiveSymbolName(), u"heart"_s);

        click(&reopened, "imageSourceButton");
        QCOMPARE(icon->customIconPath(), std::optional<QString>(picture));
        QCOMPARE(child<QLabel>(&reopened, "imageNameLabel")->text(), u"Photo.png"_s);
    }

    void symbolPickerSearchesAndFillsTheFieldByMouseOrKeyboard() {
        DockItemDraft draft;
        draft.icon = u"heart"_s;
        ItemEditorView editor(u"Edit Shortcut"_s, draft, {});
        QVERIFY(shown(editor));
        auto* field = child<QLineEdit>(&editor, "symbolField");
        click(&editor, "chooseSymbolButton");
        SymbolPicker* picker = editor.symbolPicker();
        QVERIFY(picker && QTest::qWaitForWindowExposed(picker));
        QCOMPARE(picker->currentName(), u"heart"_s);

        // A plain word finds a symbol whose own name does not hold it.
        picker->searchField()->setText(u"lightning"_s);
        QVERIFY(picker->visibleNames().contains(u"bolt"_s));
        QVERIFY(picker->visibleNames().contains(u"bolt.fill"_s));
        QVERIFY(!picker->visibleNames().contains(u"heart"_s));
        // The highlight moves to the first match when its own symbol is filtered away.
        QCOMPARE(picker->currentName(), picker->visibleNames().first());

        // Full and partial names, words in any order, any case.
        picker->searchField()->setText(u"square.stack.3d.up.fill"_s);
        QCOMPARE(picker->visibleNames(), QStringList{u"square.stack.3d.up.fill"_s});
        picker->searchField()->setText(u"Stack Square"_s);
        QVERIFY(picker->visibleNames().contains(u"square.stack.3d.up"_s));
        for (const QString& name : picker->visibleNames())
            QVERIFY2(name.contains(u"stack"_s) && name.contains(u"square"_s), qPrintable(name));
        picker->searchField()->setText(u"gear"_s);
        QVERIFY(picker->visibleNames().contains(u"gearshape"_s));

        picker->searchField()->setText(u"nothing-like-this"_s);
        QVERIFY(picker->visibleNames().isEmpty());
        QCOMPARE(picker->currentName(), QString());
        QCOMPARE(child<QLabel>(picker, "symbolNameLabel")->text(), u"No matching symbols"_s);
        QVERIFY(!child(picker, "chooseButton")->isEnabled());

        picker->searchField()->clear();
        QCOMPARE(picker->visibleNames().size(), SymbolPicker::offeredNames().size());

        // A click on a cell chooses it and closes the picker.
        picker->searchField()->setText(u"bolt"_s);
        QListWidget* grid = picker->grid();
        QListWidgetItem* bolt = nullptr;
        for (int i = 0; i < grid->count(); ++i)
            bolt = grid->item(i)->toolTip() == u"bolt.fill"_s ? grid->item(i) : bolt;
        QVERIFY(bolt && !bolt->isHidden());
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualItemRect(bolt).center());
        QTRY_VERIFY(!editor.symbolPicker());
        QCOMPARE(field->text(), u"bolt.fill"_s);
        QCOMPARE(editor.draft().icon, u"bolt.fill"_s);
        QCOMPARE(preview(editor)->effectiveSymbolName(), u"bolt.fill"_s);

        // Cancel leaves the field as it was; a typed name still counts.
        QVERIFY((picker = openedPicker(editor)));
        QCOMPARE(picker->currentName(), u"bolt.fill"_s);
        click(picker, "cancelButton");
        QTRY_VERIFY(!editor.symbolPicker());
        QCOMPARE(editor.draft().icon, u"bolt.fill"_s);
        typeInto(field, u"star.fill"_s);
        QCOMPARE(editor.draft().icon, u"star.fill"_s);

        QVERIFY((picker = openedPicker(editor)));
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
            SymbolPicker* opened = openedPicker(editor);
            QVERIFY(opened);
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

    void editorsSaveOnlyOnSaveAndEachStartsFromTheStore() {
        Fixture f;
        SettingsView view(f.store);
        const QString picture = writeImage(f.dir.filePath(u"Photo.PNG"_s));
        const QList<DockItem> before = f.store.items();
        const QByteArray configBefore = readAll(f.store.configFilePath());
        QVERIFY(!configBefore.isEmpty());
        QVERIFY(shown(view));

        QUuid firstContext;
        for (const bool editing : {false, true}) {
            editing ? click(view.rows().at(1), "editButton") : view.addShortcut();
            ItemEditorView* editor = openedEditor(view);
            QVERIFY(editor);
            if (editing) {
                firstContext = view.editorContext()->id;
                QCOMPARE(child<QLineEdit>(editor, "nameField")->text(), u"Autoflow"_s);
                QCOMPARE(editor->draft().id, std::optional<QUuid>(f.store.items()[1].id));
            }
            typeInto(editor, "nameField", u"Changed"_s);
            typeInto(editor, "pluginField", u"Changed"_s);
            click(editor, "shiftCheck");
            editor->setImageChooser(
                [&picture](QWidget*) { return std::optional<QString>(picture); });
            click(editor, "chooseImageButton");
            click(editor, "cancelButton");
            QTRY_VERIFY(!view.editor());
            QVERIFY(!view.editorContext());
        }
        QCOMPARE(f.store.items(), before);
        QCOMPARE(readAll(f.store.configFilePath()), configBefore);
        QVERIFY(!QFileInfo::exists(f.store.iconsFolderPath()));

        click(view.rows().at(1), "editButton");
        ItemEditorView* second = openedEditor(view);
        QVERIFY(second);
        QVERIFY(view.editorContext()->id != firstContext);
        QCOMPARE(child<QLineEdit>(second, "nameField")->text(), u"Autoflow"_s);
        QVERIFY(!child(second, "shiftCheck")->isChecked());
        QCOMPARE(second->draft(), DockItemDraft(f.store.items()[1]));

        typeInto(second, "nameField", u"Flow"_s);
        click(second, "saveButton");
        QTRY_VERIFY(!view.editor());
        QCOMPARE(f.store.items().size(), 3);
        QCOMPARE(f.store.items()[1].name, u"Flow"_s);
        QCOMPARE(f.store.items()[1].id, DockStore::builtInSamples()[1].id);

        // Adding stores a trimmed shortcut and a copy of its image, and shows its row.
        click(&view, "addShortcutButton");
        ItemEditorView* editor = openedEditor(view);
        QVERIFY(editor);
        typeInto(editor, "nameField", u"  Rename  "_s);
        typeInto(editor, "pluginField", u" Rename It"_s);
        editor->setImageChooser([&picture](QWidget*) { return std::optional<QString>(picture); });
        click(editor, "chooseImageButton");
        click(editor, "saveButton");
        QTRY_VERIFY(!view.editor());
        QVERIFY(!view.editorContext());
        QCOMPARE(f.store.items().size(), 4);
        const DockItem added = f.store.items().last();
        QCOMPARE(added.name, u"Rename"_s);
        QCOMPARE(added.pluginName, u"Rename It"_s);
        QCOMPARE(QDir(f.store.iconsFolderPath()).entryList(QDir::Files),
                 QStringList{uuidString(added.id) + u".png"_s});
        QCOMPARE(view.rows().size(), 4);
        QCOMPARE(child<QLabel>(view.rows().last(), "nameLabel")->text(), u"Rename"_s);
        QVERIFY(QFile::exists(picture));
    }

    void windowShowsTheStoreItsFailuresAndTimingAndOpensItsFolder() {
        Fixture f;
        DockItem blank = DockStore::builtInSamples().first();
        blank.id = QUuid::createUuid();
        blank.icon = u" \t"_s;
        blank.customIconPath = f.dir.filePath(u"gone.png"_s);
        f.store.upsert(blank);
        SettingsView view(f.store);
        QVERIFY(shown(view));
        const QList<ShortcutRow*> rows = view.rows();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(child<QLabel>(rows[0], "nameLabel")->text(), u"Content Reel"_s);
        QCOMPARE(child<QLabel>(rows[0], "hotkeyLabel")->text(), commandOption1);
        QCOMPARE(child<DockIconContent>(rows[2], "iconContent")->effectiveSymbolName(),
                 u"photo.stack"_s);
        auto* fallback = child<DockIconContent>(rows[3], "iconContent");
        QCOMPARE(fallback->effectiveSymbolName(), u"square.grid.2x2"_s);
        QVERIFY(!fallback->loadCustomImage());

        auto* banner = child<SaveFailureBanner>(&view, "saveFailureBanner");
        QVERIFY(!banner->isVisible());
        const QString folder = f.store.applicationFolderPath();
        QVERIFY(blockFolder(folder));
        click(rows.at(0), "deleteButton");
        QCOMPARE(view.rows().size(), 3);
        QCOMPARE(child<QLabel>(view.rows()[0], "nameLabel")->text(), u"Autoflow"_s);
        QVERIFY(banner->isVisible());
        QCOMPARE(banner->text(), *f.store.saveFailureMessage());
        QVERIFY(banner->text().contains(folder));

        QVERIFY(QFile::remove(folder));
        click(view.rows().at(0), "deleteButton");
        QVERIFY(!banner->isVisible());
        QCOMPARE(f.reread().items().size(), 2);

        // What a restore keeps and removes is the store's to test; here the button reaches it.
        click(&view, "restoreSamplesButton");
        QCOMPARE(f.store.items(), DockStore::builtInSamples());
        QCOMPARE(view.rows().size(), 3);

        // The folder is made first when no save has made it yet.
        QStringList opened;
        view.setFolderOpener([&opened](const QString& path) {
            opened.append(path);
            return true;
        });
        QDir(folder).removeRecursively();
        click(&view, "openFolderButton");
        QCOMPARE(opened, QStringList{folder});
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(QFileInfo(f.store.configFilePath()).absolutePath(), folder);

        // Typed timing values are clamped through the store.
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

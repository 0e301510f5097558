#pragma once

#include "launch/FigmaTarget.h"
#include "model/DockItem.h"

#include <QPointer>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolBar;
class QToolButton;
class QVBoxLayout;

namespace brevlin {

class DockStore;
class ItemEditorView;
class TimingControls;

// What the open item editor was started from. Every opening gets a new id, so it is a new sheet
// with fresh state, even for the same shortcut.
struct EditorContext {
    QUuid id;
    QString title;
    DockItemDraft draft;
};

// One shortcut in the settings list: icon tile, name and plugin name, hotkey, Edit and Delete.
class ShortcutRow : public QWidget {
    Q_OBJECT
public:
    ShortcutRow(const DockItem& item, QWidget* parent = nullptr);

    const DockItem& item() const { return m_item; }

signals:
    void editRequested(const DockItem& item);
    void deleteRequested(const DockItem& item);

private:
    DockItem m_item;
};

// What the settings window asks of the desktop beyond the store. Any of them may be left empty.
struct DesktopServices {
    // What is installed of Figma, in the order a launch prefers it.
    std::function<QList<FigmaTarget>()> findFigmaTargets;
    // "Start Brevlin at login": whether it is on, and turning it on or off (false on failure).
    std::function<bool()> startsAtLogin;
    std::function<bool(bool)> setStartsAtLogin;
};

// The content of the settings window: the shortcuts of the store with Edit and Delete, the launch
// timing, and a toolbar to add a shortcut or restore the samples. Every action calls one store
// operation, which applies and saves it at once; the view keeps no copy of the shortcuts.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumWindowWidth = 760;
    static constexpr int minimumWindowHeight = 500;

    // Shows a folder in the desktop's file manager.
    using FolderOpener = std::function<bool(const QString& path)>;

    explicit SettingsView(DockStore& store, QWidget* parent = nullptr);

    // Present while the item editor is open.
    const std::optional<EditorContext>& editorContext() const { return m_editorContext; }
    ItemEditorView* editor() const;
    QList<ShortcutRow*> rows() const;

    // Toolbar actions and the rows' Edit, open the editor as a sheet of this window.
    void addShortcut();
    void editItem(const DockItem& item);

    // The footer's "Open Folder": the folder that holds config.json, in the file manager.
    void openConfigurationFolder();
    // Replaces the file manager (used where no person is there to look).
    void setFolderOpener(FolderOpener opener);
    // Fills the "Figma" row and the login check box, and reads both again whenever the window
    // is shown or activated: an entry may be installed, or an autostart entry made or deleted by
    // hand, while Brevlin runs.
    void setDesktopServices(DesktopServices services);
    void refreshDesktopState();
    // The Figma row's list, in the order shown; empty when nothing is installed.
    const QList<FigmaTarget>& figmaTargets() const { return m_figmaTargets; }
    static bool openFolderWithDesktop(const QString& path);

signals:
    // The editor sheet was opened; it is shown already.
    void editorOpened(ItemEditorView* editor);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void rebuildRows();
    void applyPaletteColours();
    void openEditor(EditorContext context);

    DockStore& m_store;
    FolderOpener m_folderOpener;
    std::optional<EditorContext> m_editorContext;
    QPointer<ItemEditorView> m_editor;
    QAction* m_addAction = nullptr;
    QPushButton* m_openFolderButton = nullptr;
    QWidget* m_itemsCard = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    DesktopServices m_desktop;
    QList<FigmaTarget> m_figmaTargets;
    QComboBox* m_figmaTargetBox = nullptr;
    QLabel* m_figmaMissingLabel = nullptr;
    QCheckBox* m_startAtLoginBox = nullptr;
};

} // namespace brevlin

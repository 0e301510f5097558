#pragma once

#include "SymbolPicker.h"
#include "model/DockItem.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brevlin {

class AccentIconTile;
class DockIconContent;
class MiddleElidedLabel;

// The sheet in which one shortcut is created or changed. It edits its own copy of the shortcut
// and hands that copy to `onSave` only when Save is pressed; it never touches the store, and a
// chosen image is only recorded by path (the store copies it when the draft is saved).
class ItemEditorView : public QDialog {
    Q_OBJECT
public:
    using SaveAction = std::function<void(const DockItemDraft&)>;
    // Asks the user for one image file; nothing when they cancel.
    using ImageChooser = std::function<std::optional<QString>(QWidget* parent)>;

    static constexpr int minimumWindowWidth = 520;
    static constexpr int minimumWindowHeight = 430;

    ItemEditorView(QString title, DockItemDraft draft, SaveAction onSave,
                   QWidget* parent = nullptr);

    const DockItemDraft& draft() const { return m_draft; }

    // "Choose Symbol...": the grid of symbols, opened over the editor; a choice fills the field.
    void openSymbolPicker();
    // The open picker, if any.
    SymbolPicker* symbolPicker() const { return m_symbolPicker.data(); }

    // Replaces the file dialog behind "Choose Image..." (used where no person is there to answer).
    void setImageChooser(ImageChooser chooser);

    // A modal open-file dialog for one existing image file of any format Qt can read.
    static std::optional<QString> chooseImageFile(QWidget* parent);
    // "Image files (*.png *.jpg …)" over every image type Qt's readers decode.
    static QString imageFileFilter();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildForm(QWidget* form);
    void chooseImage();
    void setModifier(KeyModifier modifier, bool on);
    void refresh();

    DockItemDraft m_draft;
    SaveAction m_onSave;
    ImageChooser m_imageChooser;

    QLineEdit* m_nameField = nullptr;
    QLineEdit* m_pluginField = nullptr;
    QFormLayout* m_form = nullptr;
    QPushButton* m_symbolSourceButton = nullptr;
    QPushButton* m_imageSourceButton = nullptr;
    QLabel* m_symbolFieldLabel = nullptr;
    QLineEdit* m_symbolField = nullptr;
    QPointer<SymbolPicker> m_symbolPicker;
    QWidget* m_imageChooserRow = nullptr;
    QLabel* m_imageNameLabel = nullptr;
    MiddleElidedLabel* m_imagePathLabel = nullptr;
    QPushButton* m_clearImageButton = nullptr;
    QLabel* m_imageNote = nullptr;
    AccentIconTile* m_preview = nullptr;
    QComboBox* m_keyPicker = nullptr;
    QList<QCheckBox*> m_modifierBoxes;
    QLabel* m_currentShortcut = nullptr;
    QPushButton* m_saveButton = nullptr;
};

} // namespace brevlin

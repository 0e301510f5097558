#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace brevlin {

// A searchable grid of every symbol the icon table can draw, each in its line and its filled
// form, so that nobody has to know names like "square.stack.3d.up.fill". Typing filters the grid;
// the arrow keys move through it from the search field as well as from the grid; Return or a
// click chooses.
class SymbolPicker : public QDialog {
    Q_OBJECT
public:
    explicit SymbolPicker(const QString& currentName, QWidget* parent = nullptr);

    // Every name the grid offers, in table order, each base name followed by its ".fill" form.
    static QStringList offeredNames();
    // Whether a search text finds a symbol: every word of the text starts a word of the symbol's
    // name or of the icon set's name for it ("lightning" finds "bolt"), or is part of the name.
    static bool matches(const QString& symbolName, const QString& searchText);

    // The name chosen, once the dialog was accepted.
    QString chosenName() const { return m_chosen; }
    // The names the grid shows now, in order.
    QStringList visibleNames() const;
    // The highlighted name, or an empty string when nothing matches.
    QString currentName() const;

    QLineEdit* searchField() const { return m_search; }
    QListWidget* grid() const { return m_grid; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyFilter(const QString& text);
    void showCurrent();
    void choose(QListWidgetItem* item);

    QLineEdit* m_search;
    QListWidget* m_grid;
    QLabel* m_nameLabel;
    QPushButton* m_chooseButton;
    QString m_chosen;
};

} // namespace brevlin

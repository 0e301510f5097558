#pragma once

#include "model/DockItem.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace brevlin {

class DockStore;

// One launch delay: title, a line explaining it, the value in milliseconds as a whole number in
// the user's locale, and a stepper. The row keeps no value of its own: it shows what the store
// holds and writes every accepted change through the store, which clamps it to its range.
class TimingControlRow : public QWidget {
    Q_OBJECT
public:
    static constexpr int valueFieldWidth = 78;

    TimingControlRow(QString title, QString subtitle, TimingField field, qint64 minimum,
                     qint64 maximum, qint64 step, DockStore& store, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    TimingField field() const { return m_field; }
    qint64 minimum() const { return m_minimum; }
    qint64 maximum() const { return m_maximum; }
    qint64 step() const { return m_step; }
    // The value as stored.
    qint64 value() const;

    QLineEdit* valueField() const { return m_valueField; }
    QToolButton* incrementButton() const { return m_increment; }
    QToolButton* decrementButton() const { return m_decrement; }

private:
    void refresh();
    void commitText();
    void stepBy(int direction);

    QString m_title;
    TimingField m_field;
    qint64 m_minimum;
    qint64 m_maximum;
    qint64 m_step;
    DockStore& m_store;
    QLineEdit* m_valueField;
    QToolButton* m_increment;
    QToolButton* m_decrement;
};

// The content of the launcher timing section: the four delay rows, whether the waits end as soon
// as Figma is ready, and "Restore Default Timing".
class TimingControls : public QWidget {
    Q_OBJECT
public:
    explicit TimingControls(DockStore& store, QWidget* parent = nullptr);

    const QList<TimingControlRow*>& rows() const { return m_rows; }
    QCheckBox* adaptiveWaitsBox() const { return m_adaptiveWaits; }
    QPushButton* restoreDefaultsButton() const { return m_restoreDefaults; }

private:
    QList<TimingControlRow*> m_rows;
    QCheckBox* m_adaptiveWaits;
    QPushButton* m_restoreDefaults;
};

} // namespace brevlin

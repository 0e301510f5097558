#include "TimingControlRow.h"

#include "SettingsStyle.h"
#include "model/DockStore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brevlin {

namespace {

QToolButton* makeStepButton(Qt::ArrowType arrow, const QString& objectName,
                            const QString& accessibleName, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAccessibleName(accessibleName);
    button->setArrowType(arrow);
    button->setFixedSize(20, 13);
    // Held down, the stepper keeps stepping; each step is its own change.
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

TimingControlRow::TimingControlRow(QString title, QString subtitle, TimingField field,
                                   qint64 minimum, qint64 maximum, qint64 step, DockStore& store,
                                   QWidget* parent)
    : QWidget(parent)
    , m_title(std::move(title))
    , m_field(field)
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_step(step)
    , m_store(store)
    , m_valueField(new QLineEdit(this))
    , m_increment(
          makeStepButton(Qt::UpArrow, QStringLiteral("stepUp"), QStringLiteral("Increment"), this))
    , m_decrement(makeStepButton(Qt::DownArrow, QStringLiteral("stepDown"),
                                 QStringLiteral("Decrement"), this)) {
    setObjectName(QStringLiteral("timingRow:") + timingFieldKey(field));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(8);

    auto* titleLabel = new QLabel(m_title, this);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = titleLabel->font();
    titleFont.setWeight(QFont::Medium);
    titleLabel->setFont(titleFont);
    column->addWidget(titleLabel);

    auto* subtitleLabel = new QLabel(subtitle, this);
    subtitleLabel->setObjectName(QStringLiteral("subtitleLabel"));
    subtitleLabel->setFont(captionFont());
    makeSecondary(subtitleLabel);
    column->addWidget(subtitleLabel);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(10);
    m_valueField->setObjectName(QStringLiteral("valueField"));
    m_valueField->setAccessibleName(m_title);
    m_valueField->setFixedWidth(valueFieldWidth);
    controls->addWidget(m_valueField, 0, Qt::AlignVCenter);
    auto* unit = new QLabel(QStringLiteral("ms"), this);
    makeSecondary(unit);
    controls->addWidget(unit, 0, Qt::AlignVCenter);
    controls->addStretch(1);
    auto* stepper = new QVBoxLayout;
    stepper->setSpacing(0);
    stepper->addWidget(m_increment);
    stepper->addWidget(m_decrement);
    controls->addLayout(stepper);
    column->addLayout(controls);

    connect(m_valueField, &QLineEdit::editingFinished, this, &TimingControlRow::commitText);
    connect(m_increment, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_decrement, &QToolButton::clicked, this, [this] { stepBy(-1); });
    connect(&m_store, &DockStore::launcherTimingChanged, this, &TimingControlRow::refresh);
    refresh();
}

qint64 TimingControlRow::value() const {
    return m_store.launcherTiming().value(m_field);
}

void TimingControlRow::refresh() {
    const qint64 current = value();
    // A change elsewhere (another row, the stepper) leaves text being typed here alone.
    if (!m_valueField->isModified()) {
        m_valueField->setText(QLocale().toString(current));
    }
    m_increment->setEnabled(current < m_maximum);
    m_decrement->setEnabled(current > m_minimum);
}

void TimingControlRow::commitText() {
    // Leaving the field without typing is not a change.
    if (!m_valueField->isModified()) {
        return;
    }
    bool ok = false;
    const qint64 typed = QLocale().toLongLong(m_valueField->text().trimmed(), &ok);
    m_valueField->setModified(false);
    if (ok) {
        m_store.setTimingValue(m_field, typed);
    }
    // Shows the stored value: the clamped one, or the old one when the text was not a number.
    refresh();
}

void TimingControlRow::stepBy(int direction) {
    // The stepper steps from the stored value; text typed but not committed gives way to it.
    m_valueField->setModified(false);
    const qint64 current = value();
    const qint64 next = direction > 0 ? std::min(current + m_step, m_maximum)
                                      : std::max(current - m_step, m_minimum);
    if (next != current) {
        m_store.setTimingValue(m_field, next);
    }
    refresh();
}

TimingControls::TimingControls(DockStore& store, QWidget* parent)
    : QWidget(parent)
    , m_adaptiveWaits(new QCheckBox(QStringLiteral("Wait only as long as Figma needs"), this))
    , m_restoreDefaults(new QPushButton(QStringLiteral("Restore Default Timing"), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    struct RowSpec {
        const char* title;
        const char* subtitle;
        TimingField field;
        qint64 step;
    };
    static constexpr RowSpec specs[] = {
        {"Focus Figma", "Wait after bringing Figma forward before opening Actions.",
         TimingField::focusDelayMilliseconds, 10},
        {"Actions Open", "Wait after pressing Ctrl+K before searching.",
         TimingField::actionsOpenDelayMilliseconds, 10},
        {"Typing Speed", "Delay between typed characters when entering the plugin name.",
         TimingField::typingCharacterDelayMilliseconds, 2},
        {"Post Search", "Wait after entering the plugin name before selecting the result.",
         TimingField::postSearchDelayMilliseconds, 10},
    };
    for (const RowSpec& entry : specs) {
        auto* row = new TimingControlRow(
            QString::fromUtf8(entry.title), QString::fromUtf8(entry.subtitle), entry.field, 0,
            LauncherTimingSettings::maximum(entry.field), entry.step, store, this);
        m_rows.append(row);
        layout->addWidget(row);
    }

    m_adaptiveWaits->setObjectName(QStringLiteral("adaptiveWaitsBox"));
    m_adaptiveWaits->setToolTip(
        QStringLiteral("End each wait as soon as Figma is ready; the delays above are the longest "
                       "it lasts."));
    const auto showAdaptiveWaits = [this, &store] {
        m_adaptiveWaits->setChecked(store.launcherTiming().adaptiveWaits);
    };
    showAdaptiveWaits();
    // Only a click is a change: the store's own updates set the box without writing it back.
    connect(m_adaptiveWaits, &QCheckBox::clicked, &store, &DockStore::setAdaptiveWaits);
    connect(&store, &DockStore::launcherTimingChanged, m_adaptiveWaits, showAdaptiveWaits);
    layout->addWidget(m_adaptiveWaits);

    m_restoreDefaults->setObjectName(QStringLiteral("restoreTimingButton"));
    m_restoreDefaults->setAutoDefault(false);
    connect(m_restoreDefaults, &QPushButton::clicked, &store, &DockStore::resetLauncherTiming);
    layout->addWidget(m_restoreDefaults, 0, Qt::AlignLeft);
}

} // namespace brevlin

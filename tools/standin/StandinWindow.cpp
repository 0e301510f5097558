#include "StandinWindow.h"

#include "HostileAccessibility.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDeadlineTimer>
#include <QFile>
#include <QGridLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace brevlin::standin {

namespace {

const QStringList assetNames = {"Button", "Card", "Avatar", "Icon Set"};

QJsonArray modifierNames(Qt::KeyboardModifiers modifiers) {
    QJsonArray names;
    if (modifiers & Qt::ControlModifier)
        names.append("ctrl");
    if (modifiers & Qt::AltModifier)
        names.append("alt");
    if (modifiers & Qt::ShiftModifier)
        names.append("shift");
    if (modifiers & Qt::MetaModifier)
        names.append("meta");
    return names;
}

constexpr Qt::KeyboardModifiers relevantModifiers =
    Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;

} // namespace

StandinWindow::StandinWindow(const Options& options, QWidget* parent)
    : QWidget(parent)
    , m_options(options) {
    setWindowTitle("Stand-in Design");
    if (m_options.refuseActivation)
        setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    // The canvas must not take the keys meant for the window, yet the window needs a focus target
    // while the palette is closed.
    setFocusPolicy(Qt::StrongFocus);

    auto* outer = new QHBoxLayout(this);
    auto* canvas = new QLabel("Canvas");
    canvas->setMinimumSize(320, 240);
    outer->addWidget(canvas, 1);

    if (m_options.padding > 0) {
        // Named groups survive the collapsing of anonymous containers, so every one of them counts
        // as an element of the tree: groups of ten layers, eleven elements each.
        auto* layers = new QWidget;
        layers->setAccessibleName("Layers");
        auto* grid = new QGridLayout(layers);
        grid->setSpacing(0);
        grid->setContentsMargins(0, 0, 0, 0);
        const int groups = std::max(1, m_options.padding / 11);
        for (int g = 0; g < groups; ++g) {
            auto* group = new QWidget;
            group->setAccessibleName(QString("Layer group %1").arg(g + 1));
            auto* groupLayout = new QGridLayout(group);
            groupLayout->setSpacing(0);
            groupLayout->setContentsMargins(0, 0, 0, 0);
            for (int i = 0; i < 10; ++i) {
                auto* layer = new QLabel(".");
                layer->setAccessibleName(QString("Layer %1.%2").arg(g + 1).arg(i + 1));
                groupLayout->addWidget(layer, i / 5, i % 5);
            }
            grid->addWidget(group, g / 12, g % 12);
        }
        outer->addWidget(layers);
    }

    // Hostile parts, beside the canvas and before the palette, so a walk meets them first.
    if (m_options.ancestorLoop)
        outer->addWidget(createAncestorLoop());
    if (m_options.churningChildren)
        outer->addWidget(createChurningGroup());
    for (int i = 0; i < 4 && m_options.longNameCharacters > 0; ++i) {
        auto* label = new QLabel(".");
        // Accented, so matching cannot take the plain-ASCII shortcut.
        label->setAccessibleName(QString(m_options.longNameCharacters, QChar(0x00e9 + i)));
        outer->addWidget(label);
    }

    m_palette = new QWidget;
    m_palette->setAccessibleName("Actions");
    auto* paletteLayout = new QVBoxLayout(m_palette);
    m_tabs = new QTabBar;
    m_tabs->setFocusPolicy(Qt::NoFocus);
    m_tabNames = {"All", "Assets"};
    if (m_options.pluginsTab)
        m_tabNames.append("Plugins");
    for (const QString& name : m_tabNames)
        m_tabs->addTab(name);
    paletteLayout->addWidget(m_tabs);
    m_search = new QLineEdit;
    m_search->setPlaceholderText("Search actions and plugins");
    paletteLayout->addWidget(m_search);

    QWidget* resultsParent = m_palette;
    QVBoxLayout* resultsLayout = paletteLayout;
    for (int level = 0; level < m_options.nestDepth; ++level) {
        auto* group = new QWidget;
        group->setAccessibleName(QString("Result group %1").arg(level + 1));
        resultsLayout->addWidget(group);
        resultsLayout = new QVBoxLayout(group);
        resultsLayout->setContentsMargins(2, 2, 2, 2);
        resultsParent = group;
    }
    Q_UNUSED(resultsParent);

    auto addResult = [&](const QString& name, bool plugin) {
        QWidget* widget = nullptr;
        if (m_options.staticResults) {
            widget = new QLabel(name);
        } else {
            auto* button = new QPushButton(name);
            button->setFlat(true);
            button->setFocusPolicy(Qt::NoFocus);
            // Presses come from the accessibility press action (no one uses a mouse here). Qt
            // answers it with an animated click that emits `clicked` 100 ms later; the run starts
            // at the press, as it does in the real application.
            connect(button, &QPushButton::pressed, this,
                    [this, name] { runResult(name, "press"); });
            widget = button;
        }
        widget->setAutoFillBackground(true);
        resultsLayout->addWidget(widget);
        m_results.append({name, plugin, widget});
    };
    for (const QString& name : m_options.plugins)
        addResult(name.trimmed(), true);
    for (const QString& name : assetNames)
        addResult(name, false);
    paletteLayout->addStretch(1);
    outer->addWidget(m_palette);
    m_palette->hide();

    m_pendingOpen = new QTimer(this);
    m_pendingOpen->setSingleShot(true);
    connect(m_pendingOpen, &QTimer::timeout, this, &StandinWindow::openPaletteNow);

    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) {
        record({{"event", "tab"}, {"name", m_tabNames.value(index)}});
        applyFilter();
        if (isPaletteOpen())
            m_search->setFocus();
    });
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString& text) {
        record({{"event", "text"}, {"text", text}});
        applyFilter();
    });

    qApp->installEventFilter(this);
    applyFilter();
}

bool StandinWindow::isPaletteOpen() const {
    return m_palette->isVisible();
}

void StandinWindow::togglePalette() {
    if (isPaletteOpen()) {
        closePalette();
    } else if (m_pendingOpen->isActive()) {
        m_pendingOpen->stop();
    } else if (m_options.paletteDelayMilliseconds > 0) {
        m_pendingOpen->start(m_options.paletteDelayMilliseconds);
    } else {
        openPaletteNow();
    }
}

void StandinWindow::openPaletteNow() {
    m_highlighted = -1;
    if (m_options.clearSearchOnOpen)
        m_search->clear();
    m_palette->show();
    applyFilter();
    m_search->setFocus();
    record({{"event", "palette"}, {"open", true}});
}

void StandinWindow::closePalette() {
    m_pendingOpen->stop();
    if (!isPaletteOpen())
        return;
    m_palette->hide();
    setFocus();
    record({{"event", "palette"}, {"open", false}});
}

QList<int> StandinWindow::visibleResults() const {
    const QString tab = m_tabNames.value(m_tabs->currentIndex());
    const QString text = m_search->text().trimmed();
    QList<int> visible;
    for (int i = 0; i < m_results.size(); ++i) {
        const Result& r = m_results[i];
        if (tab == "Plugins" && !r.plugin)
            continue;
        if (tab == "Assets" && r.plugin)
            continue;
        if (!text.isEmpty() && !r.name.contains(text, Qt::CaseInsensitive))
            continue;
        visible.append(i);
    }
    return visible;
}

void StandinWindow::applyFilter() {
    const QList<int> visible = visibleResults();
    if (!visible.contains(m_highlighted))
        m_highlighted = -1;
    for (int i = 0; i < m_results.size(); ++i) {
        QWidget* w = m_results[i].widget;
        w->setVisible(visible.contains(i));
        w->setBackgroundRole(i == m_highlighted ? QPalette::Highlight : QPalette::Window);
    }
}

void StandinWindow::moveHighlight(int step) {
    const QList<int> visible = visibleResults();
    if (visible.isEmpty())
        return;
    int position = visible.indexOf(m_highlighted);
    if (position < 0)
        position = step > 0 ? 0 : int(visible.size()) - 1;
    else
        position = std::clamp(position + step, 0, int(visible.size()) - 1);
    m_highlighted = visible[position];
    applyFilter();
}

void StandinWindow::runResult(const QString& name, const QString& trigger) {
    record({{"event", "run"}, {"name", name}, {"trigger", trigger}});
    closePalette();
}

bool StandinWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        record({{"event", "active"}, {"value", event->type() == QEvent::WindowActivate}});
    return QWidget::event(event);
}

bool StandinWindow::eventFilter(QObject* watched, QEvent* event) {
    // A key event visits the window object first, then each widget up from the focus widget;
    // acting on the first widget that sees it handles each press once.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & relevantModifiers;
    record({{"event", "key"},
            {"key", QKeySequence(key->key()).toString()},
            {"text", key->text()},
            {"modifiers", modifierNames(modifiers)},
            {"keycode", qint64(key->nativeScanCode())}});

    if (key->key() == Qt::Key_K && modifiers == Qt::ControlModifier) {
        togglePalette();
        return true;
    }
    if (!isPaletteOpen())
        return false;
    switch (key->key()) {
    case Qt::Key_Down:
        moveHighlight(1);
        return true;
    case Qt::Key_Up:
        moveHighlight(-1);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        const QList<int> visible = visibleResults();
        const int index = m_highlighted >= 0 ? m_highlighted : visible.value(0, -1);
        if (index >= 0)
            runResult(m_results[index].name, "key");
        return true;
    }
    case Qt::Key_Escape:
        closePalette();
        return true;
    default:
        return false;
    }
}

void StandinWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_readyRecorded)
        return;
    m_readyRecorded = true;
    QTimer::singleShot(0, this, [this] {
        record({{"event", "ready"}, {"pid", QCoreApplication::applicationPid()}});
    });
}

void StandinWindow::record(QJsonObject entry) const {
    if (m_options.recordPath.isEmpty())
        return;
    QFile file(m_options.recordPath);
    if (!file.open(QIODevice::Append | QIODevice::WriteOnly))
        return;
    // The monotonic clock, shared by every process on the machine: benchmarks time steps by it.
    entry["ns"] = double(QDeadlineTimer::current().deadlineNSecs());
    file.write(QJsonDocument(entry).toJson(QJsonDocument::Compact));
    file.write("\n");
}

} // namespace brevlin::standin

// Shows the dock on the X server of the current desktop session in each state (the samples,
// empty with the add button, untrusted with the prompt, with the error marker, with the error
// marker and the warning of a failed save, many shortcuts scrolled, a shortcut's tooltip, a
// failure that stays while trusted with the marker's tooltip) over a light backdrop, and saves
// the screen around it as PNG files.

#include "launch/DockActionCoordinator.h"
#include "model/DockStore.h"
#include "platform/linux/DockWindowX11.h"
#include "support/SimulatedFigma.h"
#include "support/VirtualScheduler.h"
#include "ui/dock/DockRootView.h"
#include "ui/dock/DockWindow.h"
#include "ui/dock/UtilityIconButton.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <cstdio>
#include <functional>

using namespace brevlin;
using brevlin::testing::SimulatedFigma;
using brevlin::testing::VirtualScheduler;

namespace {

constexpr int margin = 24;
const QPoint dockPosition(60, 60);

// A light desktop for the dock to float over, so its translucency shows.
class Backdrop : public QWidget {
public:
    Backdrop()
        : QWidget(nullptr, Qt::FramelessWindowHint) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient fill(0, 0, width(), height());
        fill.setColorAt(0, QColor(0xdf, 0xe4, 0xee));
        fill.setColorAt(1, QColor(0xc4, 0xcd, 0xdc));
        painter.fillRect(rect(), fill);
    }
};

DockItem extraItem(int n) {
    static const char* symbols[] = {"star.fill", "bolt.fill",      "paintbrush.fill",
                                    "photo",     "text.alignleft", "wand.and.stars"};
    DockItem item;
    item.id = QUuid::createUuid();
    item.name = QStringLiteral("Plugin %1").arg(n);
    item.pluginName = item.name;
    item.icon = QString::fromLatin1(symbols[n % 6]);
    item.hotkey = Hotkey{QString::number(n % 10), {KeyModifier::primary}};
    return item;
}

struct Shot {
    const char* file;
    bool trusted;
    int width;
    std::function<void(DockStore&, DockActionCoordinator&, VirtualScheduler&, DockWindow&)> setUp;
    // Figma is not installed, for a failure that trust does not answer.
    bool figmaMissing = false;
    // Room below and to the right of the dock for a tooltip.
    int below = 0;
    int right = 0;
};

// The tooltip a user sees after resting the pointer on a button.
void showToolTipOf(QWidget* button) {
    QToolTip::showText(button->mapToGlobal(QPoint(button->width() / 2, button->height() + 8)),
                       button->toolTip(), button);
}

bool capture(const Shot& shot, const QString& folder) {
    QTemporaryDir data;
    VirtualScheduler scheduler;
    SimulatedFigma figma(scheduler);
    figma.tree.trusted = shot.trusted;
    if (shot.figmaMissing) {
        figma.running = false;
        figma.installed = false;
    }
    DockStore store(data.path(), [] { return std::nullopt; });
    DockActionCoordinator coordinator(figma.platform());
    DockWindow dock(store, coordinator, applyDockWindowHints);
    dock.setShapedToPanel(!hasCompositingManager());
    dock.resize(shot.width, DockWindow::fixedHeight);
    dock.move(dockPosition);
    dock.show();
    if (!QTest::qWaitForWindowExposed(&dock))
        return false;
    if (shot.setUp)
        shot.setUp(store, coordinator, scheduler, dock);
    QTest::qWait(400);
    const QRect area =
        dock.frameGeometry().adjusted(-margin, -margin, margin + shot.right, margin + shot.below);
    const QPixmap pixmap =
        dock.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QDir(folder).filePath(QString::fromLatin1(shot.file));
    const bool saved = pixmap.save(path);
    std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "could not write", qPrintable(path),
                pixmap.width(), pixmap.height());
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);

    Backdrop backdrop;
    backdrop.setGeometry(0, 0, 1280, 400);
    backdrop.show();
    if (!QTest::qWaitForWindowExposed(&backdrop))
        return 1;

    auto clear = [](DockStore& store) {
        const QList<DockItem> items = store.items();
        for (const DockItem& item : items)
            store.deleteItem(item);
    };
    const QList<Shot> shots = {
        {"dock-samples.png", true, 560, {}},
        {"dock-empty.png", true, 560,
         [&](DockStore& store, DockActionCoordinator&, VirtualScheduler&, DockWindow&) {
             clear(store);
         }},
        {"dock-untrusted.png", false, 560, {}},
        {"dock-error.png", false, 560,
         [](DockStore& store, DockActionCoordinator& coordinator, VirtualScheduler& scheduler,
            DockWindow&) {
             coordinator.startLaunch(store.items().first(), coordinator.launcherTiming);
             scheduler.runUntilIdle();
         }},
        {"dock-save-failed.png", false, 560,
         [](DockStore& store, DockActionCoordinator& coordinator, VirtualScheduler& scheduler,
            DockWindow&) {
             // A file where the application's folder must be: the save fails.
             const QString folder = store.applicationFolderPath();
             QDir(folder).removeRecursively();
             QFile(folder).open(QIODevice::WriteOnly);
             store.upsert(extraItem(0));
             coordinator.startLaunch(store.items().first(), coordinator.launcherTiming);
             scheduler.runUntilIdle();
         }},
        {"dock-scrolling.png", true, 560,
         [](DockStore& store, DockActionCoordinator&, VirtualScheduler&, DockWindow& dock) {
             for (int i = 0; i < 24; ++i)
                 store.upsert(extraItem(i));
             QApplication::processEvents();
             QScrollBar* bar = dock.rootView()->shortcutRow()->horizontalScrollBar();
             bar->setValue(bar->maximum() / 3);
         }},
        {"dock-hovered.png", true, 560,
         [](DockStore&, DockActionCoordinator&, VirtualScheduler&, DockWindow& dock) {
             UtilityIconButton* gear = dock.rootView()->settingsButton();
             QEnterEvent enter(QPointF(4, 4), QPointF(4, 4), gear->mapToGlobal(QPointF(4, 4)));
             QApplication::sendEvent(gear, &enter);
         }},
        {"dock-tooltip.png", true, 560,
         [](DockStore&, DockActionCoordinator&, VirtualScheduler&, DockWindow& dock) {
             showToolTipOf(dock.rootView()->itemButtons().first());
         },
         false, 80},
        {"dock-error-trusted.png", true, 560,
         [](DockStore& store, DockActionCoordinator& coordinator, VirtualScheduler& scheduler,
            DockWindow& dock) {
             coordinator.startLaunch(store.items().first(), coordinator.launcherTiming);
             scheduler.runUntilIdle();
             coordinator.refreshAccessibilityStatus();
             showToolTipOf(dock.rootView()->errorMarker());
         },
         true, 60, 360},
    };
    bool ok = true;
    for (const Shot& shot : shots)
        ok = capture(shot, folder) && ok;
    return ok ? 0 : 1;
}

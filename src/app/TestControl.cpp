#include "TestControl.h"

#include "BrevlinApp.h"
#include "launch/DockActionCoordinator.h"
#include "model/DockStore.h"
#include "ui/dock/DockItemButton.h"
#include "ui/dock/DockRootView.h"
#include "ui/dock/UtilityIconButton.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>

namespace brevlin {

namespace {

QJsonObject globalRect(const QWidget* widget) {
    if (!widget || !widget->isVisible())
        return {};
    const QPoint topLeft = widget->mapToGlobal(QPoint(0, 0));
    return {
        {"x", topLeft.x()}, {"y", topLeft.y()}, {"w", widget->width()}, {"h", widget->height()}};
}

} // namespace

TestControl::TestControl(BrevlinApp& app, const QString& socketPath, QObject* parent)
    : QObject(parent)
    , m_app(app)
    , m_server(new QLocalServer(this)) {
    QLocalServer::removeServer(socketPath);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(socketPath);
    const DockActionCoordinator* coordinator = &m_app.coordinator();
    connect(coordinator, &DockActionCoordinator::errorMessageChanged, this, [this, coordinator] {
        if (coordinator->errorMessage())
            m_errors.append(*coordinator->errorMessage());
    });
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
}

void TestControl::serve(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        while (socket->canReadLine()) {
            socket->write(answer(socket->readLine().trimmed()) + '\n');
            socket->flush();
        }
    });
}

QByteArray TestControl::answer(const QByteArray& line) {
    const QString request = QString::fromUtf8(line);
    const QString command = request.section(' ', 0, 0);
    const QString argument = request.section(' ', 1);
    QJsonObject reply{{"ok", true}};
    if (command == "state") {
        const DockActionCoordinator& coordinator = m_app.coordinator();
        reply["trusted"] = coordinator.isAccessibilityTrusted();
        reply["errorMessage"] =
            coordinator.errorMessage() ? QJsonValue(*coordinator.errorMessage()) : QJsonValue();
        reply["errors"] = QJsonArray::fromStringList(m_errors);
        reply["pendingLaunches"] = coordinator.pendingLaunchCount();
        if (DockWindow* dock = m_app.dockWindow(); dock && dock->isVisible()) {
            DockRootView* view = dock->rootView();
            reply["dock"] = globalRect(dock);
            reply["prompt"] = globalRect(view->accessibilityPrompt());
            reply["marker"] = globalRect(view->errorMarker());
            reply["markerToolTip"] = view->errorMarker()->toolTip();
            reply["settingsButton"] = globalRect(view->settingsButton());
            QJsonArray buttons;
            for (DockItemButton* button : view->itemButtons()) {
                QJsonObject entry = globalRect(button);
                entry["name"] = button->item().name;
                buttons.append(entry);
            }
            reply["buttons"] = buttons;
        }
        reply["settingsOpen"] = m_app.settingsWindow() && m_app.settingsWindow()->isVisible();
    } else if (command == "upsert") {
        const std::optional<DockItem> item =
            DockItem::fromJson(QJsonDocument::fromJson(argument.toUtf8()).object());
        reply["ok"] = item.has_value();
        if (item)
            m_app.store().upsert(*item);
    } else if (command == "delete") {
        bool found = false;
        for (const DockItem& item : m_app.store().items()) {
            if (item.name == argument) {
                m_app.store().deleteItem(item);
                found = true;
                break;
            }
        }
        reply["ok"] = found;
    } else if (command == "timing") {
        const int field = argument.section(' ', 0, 0).toInt();
        const qint64 value = argument.section(' ', 1, 1).toLongLong();
        m_app.store().setTimingValue(static_cast<TimingField>(field), value);
    } else if (command == "click") {
        // The button's own click, for sessions where a test cannot move the pointer onto the
        // dock (a Wayland client does not know where the compositor put another's window).
        const int index = argument.toInt();
        DockWindow* dock = m_app.dockWindow();
        const QList<DockItemButton*> buttons =
            dock ? dock->rootView()->itemButtons() : QList<DockItemButton*>();
        reply["ok"] = index >= 0 && index < buttons.size();
        if (reply["ok"].toBool())
            buttons.at(index)->click();
    } else if (command == "adaptive-waits") {
        m_app.store().setAdaptiveWaits(argument == "1");
    } else if (command == "close-dock") {
        if (m_app.dockWindow())
            m_app.dockWindow()->close();
    } else if (command == "quit") {
        // The menu's Quit, which ends the event loop after this reply has gone.
        m_app.quitAction()->trigger();
    } else {
        reply["ok"] = false;
    }
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

} // namespace brevlin

#pragma once

#include <QByteArray>
#include <QString>

#include <gio/gio.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace brevlin::atspi {

class Bus;

// One change an application reported on the accessibility bus.
struct Event {
    QString sender;
    QString path;
    bool window = false; // a window came, went or changed activation
    bool cache = false;  // reported through the bus's cache rather than as an object event
    QString parentPath;  // of an object the cache reports as added
    QByteArray member;   // the signal: "ChildrenChanged", "StateChanged", "AddAccessible", …
    QByteArray detail;   // its first argument where that is a string: "showing", "add", …
    int detail1 = 0;     // its second argument where that is a number (1: a state was gained)
};

// Events of the applications being watched. They are noted as they arrive, on the connection's
// own thread, and handed out on the main thread. Only watched applications are noted, and only
// so many events: past that, the inbox says it overflowed and hands out none, since a kept tree
// that missed an event cannot be trusted.
class EventInbox {
public:
    explicit EventInbox(Bus& bus);
    ~EventInbox();
    EventInbox(const EventInbox&) = delete;
    EventInbox& operator=(const EventInbox&) = delete;

    // Listens on the bus's current connection, and registers for the events toolkits send only
    // while someone has. False when there is no bus. `restarted` is set when listening began
    // anew (a first connection or a reconnection): events may have been missed meanwhile, and
    // the inbox is empty and watches nothing.
    bool listen(bool& restarted);
    void watch(const QString& busName, bool on);
    // Stops listening (and the toolkits' events for us) until listen is called again: an idle
    // client that registered for events has every change of every application sent to it.
    void stop();

    struct Taken {
        std::vector<Event> events;
        bool overflowed = false;
    };
    // What was noted since the last call. After an overflow the inbox is emptied and watches
    // nothing more until told again.
    Taken take();

    static constexpr std::size_t capacity = 20000;

private:
    struct Shared;
    static GDBusMessage* note(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                              gpointer data);
    void clear();
    void registerEvents(bool on);

    Bus& m_bus;
    std::shared_ptr<Shared> m_shared;
    GDBusConnection* m_listening = nullptr;
    guint m_filterId = 0;
};

} // namespace brevlin::atspi

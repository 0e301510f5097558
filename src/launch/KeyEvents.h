#pragma once

#include <QtGlobal>

#include <memory>
#include <optional>
#include <string>

namespace brevlin {

// Quartz event flag of the Command key.
inline constexpr quint64 commandFlag = 0x100000;
inline constexpr quint64 shiftFlag = 0x20000;
inline constexpr quint64 controlFlag = 0x40000;
inline constexpr quint64 optionFlag = 0x80000;

// HID system state, the source the launcher asks for.
inline constexpr int hidSystemState = 1;

// One keyboard event, created by a source and posted by the key-event API.
class KeyEvent {
public:
    virtual ~KeyEvent() = default;
    virtual quint16 keyCode() const = 0;
    virtual bool isKeyDown() const = 0;
    // The event carries exactly this mask.
    virtual void setFlags(quint64 flags) = 0;
    // The event types these UTF-16 units instead of the key code's character.
    virtual void setUnicodeString(const std::u16string& units) = 0;
};

class KeyEventSource {
public:
    virtual ~KeyEventSource() = default;
    // Null when the event cannot be created.
    virtual std::unique_ptr<KeyEvent> createKeyboardEvent(quint16 keyCode, bool keyDown) = 0;
};

class KeyEventApi {
public:
    virtual ~KeyEventApi() = default;
    // Null when no source can be created.
    virtual std::unique_ptr<KeyEventSource> createEventSource(int stateId) = 0;
    // Delivered in posting order.
    virtual void postToProcess(qint64 processIdentifier, KeyEvent& event) = 0;
    virtual void post(KeyEvent& event) = 0;
};

} // namespace brevlin

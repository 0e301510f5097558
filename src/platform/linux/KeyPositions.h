#pragma once

#include <QHash>
#include <QtGlobal>

#include <optional>

struct xcb_connection_t;

namespace brevlin {

// X keysym of a Macintosh virtual key code (US layout), or none for codes the table lacks.
std::optional<quint32> keysymForMacKeyCode(quint16 keyCode);
// The XKB name of the key at a Macintosh virtual key code's position on a US (ANSI) keyboard,
// "AE01" for the 1 key, "AC01" for A and so on, or null for codes the table lacks.
const char* keyNameForMacKeyCode(quint16 keyCode);

// Where each Macintosh virtual key code's position is on the server's keyboard now: the X
// keycode of the key with that position's XKB name, read from the current keymap through
// xkbcommon. Positions stay where they are whatever the layout (AZERTY, Cyrillic…), so this
// is what a hotkey grabs and what a letter the layout lacks falls back to.
//
// Empty when the server has no XKB extension or the keymap cannot be read.
QHash<quint16, quint8> readKeyPositions(xcb_connection_t* connection);

} // namespace brevlin

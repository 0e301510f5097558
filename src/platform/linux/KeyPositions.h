#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QtGlobal>

struct xcb_connection_t;

namespace brevlin {

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

// The X keycode of each of these XKB key names ("AC01", "BKSP" …) in the server's current keymap,
// aliases included; names the keymap lacks are left out, and all are when it cannot be read.
QHash<QByteArray, quint8> readKeycodesByName(xcb_connection_t* connection,
                                             const QList<QByteArray>& names);

} // namespace brevlin

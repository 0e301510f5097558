#pragma once

#include "model/Hotkey.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QtGlobal>

#include <array>

struct xcb_connection_t;

namespace brevlin {

// The XKB name of a hotkey key's position: "AE01" for the 1 key, "AC01" for A and so on.
const char* xkbKeyName(KeyPosition position);

// Where each hotkey key's position is on the server's keyboard now: the X keycode of the key with
// that position's XKB name, read from the current keymap through xkbcommon, indexed by
// KeyPosition. Positions stay where they are whatever the layout (AZERTY, Cyrillic…), so this is
// what a hotkey grabs.
//
// All zero when the server has no XKB extension or the keymap cannot be read.
std::array<quint8, keyPositionCount> readKeyPositions(xcb_connection_t* connection);

// The X keycode of each of these XKB key names ("AC01", "BKSP" …) in the server's current keymap,
// aliases included; names the keymap lacks are left out, and all are when it cannot be read.
QHash<QByteArray, quint8> readKeycodesByName(xcb_connection_t* connection,
                                             const QList<QByteArray>& names);

} // namespace brevlin

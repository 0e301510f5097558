#include "KeyPositions.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace brevlin {

namespace {

// kVK_* of the Carbon headers → the XKB key name at that position of a US keyboard.
const QHash<quint16, const char*>& macKeys() {
    static const QHash<quint16, const char*> table = {
        {0, "AC01"},   {1, "AC02"},   {2, "AC03"},  {3, "AC04"},   {4, "AC06"},   {5, "AC05"},
        {6, "AB01"},   {7, "AB02"},   {8, "AB03"},  {9, "AB04"},   {11, "AB05"},  {12, "AD01"},
        {13, "AD02"},  {14, "AD03"},  {15, "AD04"}, {16, "AD06"},  {17, "AD05"},  {18, "AE01"},
        {19, "AE02"},  {20, "AE03"},  {21, "AE04"}, {22, "AE06"},  {23, "AE05"},  {24, "AE12"},
        {25, "AE09"},  {26, "AE07"},  {27, "AE11"}, {28, "AE08"},  {29, "AE10"},  {30, "AD12"},
        {31, "AD09"},  {32, "AD07"},  {33, "AD11"}, {34, "AD08"},  {35, "AD10"},  {36, "RTRN"},
        {37, "AC09"},  {38, "AC07"},  {39, "AC11"}, {40, "AC08"},  {41, "AC10"},  {42, "BKSL"},
        {43, "AB08"},  {44, "AB10"},  {45, "AB06"}, {46, "AB07"},  {47, "AB09"},  {48, "TAB"},
        {49, "SPCE"},  {50, "TLDE"},  {51, "BKSP"}, {53, "ESC"},   {76, "KPEN"},  {115, "HOME"},
        {116, "PGUP"}, {117, "DELE"}, {119, "END"}, {121, "PGDN"}, {123, "LEFT"}, {124, "RGHT"},
        {125, "DOWN"}, {126, "UP"},
    };
    return table;
}

struct ContextDeleter {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};

} // namespace

const char* keyNameForMacKeyCode(quint16 keyCode) {
    const auto it = macKeys().constFind(keyCode);
    return it == macKeys().constEnd() ? nullptr : *it;
}

QHash<QByteArray, quint8> readKeycodesByName(xcb_connection_t* connection,
                                             const QList<QByteArray>& names) {
    QHash<QByteArray, quint8> keycodes;
    if (!xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return keycodes;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0)
        return keycodes;
    const std::unique_ptr<xkb_context, ContextDeleter> context(xkb_context_new(
        xkb_context_flags(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)));
    if (!context)
        return keycodes;
    const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(xkb_x11_keymap_new_from_device(
        context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return keycodes;
    for (const QByteArray& name : names) {
        // Aliases count: a keymap may call the key by another name.
        const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap.get(), name.constData());
        if (keycode != XKB_KEYCODE_INVALID && keycode <= 255)
            keycodes.insert(name, quint8(keycode));
    }
    return keycodes;
}

QHash<quint16, quint8> readKeyPositions(xcb_connection_t* connection) {
    QList<QByteArray> names;
    for (const char* name : macKeys())
        names.append(QByteArray(name));
    const QHash<QByteArray, quint8> keycodes = readKeycodesByName(connection, names);
    QHash<quint16, quint8> positions;
    for (auto it = macKeys().constBegin(); it != macKeys().constEnd(); ++it)
        if (const auto found = keycodes.constFind(QByteArray(it.value()));
            found != keycodes.constEnd())
            positions.insert(it.key(), *found);
    return positions;
}

} // namespace brevlin

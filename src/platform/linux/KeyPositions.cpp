#include "KeyPositions.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace brevlin {

namespace {

// In KeyPosition's order: the digit row 1…0, then A…Z.
// clang-format off
constexpr std::array<const char*, keyPositionCount> positionNames = {
    "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09", "AE10",
    "AC01", "AB05", "AB03", "AC03", "AD03", "AC04", "AC05", "AC06", "AD08", "AC07", "AC08", "AC09",
    "AB07", "AB06", "AD09", "AD10", "AD01", "AD04", "AC02", "AD05", "AD07", "AB04", "AD02", "AB02",
    "AD06", "AB01",
};
// clang-format on

struct ContextDeleter {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};

} // namespace

const char* xkbKeyName(KeyPosition position) {
    return positionNames[std::size_t(position)];
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

std::array<quint8, keyPositionCount> readKeyPositions(xcb_connection_t* connection) {
    QList<QByteArray> names;
    for (const char* name : positionNames)
        names.append(QByteArray(name));
    const QHash<QByteArray, quint8> keycodes = readKeycodesByName(connection, names);
    std::array<quint8, keyPositionCount> positions{};
    for (std::size_t i = 0; i < positionNames.size(); ++i)
        positions[i] = keycodes.value(QByteArray(positionNames[i]), 0);
    return positions;
}

} // namespace brevlin

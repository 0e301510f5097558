#include "KeyPositions.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace brevlin {

namespace {

struct MacKey {
    quint32 keysym;
    const char* keyName;
};

// kVK_* of the Carbon headers → the keysym and the XKB key name at that position of a US
// keyboard.
const QHash<quint16, MacKey>& macKeys() {
    static const QHash<quint16, MacKey> table = {
        {0, {XKB_KEY_a, "AC01"}},
        {1, {XKB_KEY_s, "AC02"}},
        {2, {XKB_KEY_d, "AC03"}},
        {3, {XKB_KEY_f, "AC04"}},
        {4, {XKB_KEY_h, "AC06"}},
        {5, {XKB_KEY_g, "AC05"}},
        {6, {XKB_KEY_z, "AB01"}},
        {7, {XKB_KEY_x, "AB02"}},
        {8, {XKB_KEY_c, "AB03"}},
        {9, {XKB_KEY_v, "AB04"}},
        {11, {XKB_KEY_b, "AB05"}},
        {12, {XKB_KEY_q, "AD01"}},
        {13, {XKB_KEY_w, "AD02"}},
        {14, {XKB_KEY_e, "AD03"}},
        {15, {XKB_KEY_r, "AD04"}},
        {16, {XKB_KEY_y, "AD06"}},
        {17, {XKB_KEY_t, "AD05"}},
        {18, {XKB_KEY_1, "AE01"}},
        {19, {XKB_KEY_2, "AE02"}},
        {20, {XKB_KEY_3, "AE03"}},
        {21, {XKB_KEY_4, "AE04"}},
        {22, {XKB_KEY_6, "AE06"}},
        {23, {XKB_KEY_5, "AE05"}},
        {24, {XKB_KEY_equal, "AE12"}},
        {25, {XKB_KEY_9, "AE09"}},
        {26, {XKB_KEY_7, "AE07"}},
        {27, {XKB_KEY_minus, "AE11"}},
        {28, {XKB_KEY_8, "AE08"}},
        {29, {XKB_KEY_0, "AE10"}},
        {30, {XKB_KEY_bracketright, "AD12"}},
        {31, {XKB_KEY_o, "AD09"}},
        {32, {XKB_KEY_u, "AD07"}},
        {33, {XKB_KEY_bracketleft, "AD11"}},
        {34, {XKB_KEY_i, "AD08"}},
        {35, {XKB_KEY_p, "AD10"}},
        {36, {XKB_KEY_Return, "RTRN"}},
        {37, {XKB_KEY_l, "AC09"}},
        {38, {XKB_KEY_j, "AC07"}},
        {39, {XKB_KEY_apostrophe, "AC11"}},
        {40, {XKB_KEY_k, "AC08"}},
        {41, {XKB_KEY_semicolon, "AC10"}},
        {42, {XKB_KEY_backslash, "BKSL"}},
        {43, {XKB_KEY_comma, "AB08"}},
        {44, {XKB_KEY_slash, "AB10"}},
        {45, {XKB_KEY_n, "AB06"}},
        {46, {XKB_KEY_m, "AB07"}},
        {47, {XKB_KEY_period, "AB09"}},
        {48, {XKB_KEY_Tab, "TAB"}},
        {49, {XKB_KEY_space, "SPCE"}},
        {50, {XKB_KEY_grave, "TLDE"}},
        {51, {XKB_KEY_BackSpace, "BKSP"}},
        {53, {XKB_KEY_Escape, "ESC"}},
        {76, {XKB_KEY_KP_Enter, "KPEN"}},
        {115, {XKB_KEY_Home, "HOME"}},
        {116, {XKB_KEY_Prior, "PGUP"}},
        {117, {XKB_KEY_Delete, "DELE"}},
        {119, {XKB_KEY_End, "END"}},
        {121, {XKB_KEY_Next, "PGDN"}},
        {123, {XKB_KEY_Left, "LEFT"}},
        {124, {XKB_KEY_Right, "RGHT"}},
        {125, {XKB_KEY_Down, "DOWN"}},
        {126, {XKB_KEY_Up, "UP"}},
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

std::optional<quint32> keysymForMacKeyCode(quint16 keyCode) {
    const auto it = macKeys().constFind(keyCode);
    if (it == macKeys().constEnd())
        return std::nullopt;
    return it->keysym;
}

const char* keyNameForMacKeyCode(quint16 keyCode) {
    const auto it = macKeys().constFind(keyCode);
    return it == macKeys().constEnd() ? nullptr : it->keyName;
}

QHash<quint16, quint8> readKeyPositions(xcb_connection_t* connection) {
    QHash<quint16, quint8> positions;
    if (!xkb_x11_setup_xkb_extension(
            connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return positions;
    const int32_t device = xkb_x11_get_core_keyboard_device_id(connection);
    if (device < 0)
        return positions;
    const std::unique_ptr<xkb_context, ContextDeleter> context(xkb_context_new(
        xkb_context_flags(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES)));
    if (!context)
        return positions;
    const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(xkb_x11_keymap_new_from_device(
        context.get(), connection, device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return positions;
    for (auto it = macKeys().constBegin(); it != macKeys().constEnd(); ++it) {
        // Aliases count: a keymap may call the key by another name.
        const xkb_keycode_t keycode = xkb_keymap_key_by_name(keymap.get(), it->keyName);
        if (keycode != XKB_KEYCODE_INVALID && keycode <= 255)
            positions.insert(it.key(), quint8(keycode));
    }
    return positions;
}

} // namespace brevlin

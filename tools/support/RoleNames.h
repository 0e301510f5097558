#pragma once

#include "launch/Accessibility.h"

#include <QByteArray>
#include <QString>

namespace brevlin {

// The name of each role, for test output and for describing a tree in a test.
inline QString roleName(Role role) {
    switch (role) {
    case Role::application:
        return QStringLiteral("application");
    case Role::window:
        return QStringLiteral("window");
    case Role::dialog:
        return QStringLiteral("dialog");
    case Role::webArea:
        return QStringLiteral("webArea");
    case Role::textField:
        return QStringLiteral("textField");
    case Role::button:
        return QStringLiteral("button");
    case Role::tab:
        return QStringLiteral("tab");
    case Role::staticText:
        return QStringLiteral("staticText");
    case Role::other:
        return QStringLiteral("other");
    }
    return QStringLiteral("?");
}

inline QString soughtName(Sought::Kind kind) {
    switch (kind) {
    case Sought::Kind::actionsPalette:
        return QStringLiteral("palette");
    case Sought::Kind::pluginsTab:
        return QStringLiteral("tab");
    case Sought::Kind::searchField:
        return QStringLiteral("searchField");
    case Sought::Kind::textField:
        return QStringLiteral("textField");
    case Sought::Kind::result:
        return QStringLiteral("result");
    case Sought::Kind::paletteMark:
        return QStringLiteral("paletteMark");
    }
    return QStringLiteral("?");
}

// Lets QCOMPARE print roles.
inline char* toString(Role role) {
    return qstrdup(roleName(role).toUtf8().constData());
}

} // namespace brevlin

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

// Lets QCOMPARE print roles.
inline char* toString(Role role) {
    return qstrdup(roleName(role).toUtf8().constData());
}

} // namespace brevlin

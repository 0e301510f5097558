#pragma once

#include "launch/Accessibility.h"

#include <QByteArray>
#include <QString>

#include <iterator>

namespace brevlin {

// The name of each role, for test output and for describing a tree in a test.
inline QString roleName(Role role) {
    static const char* const names[] = {"application", "window",     "dialog",
                                        "webArea",     "textField",  "button",
                                        "tab",         "staticText", "other"};
    static_assert(std::size(names) == std::size_t(Role::other) + 1);
    return QString::fromLatin1(names[std::size_t(role)]);
}

inline QString soughtName(Sought::Kind kind) {
    static const char* const names[] = {"palette",   "tab",    "searchField",
                                        "textField", "result", "paletteMark"};
    static_assert(std::size(names) == std::size_t(Sought::Kind::paletteMark) + 1);
    return QString::fromLatin1(names[std::size_t(kind)]);
}

// Lets QCOMPARE print roles.
inline char* toString(Role role) {
    return qstrdup(roleName(role).toUtf8().constData());
}

} // namespace brevlin

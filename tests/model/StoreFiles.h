#pragma once
// File helpers shared by the store's tests.
#include "model/DockStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace brevlin::testing {

inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

inline DockStore::SeedLookup noSeed() {
    return [] { return std::optional<QByteArray>(); };
}

} // namespace brevlin::testing

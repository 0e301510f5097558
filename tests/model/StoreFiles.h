#pragma once
// File helpers shared by the tests that read and write the store's files.
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

// A file where the folder must be: every save into it fails until the file goes.
inline bool blockFolder(const QString& folder) {
    return QDir(folder).removeRecursively() && writeAll(folder, {});
}

inline DockStore::SeedLookup noSeed() {
    return [] { return std::optional<QByteArray>(); };
}

} // namespace brevlin::testing

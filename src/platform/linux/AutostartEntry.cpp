#include "AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <glib.h>

namespace brevlin {

namespace {

const char* const group = "Desktop Entry";

// An Exec argument as the desktop entry format quotes it: in double quotes, with ", `, $ and the
// backslash escaped by a backslash, and % doubled. GKeyFile adds the escaping every string value
// gets; GLib's own shell quoting uses single quotes, which Exec does not allow.
QByteArray quotedExecArgument(const QString& argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return (u'"' + quoted + u'"').toUtf8();
}

} // namespace

AutostartEntry::AutostartEntry(QString program)
    : m_program(std::move(program)) {}

QString AutostartEntry::path() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/brevlin.desktop");
}

bool AutostartEntry::isEnabled() const {
    if (!QFileInfo(path()).isFile())
        return false;
    GKeyFile* file = g_key_file_new();
    bool enabled = false;
    if (g_key_file_load_from_file(file, QFile::encodeName(path()).constData(), G_KEY_FILE_NONE,
                                  nullptr)) {
        // An entry switched off the ways desktops switch one off does not start anything.
        const bool hidden = g_key_file_get_boolean(file, group, "Hidden", nullptr);
        GError* error = nullptr;
        const bool gnomeEnabled =
            g_key_file_get_boolean(file, group, "X-GNOME-Autostart-enabled", &error);
        enabled = !hidden && (error != nullptr || gnomeEnabled);
        if (error)
            g_error_free(error);
    }
    g_key_file_free(file);
    return enabled;
}

bool AutostartEntry::setEnabled(bool enabled) const {
    const QString file = path();
    if (!enabled)
        return !QFileInfo::exists(file) || QFile::remove(file);
    if (!QDir().mkpath(QFileInfo(file).path()))
        return false;
    GKeyFile* entry = g_key_file_new();
    g_key_file_set_string(entry, group, "Type", "Application");
    g_key_file_set_string(entry, group, "Name", "Brevlin");
    g_key_file_set_string(entry, group, "Comment", "Launch Figma plugins from a dock and hotkeys");
    g_key_file_set_string(entry, group, "Exec", quotedExecArgument(m_program).constData());
    g_key_file_set_string(entry, group, "Icon", "brevlin");
    g_key_file_set_boolean(entry, group, "Terminal", FALSE);
    g_key_file_set_boolean(entry, group, "X-GNOME-Autostart-enabled", TRUE);
    // Written to a temporary file that then replaces the old one.
    const bool saved = g_key_file_save_to_file(entry, QFile::encodeName(file).constData(), nullptr);
    g_key_file_free(entry);
    return saved;
}

} // namespace brevlin

#pragma once

#include <QString>

namespace brevlin {

// "Start Brevlin at login": an XDG autostart entry, brevlin.desktop in
// $XDG_CONFIG_HOME/autostart. The file itself is the setting, so one the user made or deleted by
// hand counts as much as one written here.
class AutostartEntry {
public:
    // `program` is what the entry runs (the running executable's path).
    explicit AutostartEntry(QString program);

    QString path() const;
    // Whether the entry is there and not switched off (Hidden=true, or
    // X-GNOME-Autostart-enabled=false, as desktops switch an entry off).
    bool isEnabled() const;
    // Writes or removes the entry; false when the file could not be written or removed.
    bool setEnabled(bool enabled) const;

private:
    QString m_program;
};

} // namespace brevlin

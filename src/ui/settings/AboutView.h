#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

class QLabel;

namespace brevlin {

// The About window's content: the application icon, name, version line and three lines of
// description.
class AboutView : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumWindowWidth = 400;
    static constexpr int minimumWindowHeight = 300;
    static constexpr int iconSide = 88;
    static constexpr qreal iconCornerRadius = 20;

    // `icon` is the application's icon; without one the window's or the executable's is shown.
    AboutView(QString version, QString build, QIcon icon = QIcon(), QWidget* parent = nullptr);

    const QString& version() const { return m_version; }
    const QString& build() const { return m_build; }
    // "Version 1.0 • Build 1"
    static QString versionLine(const QString& version, const QString& build);

    // The version and build number this program was built with, "1.0" and "1" when the build
    // did not say.
    static QString builtVersion();
    static QString builtBuildNumber();

private:
    QString m_version;
    QString m_build;
};

} // namespace brevlin

#include "FigmaTarget.h"

#include <QRegularExpression>

namespace brevlin::figmaIdentity {

namespace {

struct Client {
    QString id;
    QString installation;
};

const QList<Client>& clients() {
    static const QList<Client> list = {
        {QStringLiteral("com.figma.Desktop"), QStringLiteral("desktop app")},
        {QStringLiteral("figma-linux"), QStringLiteral("figma-linux, deb package")},
        {QStringLiteral("io.github.Figma_Linux.figma_linux"),
         QStringLiteral("figma-linux, Flatpak")},
        {QStringLiteral("figma-linux_figma-linux"), QStringLiteral("figma-linux, snap")},
    };
    return list;
}

// Browsers write their web apps' entries as <browser>-<32-letter app id>-<profile>.desktop.
const QRegularExpression& webAppId() {
    static const QRegularExpression pattern(
        QStringLiteral("^(chrome|chromium|brave|msedge)-([a-p]{32})-[A-Za-z0-9_]+$"));
    return pattern;
}

} // namespace

const QStringList& desktopClientIds() {
    static const QStringList ids = [] {
        QStringList result;
        for (const Client& client : clients())
            result.append(client.id);
        return result;
    }();
    return ids;
}

QString desktopClientInstallation(const QString& applicationId) {
    for (const Client& client : clients())
        if (client.id == applicationId)
            return client.installation;
    return {};
}

bool isFigmaWebApp(const QString& applicationId, const QString& name, const QString& exec) {
    if (!webAppId().match(applicationId).hasMatch())
        return false;
    static const QRegularExpression figmaName(QStringLiteral("\\bfigma\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    // figma.com or any of its subdomains, over http or https, as a whole host name.
    static const QRegularExpression figmaUrl(
        QStringLiteral("https?://([A-Za-z0-9-]+\\.)*figma\\.com(?![A-Za-z0-9.-])"),
        QRegularExpression::CaseInsensitiveOption);
    return figmaName.match(name).hasMatch() || figmaUrl.match(exec).hasMatch();
}

QString webAppWindowClass(const QString& applicationId) {
    const QRegularExpressionMatch match = webAppId().match(applicationId);
    return match.hasMatch() ? QStringLiteral("crx_") + match.captured(2) : QString();
}

QString webAppInstallation(const QString& applicationId) {
    const QString browser = webAppId().match(applicationId).captured(1);
    if (browser == QLatin1String("chrome"))
        return QStringLiteral("Chrome web app");
    if (browser == QLatin1String("chromium"))
        return QStringLiteral("Chromium web app");
    if (browser == QLatin1String("brave"))
        return QStringLiteral("Brave web app");
    return QStringLiteral("Edge web app");
}

QString installAdvice() {
    return QStringLiteral("Install the figma-linux desktop client (deb, Flatpak "
                          "io.github.Figma_Linux.figma_linux or snap figma-linux), or install "
                          "figma.com as an app from Chromium, Chrome, Brave or Edge.");
}

} // namespace brevlin::figmaIdentity

#include "AboutView.h"

#include "SettingsStyle.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#ifndef BREVLIN_VERSION_STRING
#define BREVLIN_VERSION_STRING ""
#endif
#ifndef BREVLIN_BUILD_NUMBER_STRING
#define BREVLIN_BUILD_NUMBER_STRING ""
#endif

namespace brevlin {

namespace {

// The application icon, scaled smoothly and clipped to a rounded square.
class RoundedIconView : public QWidget {
public:
    RoundedIconView(QIcon icon, QWidget* parent)
        : QWidget(parent)
        , m_icon(std::move(icon)) {
        setFixedSize(AboutView::iconSide, AboutView::iconSide);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setClipPath(continuousRoundedRect(rect(), AboutView::iconCornerRadius));
        const QPixmap pixmap = m_icon.pixmap(size(), devicePixelRatioF());
        painter.drawPixmap(QRectF(rect()), pixmap, QRectF(pixmap.rect()));
    }

private:
    QIcon m_icon;
};

QLabel* centredLabel(const QString& text, const QFont& font, bool secondary, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter);
    label->setTextFormat(Qt::PlainText);
    if (secondary) {
        makeSecondary(label);
    }
    return label;
}

QString orDefault(const char* value, const char* fallback) {
    const QString text = QString::fromUtf8(value).trimmed();
    return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

} // namespace

AboutView::AboutView(QString version, QString build, QIcon icon, QWidget* parent)
    : QWidget(parent)
    , m_version(std::move(version))
    , m_build(std::move(build)) {
    setObjectName(QStringLiteral("aboutView"));
    setWindowTitle(QStringLiteral("About Brevlin"));
    setMinimumSize(minimumWindowWidth, minimumWindowHeight);

    if (icon.isNull()) {
        icon = QApplication::windowIcon();
    }
    if (icon.isNull()) {
        icon = QFileIconProvider().icon(QFileInfo(QApplication::applicationFilePath()));
    }

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(28, 24, 28, 24);
    stack->setSpacing(18);
    stack->addStretch(1);

    auto* iconView = new RoundedIconView(icon, this);
    iconView->setObjectName(QStringLiteral("appIcon"));
    stack->addWidget(iconView, 0, Qt::AlignHCenter);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(6);
    auto* name =
        centredLabel(QStringLiteral("Brevlin"), systemFontOfSize(28, QFont::DemiBold), false, this);
    name->setObjectName(QStringLiteral("nameLabel"));
    auto* versionLabel = centredLabel(versionLine(m_version, m_build),
                                      systemFontOfSize(13, QFont::Medium), true, this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    titles->addWidget(name);
    titles->addWidget(versionLabel);
    stack->addLayout(titles);

    auto* description = new QVBoxLayout;
    description->setSpacing(10);
    auto* tagline =
        centredLabel(QStringLiteral("Launch Figma plugins from a compact desktop dock."),
                     systemFontOfSize(15, QFont::DemiBold), false, this);
    tagline->setObjectName(QStringLiteral("taglineLabel"));
    auto* summary = centredLabel(
        QStringLiteral("Brevlin gives you one-click shortcuts, global hotkeys, custom item icons, "
                       "and adjustable launch timing so your Figma workflow stays close at hand."),
        systemFontOfSize(13, QFont::Normal), true, this);
    summary->setObjectName(QStringLiteral("summaryLabel"));
    summary->setWordWrap(true);
    summary->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // The window is never narrower than the text's 320 points plus the insets, so the width can
    // be fixed, and the height it needs there reserved: the window sizes itself from hints that
    // do not know how a wrapped label breaks.
    summary->setFixedWidth(320);
    summary->setMinimumHeight(summary->heightForWidth(320));
    auto* permission =
        centredLabel(QStringLiteral("Accessibility permission is required to control Figma."),
                     systemFontOfSize(12, QFont::Medium), true, this);
    permission->setObjectName(QStringLiteral("permissionLabel"));
    description->addWidget(tagline);
    description->addWidget(summary, 0, Qt::AlignHCenter);
    description->addWidget(permission);
    stack->addLayout(description);
    stack->addStretch(1);
}

QString AboutView::versionLine(const QString& version, const QString& build) {
    return QStringLiteral("Version ") + version + QStringLiteral(" \u2022 Build ") + build;
}

QString AboutView::builtVersion() {
    return orDefault(BREVLIN_VERSION_STRING, "1.0");
}

QString AboutView::builtBuildNumber() {
    return orDefault(BREVLIN_BUILD_NUMBER_STRING, "1");
}

} // namespace brevlin

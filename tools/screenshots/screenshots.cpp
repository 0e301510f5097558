// Renders Brevlin's settings window, item editor, symbol picker, About view and a row of dock
// buttons to PNG files, so their look can be checked without a desktop:
// brevlin_screenshots <output folder>.

#include "model/DockStore.h"
#include "ui/dock/DockItemButton.h"
#include "ui/settings/AboutView.h"
#include "ui/settings/ItemEditorView.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/SymbolPicker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

using namespace brevlin;

namespace {

void settle(int milliseconds = 50) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool save(QWidget* widget, const QString& folder, const QString& name) {
    widget->show();
    settle();
    const QString path = QDir(folder).filePath(name);
    const bool ok = widget->grab().save(path);
    QTextStream(stdout) << (ok ? "wrote " : "FAILED ") << path << " (" << widget->width() << "x"
                        << widget->height() << ")\n";
    return ok;
}

// A colourful square, the kind of picture people choose as an icon.
QString writeSampleImage(const QString& folder, const QString& name, QSize size,
                         bool squareCorners = false) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, QColor(255, 94, 58));
    gradient.setColorAt(1, QColor(153, 51, 255));
    painter.setBrush(gradient);
    painter.setPen(Qt::NoPen);
    const qreal corner = squareCorners ? 0 : size.height() * 0.2;
    painter.drawRoundedRect(QRectF(QPointF(), size), corner, corner);
    painter.setBrush(Qt::white);
    const qreal r = size.height() * 0.22;
    painter.drawEllipse(QRectF(size.width() / 2.0 - r, size.height() / 2.0 - r, 2 * r, 2 * r));
    painter.end();
    const QString path = QDir(folder).filePath(name);
    image.save(path);
    return path;
}

// The dock panel's grey gradient behind a row of buttons, so they are seen on what they are
// drawn for.
class PanelBackdrop : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, QColor::fromRgbF(0.46f, 0.46f, 0.49f, 0.92f));
        gradient.setColorAt(1, QColor::fromRgbF(0.34f, 0.34f, 0.37f, 0.88f));
        painter.fillRect(rect(), gradient);
    }
};

DockItem makeItem(const QString& name, const QString& icon, std::optional<QString> image,
                  const QString& key) {
    return DockItem{QUuid::createUuid(),
                    name,
                    name,
                    icon,
                    std::move(image),
                    Hotkey{key, {KeyModifier::primary, KeyModifier::alternate}}};
}

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(40, 40, 42));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    palette.setColor(QPalette::AlternateBase, QColor(50, 50, 52));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Button, QColor(60, 60, 63));
    palette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(235, 235, 240, 128));
    palette.setColor(QPalette::Mid, QColor(80, 80, 84));
    palette.setColor(QPalette::Midlight, QColor(70, 70, 74));
    palette.setColor(QPalette::ToolTipBase, QColor(60, 60, 63));
    palette.setColor(QPalette::ToolTipText, QColor(235, 235, 240));
    return palette;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QStringList arguments = QApplication::arguments();
    const QString folder = arguments.size() > 1 ? arguments[1] : QStringLiteral("screenshots");
    QDir().mkpath(folder);

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        return 1;
    }
    const QString image =
        writeSampleImage(scratch.path(), QStringLiteral("Sunset.png"), {256, 256});
    const QString wide = writeSampleImage(scratch.path(), QStringLiteral("Wide.png"), {200, 100});

    bool ok = true;
    // The data folder where a user's would be, so that the settings footer reads as on their
    // machine ("~/.local/share/Brevlin").
    const QString home = scratch.filePath(QStringLiteral("home"));
    DockStore store(home + QStringLiteral("/.local/share"), [] { return std::nullopt; });
    const QByteArray realHome = qgetenv("HOME");
    const auto withHome = [&](auto&& build) {
        qputenv("HOME", home.toUtf8());
        build();
        qputenv("HOME", realHome);
    };
    // One shortcut with a custom image and one with a blank icon, besides the samples.
    store.upsert(makeItem(QStringLiteral("Mood Board"), QStringLiteral("photo"), image,
                          QStringLiteral("4")));
    store.upsert(makeItem(QStringLiteral("Blank Icon"), QStringLiteral("  "), std::nullopt,
                          QStringLiteral("K")));

    {
        std::unique_ptr<SettingsView> settings;
        withHome([&] { settings = std::make_unique<SettingsView>(store); });
        settings->resize(SettingsView::minimumWindowWidth, 900);
        ok &= save(settings.get(), folder, QStringLiteral("settings.png"));
    }
    {
        std::unique_ptr<SettingsView> settings;
        withHome([&] { settings = std::make_unique<SettingsView>(store); });
        settings->setPalette(darkPalette());
        settings->resize(SettingsView::minimumWindowWidth, SettingsView::minimumWindowHeight);
        ok &= save(settings.get(), folder, QStringLiteral("settings-dark-minimum.png"));
    }
    {
        ItemEditorView editor(QStringLiteral("Add Shortcut"), DockItemDraft(), {});
        ok &= save(&editor, folder, QStringLiteral("editor-new.png"));
    }
    {
        DockItemDraft draft(store.items().at(3));
        ItemEditorView editor(QStringLiteral("Edit Shortcut"), draft, {});
        ok &= save(&editor, folder, QStringLiteral("editor-custom-image.png"));
    }
    {
        // Opened from a sample's symbol, then narrowed by a plain word.
        SymbolPicker picker(store.items().at(0).icon);
        ok &= save(&picker, folder, QStringLiteral("symbol-picker.png"));
        picker.searchField()->setText(QStringLiteral("arrow"));
        ok &= save(&picker, folder, QStringLiteral("symbol-picker-search.png"));
    }
    {
        SymbolPicker picker(QStringLiteral("bolt"));
        picker.setPalette(darkPalette());
        picker.searchField()->setText(QStringLiteral("lightning"));
        ok &= save(&picker, folder, QStringLiteral("symbol-picker-dark.png"));
    }
    {
        // A square picture stands in for the application icon, to show the rounded clipping.
        const QIcon icon(
            writeSampleImage(scratch.path(), QStringLiteral("AppIcon.png"), {512, 512}, true));
        AboutView about(AboutView::builtVersion(), AboutView::builtBuildNumber(), icon);
        ok &= save(&about, folder, QStringLiteral("about.png"));
    }
    {
        // Without an application icon: the executable's file icon.
        AboutView about(AboutView::builtVersion(), AboutView::builtBuildNumber());
        about.setPalette(darkPalette());
        ok &= save(&about, folder, QStringLiteral("about-dark.png"));
    }
    {
        PanelBackdrop panel;
        auto* rows = new QVBoxLayout(&panel);
        rows->setContentsMargins(12, 8, 12, 8);
        rows->setSpacing(8);
        QList<DockItem> items = store.items();
        items.append(
            makeItem(QStringLiteral("Wide"), QStringLiteral("star"), wide, QStringLiteral("5")));
        items.append(makeItem(QStringLiteral("Unknown"), QStringLiteral("no.such.symbol"),
                              std::nullopt, QStringLiteral("6")));
        QList<DockItemButton*> hovered;
        for (int row = 0; row < 2; ++row) {
            auto* line = new QHBoxLayout;
            line->setSpacing(10);
            for (const DockItem& item : items) {
                auto* button = new DockItemButton(
                    item, [] {}, &panel);
                line->addWidget(button);
                if (row == 1) {
                    hovered.append(button);
                }
            }
            line->addStretch(1);
            rows->addLayout(line);
        }
        panel.show();
        settle();
        // The second row as it looks under the pointer, once the hover change has finished.
        for (DockItemButton* button : hovered) {
            QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
            QApplication::sendEvent(button, &enter);
        }
        settle(DockTileButton::hoverAnimationMilliseconds + 150);
        ok &= save(&panel, folder, QStringLiteral("dock-buttons.png"));
    }
    return ok ? 0 : 1;
}

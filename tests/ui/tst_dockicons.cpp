#include "../TestImages.h"
#include "../model/StoreFiles.h"
#include "ui/dock/DockIconContent.h"
#include "ui/dock/DockItemButton.h"

#include <QEnterEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace brevlin;
using namespace brevlin::testing;
using namespace Qt::StringLiterals;

namespace {

DockItem makeItem(QString name, QString plugin, QString icon, std::optional<QString> path,
                  Hotkey hotkey = {QStringLiteral("1"),
                                   {KeyModifier::primary, KeyModifier::alternate}}) {
    return DockItem{QUuid::createUuid(), std::move(name), std::move(plugin),
                    std::move(icon),     std::move(path), std::move(hotkey)};
}

// Renders a widget on its own, at one pixel per point, over a transparent background.
QImage render(QWidget& widget) {
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The smallest rectangle holding every pixel close to `colour`.
QRect boundsOf(const QImage& image, QColor colour) {
    QRect found;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && qAbs(pixel.red() - colour.red()) < 40 &&
                qAbs(pixel.green() - colour.green()) < 40 &&
                qAbs(pixel.blue() - colour.blue()) < 40) {
                found |= QRect(x, y, 1, 1);
            }
        }
    }
    return found;
}

std::unique_ptr<DockIconContent> content(const QString& symbol, std::optional<QString> path,
                                         QColor tint = Qt::white) {
    auto view =
        std::make_unique<DockIconContent>(symbol, std::move(path), 22, QFont::DemiBold, tint, 6);
    view->resize(44, 44);
    return view;
}

} // namespace

class DockIconTests : public QObject {
    Q_OBJECT

private slots:
    void customImageIsReadOnlyFromAReadableImageFileElseTheSymbolIsDrawn() {
        const QString png = writeImage(m_dir.filePath("ok.png"), {8, 4}, Qt::red);
        // The extension does not decide the format: a PNG stored as .jpg is still read.
        const QString misnamed = m_dir.filePath("actually-png.jpg");
        QVERIFY(QFile::copy(png, misnamed));
        const QString text = m_dir.filePath("notes.png");
        QVERIFY(writeAll(text, "not an image\n"));
        const QString fifo = m_dir.filePath("pipe.png");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

        QVERIFY(!content("star", std::nullopt)->loadCustomImage());
        QVERIFY(!content("star", QStringLiteral(" \n\t"))->loadCustomImage());
        QVERIFY(!content("star", m_dir.filePath("missing.png"))->loadCustomImage());
        QVERIFY(!content("star", text)->loadCustomImage());
        QVERIFY(!content("star", m_dir.path())->loadCustomImage());
        // A named pipe would block the reader forever; it is not opened at all.
        QVERIFY(!content("star", fifo)->loadCustomImage());

        const auto padded = content("star", "  \n" + png + "\t ");
        QCOMPARE(padded->loadCustomImage().value_or(QImage()).size(), QSize(8, 4));
        QVERIFY(content("star", misnamed)->loadCustomImage());

        // Without an image to show, the symbol is drawn.
        const QImage symbolOnly = render(*content("star", std::nullopt));
        QVERIFY(opaquePixels(symbolOnly) > 20);
        QCOMPARE(render(*content("star", m_dir.filePath("deleted.png"))), symbolOnly);
        QCOMPARE(render(*content(" star ", QStringLiteral("   "))), symbolOnly);

        // A blank name draws the grid symbol, not nothing and not the star.
        const QImage blank = render(*content("  ", std::nullopt));
        QCOMPARE(blank, render(*content("square.grid.2x2", std::nullopt)));
        QVERIFY(blank != symbolOnly);
    }

    void customImageIsReadAnewEachTimeAndFittedInsideThePadding() {
        const QString path = writeImage(m_dir.filePath("changing.png"), {10, 10}, Qt::red);
        const auto view = content("star", path);
        QCOMPARE(boundsOf(render(*view), Qt::red), QRect(6, 6, 32, 32));

        writeImage(path, {10, 10}, Qt::blue);
        QCOMPARE(view->loadCustomImage()->pixelColor(0, 0), QColor(Qt::blue));
        QCOMPARE(boundsOf(render(*view), Qt::blue), QRect(6, 6, 32, 32));

        QVERIFY(QFile::remove(path));
        QVERIFY(!view->loadCustomImage());
        QVERIFY(boundsOf(render(*view), Qt::blue).isEmpty());

        const QString wide = writeImage(m_dir.filePath("wide.png"), {200, 100}, Qt::red);
        DockItemButton button(makeItem("Wide", "Wide", "star", wide), [] {});
        QCOMPARE(button.size(), QSize(44, 44));
        // 44 less twice 6 points leaves 32; the 2:1 image is 32 wide, 16 high, centred.
        QCOMPARE(boundsOf(render(button), Qt::red), QRect(6, 14, 32, 16));
    }

    void tooltipNamesTheShortcutAndAClickRunsItOnce() {
        DockItemButton button(makeItem("Rename", "Rename It", "star", std::nullopt), [] {});
        QCOMPARE(button.toolTip(), QStringLiteral("Rename\nRename It\nCtrl+Alt+1"));

        // Texts as stored, untrimmed; a hotkey without modifiers shows the upper-cased key alone,
        // whether or not it could be registered.
        DockItemButton bare(makeItem(" Spaced ", "<b>Bold</b>", "star", std::nullopt,
                                     Hotkey{QStringLiteral("k"), {}}),
                            [] {});
        QCOMPARE(bare.toolTip(), QStringLiteral(" Spaced \n<b>Bold</b>\nK"));

        // A click runs the action once; a press dragged off and released elsewhere is no click.
        int runs = 0;
        DockItemButton clickable(makeItem("A", "A", "star", std::nullopt), [&runs] { ++runs; });
        clickable.show();
        QVERIFY(QTest::qWaitForWindowExposed(&clickable));
        QTest::mouseClick(&clickable, Qt::LeftButton);
        QCOMPARE(runs, 1);
        QTest::mousePress(&clickable, Qt::LeftButton, {}, QPoint(20, 20));
        QTest::mouseRelease(&clickable, Qt::LeftButton, {}, QPoint(200, 200));
        QCOMPARE(runs, 1);
    }

    void hoverEasesInAndOutAndOutlivesAChangeOfItem() {
        DockItem item = makeItem("Old", "Old", "star", std::nullopt);
        DockItemButton button(item, [] {});
        QVERIFY(!button.isHovered());
        const qreal restingFill = button.fillOpacity();
        const qreal restingEdge = button.edgeOpacity();

        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(&button, &enter);
        QVERIFY(button.isHovered());
        // The change is animated, not applied at once.
        QVERIFY(button.hoverProgress() < 1);
        QTRY_COMPARE(button.hoverProgress(), 1.0);
        QVERIFY(button.fillOpacity() > restingFill);
        QVERIFY(button.edgeOpacity() > restingEdge);

        // The store changed the shortcut under the pointer: same tile, new content.
        item.name = QStringLiteral("New");
        item.icon = QStringLiteral("   ");
        item.customIconPath = writeImage(m_dir.filePath("new.png"), {10, 10}, Qt::red);
        button.setItem(item);
        QVERIFY(button.isHovered());
        QCOMPARE(button.hoverProgress(), 1.0);
        QCOMPARE(button.toolTip().section(QLatin1Char('\n'), 0, 0), QStringLiteral("New"));
        QCOMPARE(button.iconContent()->effectiveSymbolName(), QStringLiteral("square.grid.2x2"));
        QVERIFY(!boundsOf(render(button), Qt::red).isEmpty());

        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&button, &leave);
        QVERIFY(!button.isHovered());
        QTRY_COMPARE(button.hoverProgress(), 0.0);
        QCOMPARE(button.fillOpacity(), restingFill);
        QCOMPARE(button.edgeOpacity(), restingEdge);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(DockIconTests)
#include "tst_dockicons.moc"

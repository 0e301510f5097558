#include "../TestImages.h"
#include "ui/icons/SymbolIcon.h"

#include <QFile>
#include <QSet>
#include <QtTest>

using namespace brevlin;
using namespace brevlin::testing;

namespace {

struct TableRow {
    QString symbol;
    QString icon;
    bool cutOut = false;
};

// The table as written in the source tree, read independently of the library's own parser so
// that a row the library silently drops is noticed.
QList<TableRow> tableRows() {
    QFile file(QStringLiteral(BREVLIN_SYMBOL_TABLE));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QList<TableRow> rows;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        rows.append({QString::fromUtf8(fields.value(0)), QString::fromUtf8(fields.value(1)),
                     fields.value(2) == "cutout"});
    }
    return rows;
}

QString folderOf(const QString& resourcePath) {
    const QStringList parts = resourcePath.split(QLatin1Char('/'));
    return parts.size() >= 2 ? parts[parts.size() - 2] : QString();
}

QImage render(const QIcon& icon, QSize size) {
    return icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
}

const QList<QFont::Weight> allWeights{QFont::Thin,   QFont::ExtraLight, QFont::Light,
                                      QFont::Normal, QFont::Medium,     QFont::DemiBold,
                                      QFont::Bold,   QFont::ExtraBold,  QFont::Black};

} // namespace

class TestSymbolIcon : public QObject {
    Q_OBJECT

private slots:
    void everyMappedNameHasItsDrawingsCompiledIn() {
        const QList<TableRow> rows = tableRows();
        QVERIFY2(rows.size() >= 150, "the table should cover the everyday names");
        const QStringList mapped = mappedSymbolNames();
        QSet<QString> seen;
        for (const TableRow& row : rows) {
            QVERIFY2(!row.icon.isEmpty(), qPrintable(row.symbol));
            QVERIFY2(!seen.contains(row.symbol), qPrintable("listed twice: " + row.symbol));
            seen.insert(row.symbol);
            QVERIFY2(mapped.contains(row.symbol), qPrintable(row.symbol));

            QSet<QString> lineFolders;
            for (QFont::Weight weight : allWeights) {
                const QString path = symbolResourcePath(row.symbol, weight);
                QVERIFY2(QFile::exists(path), qPrintable(row.symbol + " -> " + path));
                QVERIFY2(path.contains(QLatin1Char('/') + row.icon), qPrintable(path));
                lineFolders.insert(folderOf(path));
            }
            QCOMPARE(lineFolders, (QSet<QString>{"thin", "light", "regular", "bold"}));

            const QString filled = symbolResourcePath(row.symbol + ".fill", QFont::Normal);
            QVERIFY2(QFile::exists(filled), qPrintable(row.symbol + ".fill -> " + filled));
            QCOMPARE(folderOf(filled),
                     row.cutOut ? QStringLiteral("bold") : QStringLiteral("fill"));

            // Every vendored file must actually draw something.
            QVERIFY2(opaquePixels(render(symbolIcon(row.symbol, QFont::Normal, Qt::black),
                                         QSize(16, 16))) > 0,
                     qPrintable(row.symbol));
        }
        QCOMPARE(mapped.size(), rows.size());
    }

    void resolution_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<int>("weight");
        QTest::addColumn<QString>("expected");

        // Expected paths under :/phosphor/, or empty for no icon.
        auto row =
            [](const char* tag, const char* symbol, QFont::Weight weight, const char* expected) {
                QTest::newRow(tag)
                    << QString::fromUtf8(symbol) << int(weight)
                    << (*expected ? ":/phosphor/" + QString::fromUtf8(expected) : QString());
            };
        row("thin", "star", QFont::Thin, "thin/star-thin.svg");
        row("light", "star", QFont::Light, "light/star-light.svg");
        row("regular", "star", QFont::Normal, "regular/star.svg");
        row("semibold", "star", QFont::DemiBold, "bold/star-bold.svg");
        row("bold", "star", QFont::Bold, "bold/star-bold.svg");

        row("fill ignores weight", "star.fill", QFont::Thin, "fill/star-fill.svg");
        row("fill at the end", "square.stack.3d.up.fill", QFont::DemiBold, "fill/stack-fill.svg");
        row("fill in the middle", "folder.fill.badge.plus", QFont::Normal,
            "fill/folder-plus-fill.svg");
        row("cut-out fill draws bold", "plus.fill", QFont::Thin, "bold/plus-bold.svg");
        row("cut-out line keeps weight", "checkmark", QFont::Light, "light/check-light.svg");

        row("circle stripped", "star.circle", QFont::Normal, "regular/star.svg");
        row("square stripped", "gearshape.square", QFont::Bold, "bold/gear-six-bold.svg");
        row("circle stripped, filled", "heart.circle.fill", QFont::Normal, "fill/heart-fill.svg");
        row("circle stripped, cut-out", "xmark.square.fill", QFont::Normal,
            "fill/x-square-fill.svg");
        row("stripped to a cut-out", "minus.square.fill", QFont::Normal, "bold/minus-bold.svg");

        row("arabic", "textformat.ar", QFont::Normal, "regular/text-aa.svg");
        row("language and fill", "text.bubble.fill.rtl", QFont::Normal, "fill/chat-text-fill.svg");
        row("language then circle", "star.circle.zh", QFont::Normal, "regular/star.svg");

        row("unknown", "no.such.symbol", QFont::Normal, "");
        row("blank", "", QFont::Normal, "");
        row("padded", " star ", QFont::Normal, "");
        row("dot fill", ".fill", QFont::Normal, "");
        row("empty component", "square..grid.2x2", QFont::Normal, "");
        row("case matters", "Star", QFont::Normal, "");
        row("unknown suffix", "star.xx", QFont::Normal, "");
        row("only one shape stripped", "star.circle.circle", QFont::Normal, "");
        row("language alone is no name", "ar", QFont::Normal, "");
    }

    void resolution() {
        QFETCH(QString, symbol);
        QFETCH(int, weight);
        QFETCH(QString, expected);
        QCOMPARE(symbolResourcePath(symbol, QFont::Weight(weight)), expected);
        const QIcon icon = symbolIcon(symbol, QFont::Weight(weight), Qt::black);
        QCOMPARE(icon.isNull(), expected.isEmpty());
        QCOMPARE(hasSymbol(symbol), !expected.isEmpty());
    }

    void tintColoursEveryDrawnPixel_data() {
        QTest::addColumn<QColor>("tint");
        QTest::newRow("white") << QColor(Qt::white);
        QTest::newRow("red") << QColor(255, 0, 0);
        QTest::newRow("blue-ish") << QColor(0x33, 0x66, 0xcc);
        QTest::newRow("black") << QColor(Qt::black);
        QTest::newRow("translucent") << QColor(0, 0, 255, 128);
    }

    void tintColoursEveryDrawnPixel() {
        QFETCH(QColor, tint);
        // A filled square covers the centre completely.
        const QImage image = render(symbolIcon("square.fill", QFont::Normal, tint), QSize(32, 32));
        // A translucent tint keeps its alpha, give or take rounding.
        const QColor centre = image.pixelColor(16, 16);
        QCOMPARE(centre.rgb(), tint.rgb());
        QVERIFY(qAbs(centre.alpha() - tint.alpha()) <= 1);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() == 0)
                    continue;
                // Edge pixels are partly covered; unpremultiplied they keep the tint's hue.
                QVERIFY2(qAbs(c.red() - tint.red()) <= 2 && qAbs(c.green() - tint.green()) <= 2 &&
                             qAbs(c.blue() - tint.blue()) <= 2,
                         qPrintable(QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(c.name())));
            }
        }
        QVERIFY(opaquePixels(image) > 32 * 32 / 2);
    }

    void differentTintsAndCopiesOfOneIconStaySeparate() {
        // Drawings are shared per file; a second tint must not repaint the first icon.
        const QIcon red = symbolIcon("star.fill", QFont::Normal, Qt::red);
        const QIcon green = symbolIcon("star.fill", QFont::Normal, Qt::green);
        QCOMPARE(render(red, QSize(32, 32)).pixelColor(16, 16), QColor(Qt::red));
        QCOMPARE(render(green, QSize(32, 32)).pixelColor(16, 16), QColor(Qt::green));
        QIcon copy = red;
        copy.detach(); // the engine is cloned
        QVERIFY(copy.cacheKey() != red.cacheKey());
        QCOMPARE(render(copy, QSize(32, 32)), render(red, QSize(32, 32)));
        QCOMPARE(render(red, QSize(32, 32)).pixelColor(16, 16), QColor(Qt::red));
    }

    void sharpAtDoubleDensityCentredAndInShape() {
        const QIcon icon = symbolIcon("gearshape", QFont::DemiBold, Qt::white);
        const QPixmap doubled = icon.pixmap(QSize(22, 22), 2.0);

        // Drawn from the vectors at 44 pixels, not a 22-pixel bitmap scaled up.
        const QImage direct = render(icon, QSize(44, 44));
        QImage fromDoubled = doubled.toImage().convertToFormat(QImage::Format_ARGB32);
        fromDoubled.setDevicePixelRatio(1.0);
        QCOMPARE(fromDoubled, direct);

        const QImage small = render(icon, QSize(22, 22));
        const QImage blownUp = small.scaled(44, 44, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QVERIFY(fromDoubled != blownUp);

        const QImage wide =
            render(symbolIcon("square.fill", QFont::Normal, Qt::black), QSize(60, 20));
        QCOMPARE(wide.size(), QSize(60, 20));
        QCOMPARE(wide.pixelColor(30, 10).alpha(), 255);
        // The square drawing fits the height and leaves the sides empty.
        QCOMPARE(wide.pixelColor(12, 10).alpha(), 0);
        QCOMPARE(wide.pixelColor(48, 10).alpha(), 0);
    }
};

QTEST_MAIN(TestSymbolIcon)
#include "test_symbol_icon.moc"

#include "ui/icons/SymbolIcon.h"

#include <QtTest>

using namespace brevlin;

class TestSymbolIcon : public QObject {
    Q_OBJECT

private slots:
    void ownNamesResolve() {
        for (const char* name : {"square.stack.3d.up", "arrow.triangle.branch", "photo.stack",
                                 "hand.raised", "exclamationmark.triangle", "gearshape", "plus",
                                 "square.grid.2x2", "star"}) {
            QVERIFY2(hasSymbol(QString::fromLatin1(name)), name);
            const QIcon icon = symbolIcon(QString::fromLatin1(name), QFont::DemiBold, Qt::white);
            QVERIFY2(!icon.isNull(), name);
            QVERIFY(!icon.pixmap(QSize(22, 22)).isNull());
        }
    }

    void unknownIsNull() {
        QVERIFY(symbolIcon(QStringLiteral("no.such.symbol"), QFont::Normal, Qt::black).isNull());
    }
};

QTEST_MAIN(TestSymbolIcon)
#include "test_symbol_icon.moc"

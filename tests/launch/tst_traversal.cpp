#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"
#include "support/FakeAccessibilityTree.h"

#include <QTest>

#include <functional>

using namespace brevlin;
using brevlin::testing::FakeAccessibilityTree;

namespace {

QList<int> ids(const std::vector<AXElement>& elements) {
    QList<int> result;
    for (const AXElement& e : elements)
        result.append(FakeAccessibilityTree::nodeId(e));
    return result;
}

int idOf(const std::optional<AXElement>& element) {
    return element ? FakeAccessibilityTree::nodeId(*element) : -1;
}

} // namespace

class TraversalTest : public QObject {
    Q_OBJECT

    FakeAccessibilityTree tree;
    FigmaUITraversal traversal{tree, FigmaLauncher::defaultTraversalAttributes()};

private slots:
    void init() {
        tree = FakeAccessibilityTree();
        tree.addNode(-1, QStringLiteral("AXApplication"));
    }

    void walkIsBreadthFirstAndStopsExpandingAtTheDepthLimit() {
        // A chain 0 → 1 → … → 10 with a side branch at depth 1.
        int parent = 0;
        for (int depth = 1; depth <= 10; ++depth)
            parent = tree.addNode(parent, QStringLiteral("AXGroup"));
        const int side = tree.addNode(0, QStringLiteral("AXGroup"));
        const int sideChild = tree.addNode(side, QStringLiteral("AXButton"));

        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 8)),
                 (QList<int>{0, 1, side, 2, sideChild, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 0)), QList<int>{0});
        QCOMPARE(tree.walksBegun, 2);
        QCOMPARE(tree.walksEnded, 2);
    }

    void anElementReachedTwiceIsListedOnceAtItsFirstPlace() {
        const int window = tree.addNode(0, QStringLiteral("AXWindow"));
        const int other = tree.addNode(0, QStringLiteral("AXWindow"));
        const int button = tree.addNode(window, QStringLiteral("AXButton"));
        tree.setElements(0, QStringLiteral("AXFocusedWindow"), {window});
        tree.setElements(0, QStringLiteral("AXMainWindow"), {window});
        tree.setElements(0, QStringLiteral("AXWindows"), {other, window});
        // The window also lists the application among its contents: a cycle.
        tree.setElements(window, QStringLiteral("AXContents"), {0, button});

        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 8)),
                 (QList<int>{0, window, other, button}));
    }

    // Hostile trees: the application decides what the walk meets.
    void aHundredThousandElementsAreWalkedOnlyUpToTheLimit() {
        const int window = tree.addNode(0, QStringLiteral("AXWindow"));
        for (int i = 0; i < 100'000; ++i)
            tree.addNode(window, QStringLiteral("AXStaticText"), QStringLiteral("Row %1").arg(i));
        const std::vector<AXElement> listed = traversal.collectDescendants(tree.element(0), 8);
        QCOMPARE(listed.size(), FigmaUITraversal::maximumWalkElements);
        QCOMPARE(ids(listed).mid(0, 3), (QList<int>{0, window, window + 1}));
        // Rows past the limit are never read, so a search for one finds nothing.
        tree.attributeReads = 0;
        QVERIFY(!traversal.findMatchingResult(tree.element(0), "Row 99999"));
        QVERIFY(tree.attributeReads < 10 * int(FigmaUITraversal::maximumWalkElements));
        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), "Row 100")), window + 101);
        QCOMPARE(tree.walksBegun, tree.walksEnded);
    }

    void childrenListingTheirAncestorsAreWalkedOnce() {
        int parent = 0;
        std::vector<int> chain{0};
        for (int depth = 1; depth <= 6; ++depth)
            chain.push_back(parent = tree.addNode(parent, QStringLiteral("AXGroup")));
        // Every element of the chain also lists all of its ancestors and itself.
        for (std::size_t i = 1; i < chain.size(); ++i) {
            for (std::size_t ancestor = 0; ancestor <= i; ++ancestor)
                tree.node(chain[i]).children.push_back(chain[ancestor]);
        }
        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 8)),
                 QList<int>(chain.begin(), chain.end()));
        QVERIFY(!traversal.findMatchingResult(tree.element(0), "absent"));
    }

    void childrenThatChangeOnEveryReadStayWithinTheLimit() {
        // Each read answers ten new elements that behave alike: 10^8 within the depth limit.
        std::function<std::vector<int>(FakeAccessibilityTree&)> spawn;
        int reads = 0;
        spawn = [&](FakeAccessibilityTree& t) {
            ++reads;
            std::vector<int> fresh;
            for (int i = 0; i < 10; ++i) {
                const int id = t.addNode(-1, QStringLiteral("AXGroup"), QStringLiteral("Fresh"));
                t.node(id).childrenOnRead = spawn;
                fresh.push_back(id);
            }
            return fresh;
        };
        tree.node(0).childrenOnRead = spawn;
        const std::vector<AXElement> listed = traversal.collectDescendants(tree.element(0), 8);
        QCOMPARE(listed.size(), FigmaUITraversal::maximumWalkElements);
        // Expansion stops as soon as the walk is full.
        QVERIFY(reads <= int(FigmaUITraversal::maximumWalkElements) / 10 + 1);
        // The same element read again is another tree each time: walks never share results.
        const std::vector<AXElement> again = traversal.collectDescendants(tree.element(0), 8);
        QCOMPARE(again.size(), FigmaUITraversal::maximumWalkElements);
        QVERIFY(ids(again).at(1) != ids(listed).at(1));
    }

    void megabyteNamesAreComparedWhole() {
        const int window = tree.addNode(0, QStringLiteral("AXWindow"));
        const QString huge(1 << 20, QLatin1Char('x'));
        const QString hugeAccented(1 << 20, QChar(0x00e9));
        for (int i = 0; i < 8; ++i) {
            tree.addNode(window, QStringLiteral("AXStaticText"), huge);
            tree.addNode(window, QStringLiteral("AXStaticText"), hugeAccented);
        }
        // A megabyte of padding around the name is trimmed away like any other space.
        const QString padded =
            QString(1 << 19, QLatin1Char(' ')) + "Autoflow" + QString(1 << 19, QLatin1Char('\n'));
        const int result = tree.addNode(window, QStringLiteral("AXStaticText"), padded);
        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), "autoflow")), result);
        QVERIFY(!traversal.findMatchingResult(tree.element(0), huge.left(1000)));
        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), huge)), window + 1);
        QCOMPARE(
            idOf(traversal.findMatchingResult(tree.element(0), QString(hugeAccented).toUpper())),
            window + 2);
    }

    void attributeReadersAcceptOnlyTheirTypes() {
        const int n = tree.addNode(0, QStringLiteral("AXButton"));
        auto& a = tree.node(n).attributes;
        a.insert("empty", AXValue::fromString(QString()));
        a.insert("number", AXValue::fromNumber(1));
        a.insert("two", AXValue::fromNumber(2));
        a.insert("yes", AXValue::fromBool(true));
        a.insert("text", AXValue::fromString("true"));
        a.insert("one", AXValue::fromElement(tree.element(0)));
        a.insert("mixed",
                 AXValue::fromList({AXValue::fromString("x"), AXValue::fromElement(tree.element(n)),
                                    AXValue::other(), AXValue::fromElement(tree.element(0))}));
        const AXElement e = tree.element(n);

        QCOMPARE(traversal.stringAttribute(e, "empty"), std::optional<QString>(QString()));
        QCOMPARE(traversal.stringAttribute(e, "number"), std::nullopt);
        QCOMPARE(traversal.stringAttribute(e, "missing"), std::nullopt);

        QVERIFY(traversal.booleanAttribute(e, "yes"));
        QVERIFY(traversal.booleanAttribute(e, "number"));
        QVERIFY(!traversal.booleanAttribute(e, "two"));
        QVERIFY(!traversal.booleanAttribute(e, "text"));
        QVERIFY(!traversal.booleanAttribute(e, "missing"));

        QCOMPARE(ids(traversal.elementsAttribute(e, "one")), QList<int>{0});
        QCOMPARE(ids(traversal.elementsAttribute(e, "mixed")), (QList<int>{n, 0}));
        QVERIFY(traversal.elementsAttribute(e, "text").empty());
        QVERIFY(traversal.elementsAttribute(e, "missing").empty());
    }

    void labelIsTheFirstPresentTextEvenWhenEmpty() {
        const int n = tree.addNode(0, QStringLiteral("AXButton"), QString());
        tree.setString(n, "AXValue", "Hidden");
        QCOMPARE(traversal.elementLabel(tree.element(n)), std::optional<QString>(QString()));

        const int m = tree.addNode(0, QStringLiteral("AXTextField"));
        tree.setString(m, "AXPlaceholderValue", "Search");
        QCOMPARE(traversal.elementLabel(tree.element(m)), std::optional<QString>("Search"));
        tree.setString(m, "AXDescription", "Query");
        QCOMPARE(traversal.elementLabel(tree.element(m)), std::optional<QString>("Query"));
        QCOMPARE(traversal.elementLabel(tree.element(0)), std::nullopt);
    }

    void normalizedLabelIgnoresCaseDiacriticsAndSurroundingSpace() {
        using T = FigmaUITraversal;
        QCOMPARE(T::normalizedLabel(QStringLiteral(" \t Plugins \n")), QStringLiteral("plugins"));
        QCOMPARE(T::normalizedLabel(QStringLiteral("Café Tools")),
                 T::normalizedLabel(QStringLiteral("cafe tools")));
        // Precomposed and decomposed spellings are the same label.
        QCOMPARE(T::normalizedLabel(QStringLiteral("Cafe\u0301")),
                 T::normalizedLabel(QStringLiteral("CAF\u00C9")));
        QCOMPARE(T::normalizedLabel(QStringLiteral("Ångström Über")),
                 QStringLiteral("angstrom uber"));
        QVERIFY(T::normalizedLabel(QStringLiteral("Cafe")) !=
                T::normalizedLabel(QStringLiteral("Cafe Tools")));
        // Inner spacing counts.
        QVERIFY(T::normalizedLabel(QStringLiteral("Cafe  Tools")) !=
                T::normalizedLabel(QStringLiteral("Cafe Tools")));
        QCOMPARE(T::normalizedLabel(QStringLiteral("\u00A0\u2003")), QString());
        // Folding is full, not one character for one.
        QCOMPARE(T::normalizedLabel(QStringLiteral("Straße")),
                 T::normalizedLabel(QStringLiteral("STRASSE")));
        QCOMPARE(T::normalizedLabel(QStringLiteral("\uFB01le Tools")),
                 T::normalizedLabel(QStringLiteral("File tools")));
    }

    void pluginsTabNeedsATabRole() {
        const int group = tree.addNode(0, QStringLiteral("AXGroup"), QStringLiteral("Plugins"));
        QCOMPARE(idOf(traversal.findPluginsTab(tree.element(0))), -1);
        const int tab = tree.addNode(group, QStringLiteral("AXRadioButton"));
        tree.setString(tab, "AXDescription", QStringLiteral("  PLUGINS "));
        QCOMPARE(idOf(traversal.findPluginsTab(tree.element(0))), tab);

        // A label-less element and a role-less one are passed over.
        FakeAccessibilityTree other;
        other.addNode(-1);
        other.addNode(0, QStringLiteral("AXButton"));
        const int roleless = other.addNode(0, QString(), QStringLiteral("Plugins"));
        const int text =
            other.addNode(0, QStringLiteral("AXStaticText"), QStringLiteral("Plugins"));
        FigmaUITraversal t(other, FigmaLauncher::defaultTraversalAttributes());
        QVERIFY(roleless >= 0);
        QCOMPARE(idOf(t.findPluginsTab(other.element(0))), text);
    }

    void searchFieldPrefersOneThatMentionsSearch() {
        const int first = tree.addNode(0, QStringLiteral("AXTextField"));
        tree.setString(first, "AXPlaceholderValue", "Name");
        const int second = tree.addNode(0, QStringLiteral("AXTextField"));
        QCOMPARE(idOf(traversal.findSearchField(tree.element(0))), first);

        tree.setString(second, "AXTitle", "Quick SEARCH");
        QCOMPARE(idOf(traversal.findSearchField(tree.element(0))), second);

        FakeAccessibilityTree none;
        none.addNode(-1);
        none.addNode(0, QStringLiteral("AXSearchField"), QStringLiteral("Search"));
        FigmaUITraversal t(none, FigmaLauncher::defaultTraversalAttributes());
        QCOMPARE(idOf(t.findSearchField(none.element(0))), -1);
    }

    void matchingResultIsWholeLabelEquality() {
        const int prefix = tree.addNode(0, QStringLiteral("AXCell"), QStringLiteral("Cafe"));
        const int deep =
            tree.addNode(prefix, QStringLiteral("AXStaticText"), QStringLiteral("Café Tools"));
        const int later = tree.addNode(0, QStringLiteral("AXCell"), QStringLiteral("Other"));
        tree.addNode(later, QStringLiteral("AXStaticText"), QStringLiteral("cafe tools"));

        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), "  CAFE TOOLS")), deep);
        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), "Cafe")), prefix);
        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), "Caf")), -1);
        // An empty name matches nothing, not even an empty label.
        tree.addNode(0, QStringLiteral("AXStaticText"), QString());
        QCOMPARE(idOf(traversal.findMatchingResult(tree.element(0), "   ")), -1);
    }

    void pressFallsBackToSelectionThenUpToFourAncestors() {
        QList<int> chain{0};
        for (int i = 0; i < 6; ++i)
            chain.append(tree.addNode(chain.last(), QStringLiteral("AXGroup")));
        const int leaf = chain.last();

        tree.allowPress(chain[0]); // fifth… sixth level up
        tree.allowPress(chain[1]); // the fifth ancestor of the leaf
        QVERIFY(!traversal.pressElementOrAncestor(tree.element(leaf)));
        QVERIFY(tree.effects.isEmpty());

        tree.allowPress(chain[4]); // grandparent
        QVERIFY(traversal.pressElementOrAncestor(tree.element(leaf)));
        QCOMPARE(tree.effects, QStringList{QStringLiteral("press %1").arg(chain[4])});

        tree.effects.clear();
        tree.node(chain[5]).writable.append("AXSelected");
        QVERIFY(traversal.pressElementOrAncestor(tree.element(leaf)));
        QCOMPARE(tree.effects, QStringList{QStringLiteral("set AXSelected %1 true").arg(chain[5])});

        // A parent that is not an element ends the climb.
        FakeAccessibilityTree odd;
        odd.addNode(-1);
        odd.allowPress(0);
        const int orphan = odd.addNode(0);
        odd.setString(orphan, "AXParent", "not an element");
        FigmaUITraversal t(odd, FigmaLauncher::defaultTraversalAttributes());
        QVERIFY(!t.pressElementOrAncestor(odd.element(orphan)));
    }

    void focusTriesThreeWaysAndReadsOnlyBooleans() {
        const int field = tree.addNode(0, QStringLiteral("AXTextField"));
        QVERIFY(!traversal.focusElement(tree.element(field)));
        tree.node(field).writable.append("AXSelected");
        QVERIFY(traversal.focusElement(tree.element(field)));
        tree.allowPress(field);
        tree.effects.clear();
        QVERIFY(traversal.focusElement(tree.element(field)));
        QCOMPARE(tree.effects, QStringList{QStringLiteral("press %1").arg(field)});
        tree.node(field).writable.append("AXFocused");
        tree.effects.clear();
        QVERIFY(traversal.focusElement(tree.element(field)));
        QCOMPARE(tree.effects, QStringList{QStringLiteral("set AXFocused %1 true").arg(field)});
        QVERIFY(traversal.isElementFocused(tree.element(field)));

        tree.setString(field, "AXFocused", "true");
        QVERIFY(!traversal.isElementFocused(tree.element(field)));
    }

    void activateTabSelectsWhenPressFails() {
        const int tab = tree.addNode(0, QStringLiteral("AXRadioButton"), QStringLiteral("Plugins"));
        tree.node(tab).writable.append("AXSelected");
        traversal.activateTab(tree.element(tab));
        QCOMPARE(tree.effects, QStringList{QStringLiteral("set AXSelected %1 true").arg(tab)});
        tree.allowPress(tab);
        tree.effects.clear();
        traversal.activateTab(tree.element(tab));
        QCOMPARE(tree.effects, QStringList{QStringLiteral("press %1").arg(tab)});
    }

    void mainWindowIsRaisedFromTheFocusedOrMainWindow() {
        const int a = tree.addNode(0, QStringLiteral("AXWindow"));
        const int b = tree.addNode(0, QStringLiteral("AXWindow"));
        tree.node(a).actions.insert("AXRaise", axSuccess);
        tree.node(b).actions.insert("AXRaise", axSuccess);
        traversal.focusMainWindow(tree.element(0));
        QVERIFY(tree.effects.isEmpty());
        tree.setElements(0, "AXMainWindow", {b, a});
        traversal.focusMainWindow(tree.element(0));
        tree.setElements(0, "AXFocusedWindow", {a});
        traversal.focusMainWindow(tree.element(0));
        QCOMPARE(tree.effects, (QStringList{QStringLiteral("raise %1").arg(b),
                                            QStringLiteral("raise %1").arg(a)}));
    }

    void paletteIsRecognisedByItsTabsOrSearchField() {
        const int canvas = tree.addNode(0, QStringLiteral("AXGroup"), QStringLiteral("Canvas"));
        const int field = tree.addNode(canvas, QStringLiteral("AXTextField"));
        tree.setString(field, "AXDescription", "Search layers");
        QVERIFY(!traversal.isActionsPaletteOpen(tree.element(0)));
        tree.setString(field, "AXTitle", "Name");
        tree.setString(field, "AXPlaceholderValue", "Search actions");
        QVERIFY(traversal.isActionsPaletteOpen(tree.element(0)));
        tree.node(field).attributes.remove("AXPlaceholderValue");
        QVERIFY(!traversal.isActionsPaletteOpen(tree.element(0)));
        const int tab = tree.addNode(canvas, QStringLiteral("AXGroup"), QStringLiteral(" Assets"));
        QVERIFY(traversal.isActionsPaletteElement(tree.element(tab)));
        QVERIFY(traversal.isActionsPaletteOpen(tree.element(0)));
        QCOMPARE(tree.walksBegun, tree.walksEnded);
    }

    // What a walk finds is acted on only once the application confirms it: a find the
    // application refuses is looked for once more (the backend then reads afresh), and one
    // refused again counts as not found, so a stale tree never causes a press or a key.
    void actsOnlyOnWhatTheApplicationConfirms() {
        const int window = tree.addNode(0, QStringLiteral("AXWindow"), QStringLiteral("Design"));
        tree.setElements(0, "AXWindows", {window});
        const int tab =
            tree.addNode(window, QStringLiteral("AXRadioButton"), QStringLiteral("Plugins"));
        const int result =
            tree.addNode(window, QStringLiteral("AXButton"), QStringLiteral("Iconify"));
        const AXElement app = tree.element(0);

        int refusals = 1;
        tree.confirm = [&](int) { return refusals-- <= 0; };
        QCOMPARE(idOf(traversal.findMatchingResult(app, "Iconify")), result);
        QCOMPARE(tree.confirmations, (QList<int>{result, result}));
        QCOMPARE(tree.walksBegun, 2);

        tree.confirmations.clear();
        tree.confirm = [&](int id) { return id != tab; };
        QCOMPARE(idOf(traversal.findPluginsTab(app)), -1);
        QCOMPARE(tree.confirmations, (QList<int>{tab, tab}));
        // The tab is the first palette element: refused twice, the palette is not open.
        QVERIFY(!traversal.isActionsPaletteOpen(app));
        tree.confirm = nullptr;
        QVERIFY(traversal.isActionsPaletteOpen(app));

        // Confirmed, but no longer matching on a fresh read: not the result.
        tree.confirm = [&](int id) {
            tree.setString(id, "AXTitle", "Iconify Pro");
            return true;
        };
        QCOMPARE(idOf(traversal.findMatchingResult(app, "Iconify")), -1);
        QCOMPARE(tree.walksBegun, tree.walksEnded);
    }
};

QTEST_GUILESS_MAIN(TraversalTest)
#include "tst_traversal.moc"

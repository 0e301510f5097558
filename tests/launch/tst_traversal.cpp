#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"
#include "support/FakeAccessibilityTree.h"

#include <QTest>

#include <functional>

using namespace brevlin;
using brevlin::testing::FakeAccessibilityTree;

namespace {

QList<int> ids(const std::vector<AccessibleElement>& elements) {
    QList<int> result;
    for (const AccessibleElement& e : elements)
        result.append(FakeAccessibilityTree::nodeId(e));
    return result;
}

int idOf(const Finding& finding) {
    return finding.isFound() ? FakeAccessibilityTree::nodeId(finding.element) : -1;
}

Sought result(const QString& name) {
    return {Sought::Kind::result, name};
}
// What the fake tree recorded of one action, "press 7".
QStringList effect(const QString& action, int node) {
    return {action + ' ' + QString::number(node)};
}

const Sought pluginsTab{Sought::Kind::pluginsTab};
const Sought searchField{Sought::Kind::searchField};
const Sought textField{Sought::Kind::textField};
const Sought paletteMark{Sought::Kind::paletteMark};
const Sought palette{Sought::Kind::actionsPalette};

} // namespace

class TraversalTest : public QObject {
    Q_OBJECT

    FakeAccessibilityTree tree;
    FigmaUITraversal traversal{tree, FigmaLauncher::defaultTraversalRelations()};

private slots:
    void init() {
        tree = FakeAccessibilityTree();
        tree.addNode(-1, Role::application);
    }

    void walkIsBreadthFirstAndStopsExpandingAtTheDepthLimit() {
        // A chain 0 → 1 → … → 10 with a side branch at depth 1.
        int parent = 0;
        for (int depth = 1; depth <= 10; ++depth)
            parent = tree.addNode(parent, Role::other);
        const int side = tree.addNode(0, Role::other);
        const int sideChild = tree.addNode(side, Role::button);

        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 8)),
                 (QList<int>{0, 1, side, 2, sideChild, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 0)), QList<int>{0});
    }

    void anElementReachedTwiceIsListedOnceAtItsFirstPlace() {
        const int window = tree.addNode(0, Role::window);
        const int other = tree.addNode(0, Role::window);
        const int button = tree.addNode(window, Role::button);
        tree.setElements(0, Relation::focusedWindow, {window});
        tree.setElements(0, Relation::mainWindow, {window});
        tree.setElements(0, Relation::windows, {other, window});
        // The window also lists the application among its contents: a cycle.
        tree.setElements(window, Relation::contents, {0, button});

        QCOMPARE(ids(traversal.collectDescendants(tree.element(0), 8)),
                 (QList<int>{0, window, other, button}));

        // The walk follows the relations it is given, in their order, and no others.
        FigmaUITraversal windowsFirst(tree, {Relation::windows, Relation::children});
        QCOMPARE(ids(windowsFirst.collectDescendants(tree.element(0), 8)),
                 (QList<int>{0, other, window, button}));
        FigmaUITraversal childrenOnly(tree, {Relation::children});
        tree.detach(other);
        QCOMPARE(ids(childrenOnly.collectDescendants(tree.element(0), 8)),
                 (QList<int>{0, window, button}));
    }

    // Hostile trees: the application decides what the walk meets.
    void aHundredThousandElementsAreWalkedOnlyUpToTheLimit() {
        const int window = tree.addNode(0, Role::window);
        for (int i = 0; i < 100'000; ++i)
            tree.addNode(window, Role::staticText, QStringLiteral("Row %1").arg(i));
        const std::vector<AccessibleElement> listed =
            traversal.collectDescendants(tree.element(0), 8);
        QCOMPARE(listed.size(), FigmaUITraversal::maximumWalkElements);
        QCOMPARE(ids(listed).mid(0, 3), (QList<int>{0, window, window + 1}));
        // Rows past the limit are never read, so a search for one finds nothing.
        tree.reads = 0;
        QVERIFY(!tree.find(tree.element(0), result("Row 99999")).isFound());
        QVERIFY(tree.reads < 10 * int(FigmaUITraversal::maximumWalkElements));
        QCOMPARE(idOf(tree.find(tree.element(0), result("Row 100"))), window + 101);
    }

    void childrenThatChangeOnEveryReadStayWithinTheLimit() {
        // Each read answers ten new elements that behave alike: 10^8 within the depth limit.
        std::function<std::vector<int>(FakeAccessibilityTree&)> spawn;
        int reads = 0;
        spawn = [&](FakeAccessibilityTree& t) {
            ++reads;
            std::vector<int> fresh;
            for (int i = 0; i < 10; ++i) {
                const int id = t.addNode(-1, Role::other, QStringLiteral("Fresh"));
                t.node(id).childrenOnRead = spawn;
                fresh.push_back(id);
            }
            return fresh;
        };
        tree.node(0).childrenOnRead = spawn;
        const std::vector<AccessibleElement> listed =
            traversal.collectDescendants(tree.element(0), 8);
        QCOMPARE(listed.size(), FigmaUITraversal::maximumWalkElements);
        // Expansion stops as soon as the walk is full.
        QVERIFY(reads <= int(FigmaUITraversal::maximumWalkElements) / 10 + 1);
        // The same element read again is another tree each time: walks never share results.
        const std::vector<AccessibleElement> again =
            traversal.collectDescendants(tree.element(0), 8);
        QCOMPARE(again.size(), FigmaUITraversal::maximumWalkElements);
        QVERIFY(ids(again).at(1) != ids(listed).at(1));
    }

    void megabyteNamesAreComparedWhole() {
        const int window = tree.addNode(0, Role::window);
        const QString huge(1 << 20, QLatin1Char('x'));
        const QString hugeAccented(1 << 20, QChar(0x00e9));
        for (int i = 0; i < 8; ++i) {
            tree.addNode(window, Role::staticText, huge);
            tree.addNode(window, Role::staticText, hugeAccented);
        }
        // A megabyte of padding around the name is trimmed away like any other space.
        const QString padded =
            QString(1 << 19, QLatin1Char(' ')) + "Autoflow" + QString(1 << 19, QLatin1Char('\n'));
        const int padded_ = tree.addNode(window, Role::staticText, padded);
        QCOMPARE(idOf(tree.find(tree.element(0), result("autoflow"))), padded_);
        QVERIFY(!tree.find(tree.element(0), result(huge.left(1000))).isFound());
        QCOMPARE(idOf(tree.find(tree.element(0), result(huge))), window + 1);
        QCOMPARE(idOf(tree.find(tree.element(0), result(QString(hugeAccented).toUpper()))),
                 window + 2);
    }

    void labelIsTheFirstPresentTextAndComparesNormalized() {
        const int button = tree.addNode(0, Role::button, QString());
        tree.setText(button, LabelText::value, "Hidden");
        QCOMPARE(traversal.elementLabel(tree.element(button)), std::optional<QString>(QString()));

        const int m = tree.addNode(0, Role::textField);
        tree.setText(m, LabelText::placeholder, "Search");
        QCOMPARE(traversal.elementLabel(tree.element(m)), std::optional<QString>("Search"));
        tree.setText(m, LabelText::value, "Typed");
        QCOMPARE(traversal.elementLabel(tree.element(m)), std::optional<QString>("Typed"));
        tree.setText(m, LabelText::description, "Query");
        QCOMPARE(traversal.elementLabel(tree.element(m)), std::optional<QString>("Query"));
        QCOMPARE(traversal.elementLabel(tree.element(0)), std::nullopt);
        // An element the backend cannot read has no label at all.
        QCOMPARE(traversal.elementLabel(AccessibleElement()), std::nullopt);

        // Labels compare without case, diacritics and the space around them.
        const auto n = [](const QString& label) {
            return FigmaUITraversal::normalizedLabel(label);
        };
        QCOMPARE(n(" \t Plugins \n"), QString("plugins"));
        QCOMPARE(n("Café Tools"), n("cafe tools"));
        // Precomposed and decomposed spellings are the same label.
        QCOMPARE(n(QStringLiteral("Cafe\u0301")), n(QStringLiteral("CAF\u00C9")));
        QCOMPARE(n("Ångström Über"), QString("angstrom uber"));
        QVERIFY(n("Cafe") != n("Cafe Tools"));
        QVERIFY(n("Cafe  Tools") != n("Cafe Tools")); // inner spacing counts
        QCOMPARE(n(QStringLiteral("\u00A0\u2003")), QString());
        // Folding is full, not one character for one.
        QCOMPARE(n("Straße"), n("STRASSE"));
        QCOMPARE(n(QStringLiteral("\uFB01le Tools")), n("File tools"));
    }

    void soughtElementsNeedTheirRoleAndLabel() {
        const int group = tree.addNode(0, Role::other, QStringLiteral("Plugins"));
        QCOMPARE(idOf(tree.find(tree.element(0), pluginsTab)), -1);
        const int tab = tree.addNode(group, Role::tab);
        tree.setText(tab, LabelText::description, QStringLiteral("  PLUGINS "));
        QCOMPARE(idOf(tree.find(tree.element(0), pluginsTab)), tab);

        // A label-less element and one of another role are passed over.
        FakeAccessibilityTree other;
        other.addNode(-1);
        other.addNode(0, Role::button);
        other.addNode(0, Role::other, QStringLiteral("Plugins"));
        const int text = other.addNode(0, Role::staticText, QStringLiteral("Plugins"));
        QCOMPARE(idOf(other.find(other.element(0), pluginsTab)), text);

        // The search field is a text field whose label mentions "search".
        const int first = tree.addNode(0, Role::textField);
        tree.setText(first, LabelText::placeholder, "Name");
        const int second = tree.addNode(0, Role::textField);
        QCOMPARE(tree.find(tree.element(0), searchField).presence, Presence::absent);
        QCOMPARE(idOf(tree.find(tree.element(0), textField)), first);
        tree.setText(second, LabelText::title, "Quick SEARCH");
        QCOMPARE(idOf(tree.find(tree.element(0), searchField)), second);
        // "search" elsewhere than on a text field does not count.
        tree.node(second).role = Role::other;
        QCOMPARE(tree.find(tree.element(0), searchField).presence, Presence::absent);

        // A result is a whole label, normalized, at any depth.
        const int prefix = tree.addNode(0, Role::other, QStringLiteral("Cafe"));
        const int deep = tree.addNode(prefix, Role::staticText, QStringLiteral("Café Tools"));
        const int later = tree.addNode(0, Role::other, QStringLiteral("Other"));
        tree.addNode(later, Role::staticText, QStringLiteral("cafe tools"));

        QCOMPARE(idOf(tree.find(tree.element(0), result("  CAFE TOOLS"))), deep);
        QCOMPARE(idOf(tree.find(tree.element(0), result("Cafe"))), prefix);
        QCOMPARE(idOf(tree.find(tree.element(0), result("Caf"))), -1);
        // An empty name matches nothing, not even an empty label.
        tree.addNode(0, Role::staticText, QString());
        QCOMPARE(idOf(tree.find(tree.element(0), result("   "))), -1);
    }

    void pressFallsBackToSelectionThenUpToFourAncestors() {
        QList<int> chain{0};
        for (int i = 0; i < 6; ++i)
            chain.append(tree.addNode(chain.last(), Role::other));
        const int leaf = chain.last();

        tree.allowPress(chain[0]); // fifth… sixth level up
        tree.allowPress(chain[1]); // the fifth ancestor of the leaf
        QVERIFY(!traversal.pressElementOrAncestor(tree.element(leaf)));
        QVERIFY(tree.effects.isEmpty());

        tree.allowPress(chain[4]); // grandparent
        QVERIFY(traversal.pressElementOrAncestor(tree.element(leaf)));
        QCOMPARE(tree.effects, effect("press", chain[4]));

        tree.effects.clear();
        tree.node(chain[5]).selectable = true;
        QVERIFY(traversal.pressElementOrAncestor(tree.element(leaf)));
        QCOMPARE(tree.effects, effect("select", chain[5]));

        // A parent that cannot be read ends the climb.
        tree.node(chain[5]).selectable = false;
        tree.node(leaf).parentReadable = false;
        QVERIFY(!traversal.pressElementOrAncestor(tree.element(leaf)));
    }

    void focusAndTabsTryTheirWaysAndTheFocusIsReadBack() {
        const int field = tree.addNode(0, Role::textField);
        QVERIFY(!traversal.focusElement(tree.element(field)));
        QVERIFY(tree.effects.isEmpty());
        tree.node(field).selectable = true;
        QVERIFY(traversal.focusElement(tree.element(field)));
        // A tab is likewise selected when it cannot be pressed.
        traversal.activateTab(tree.element(field));
        QCOMPARE(tree.effects, effect("select", field) + effect("select", field));
        tree.allowPress(field);
        tree.effects.clear();
        QVERIFY(traversal.focusElement(tree.element(field)));
        traversal.activateTab(tree.element(field));
        QCOMPARE(tree.effects, effect("press", field) + effect("press", field));
        QVERIFY(!traversal.isElementFocused(tree.element(field)));
        tree.node(field).focusable = true;
        tree.effects.clear();
        QVERIFY(traversal.focusElement(tree.element(field)));
        QCOMPARE(tree.effects, effect("set focus", field));
        QVERIFY(traversal.isElementFocused(tree.element(field)));

        // Accepting the request is not having the focus: the focus is read back as reported.
        tree.node(field).onFocus = [&] { tree.node(field).focused = false; };
        QVERIFY(traversal.focusElement(tree.element(field)));
        QVERIFY(!traversal.isElementFocused(tree.element(field)));

        // The window raised is the focused one, else the main one.
        const int a = tree.addNode(0, Role::window);
        const int b = tree.addNode(0, Role::window);
        tree.node(a).raisable = true;
        tree.node(b).raisable = true;
        tree.effects.clear();
        traversal.focusMainWindow(tree.element(0));
        QVERIFY(tree.effects.isEmpty());
        tree.setElements(0, Relation::mainWindow, {b, a});
        traversal.focusMainWindow(tree.element(0));
        tree.setElements(0, Relation::focusedWindow, {a});
        traversal.focusMainWindow(tree.element(0));
        QCOMPARE(tree.effects, effect("raise", b) + effect("raise", a));
    }

    void paletteIsRecognisedByItsTabsOrSearchField() {
        const AccessibleElement app = tree.element(0);
        const int canvas = tree.addNode(0, Role::other, QStringLiteral("Canvas"));
        const int field = tree.addNode(canvas, Role::textField);
        tree.setText(field, LabelText::description, "Search layers");
        QCOMPARE(tree.find(app, paletteMark).presence, Presence::absent);
        tree.setText(field, LabelText::title, "Name");
        tree.setText(field, LabelText::placeholder, "Search actions");
        QVERIFY(tree.find(app, paletteMark).isFound());
        // The same placeholder on what is not a text field does not count.
        tree.node(field).role = Role::other;
        QVERIFY(!tree.find(app, paletteMark).isFound());
        tree.node(field).role = Role::textField;
        tree.setText(field, LabelText::placeholder, std::nullopt);
        QVERIFY(!tree.find(app, paletteMark).isFound());
        const int tab = tree.addNode(canvas, Role::other, QStringLiteral(" Assets"));
        QCOMPARE(idOf(tree.find(app, paletteMark)), tab);
    }

    // The palette is found from the focused element: its nearest dialog, else the nearest
    // ancestor holding a palette tab; never the window. Searches then stay inside it.
    void paletteIsFoundFromTheFocus() {
        const AccessibleElement app = tree.element(0);
        const int window = tree.addNode(0, Role::window);
        const int design = tree.addNode(window, Role::textField, "Width");
        const int dialog = tree.addNode(window, Role::dialog);
        const int box = tree.addNode(dialog);
        const int field = tree.addNode(box, Role::textField);
        QCOMPARE(tree.find(app, palette).presence, Presence::absent); // no focus anywhere
        tree.node(design).focused = true;
        QCOMPARE(tree.find(app, palette).presence, Presence::absent);
        tree.node(design).focused = false;
        tree.node(field).focused = true;
        QCOMPARE(idOf(tree.find(app, palette)), dialog);
        QCOMPARE(idOf(tree.find(tree.element(dialog), textField)), field);

        // Without a dialog: the nearest ancestor whose subtree holds a palette tab.
        tree.node(dialog).role = Role::other;
        QCOMPARE(tree.find(app, palette).presence, Presence::absent);
        const int tabs = tree.addNode(dialog);
        tree.addNode(tabs, Role::tab, "All");
        QCOMPARE(idOf(tree.find(app, palette)), dialog);
        // A palette that closed holds nothing any more.
        tree.detach(dialog);
        QCOMPARE(tree.find(tree.element(dialog), paletteMark).presence, Presence::absent);
    }
};

QTEST_GUILESS_MAIN(TraversalTest)
#include "tst_traversal.moc"

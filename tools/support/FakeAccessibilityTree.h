#pragma once

#include "launch/Accessibility.h"

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace brevlin::testing {

// An accessibility tree shaped by each test. Nodes are numbered from 0; children and parents
// follow the tree, every other read is whatever the test stored. Actions fail unless the node
// allows them, and every effect is recorded.
class FakeAccessibilityTree : public AccessibilityApi {
public:
    struct Node {
        int parent = -1;
        std::vector<int> children;
        Role role = Role::other;
        // Indexed by LabelText.
        std::array<std::optional<QString>, 4> texts;
        bool focused = false;
        bool selected = false;
        bool allTextSelected = false;
        // Whether its value reads, though empty (a text field's does).
        bool valueReadable = false;
        // Every relation but the children.
        std::map<Relation, std::vector<int>> related;
        // False: reading the parent fails.
        bool parentReadable = true;
        // The actions that take effect; the others answer false.
        bool pressable = false;
        bool focusable = false;
        bool selectable = false;
        bool textSettable = false;
        bool raisable = false;
        // Run after the action took effect (focus sets `focused`, setText sets the value first).
        std::function<void()> onPress;
        std::function<void()> onFocus;
        std::function<void(const QString& text)> onSetText;
        // When set, answers every read of the children in place of `children`: a tree that
        // changes under the reader (it may add nodes and return new ones each time).
        std::function<std::vector<int>(FakeAccessibilityTree& tree)> childrenOnRead;

        std::optional<QString>& text(LabelText which) { return texts[std::size_t(which)]; }
    };

    // A node under `parent` (-1: a detached root) with its role and, when given, its title.
    int addNode(int parent, Role role = Role::other, const std::optional<QString>& title = {});
    Node& node(int id) { return m_nodes[std::size_t(id)]; }
    const Node& node(int id) const { return m_nodes[std::size_t(id)]; }
    int nodeCount() const { return int(m_nodes.size()); }
    // Detaches the node (and so its subtree) from its parent.
    void detach(int id);
    AccessibleElement element(int id) const;
    // The node behind an element of this tree, or -1.
    static int nodeId(const AccessibleElement& element);

    void setText(int id, LabelText which, const std::optional<QString>& text) {
        node(id).text(which) = text;
    }
    void setElements(int id, Relation relation, const std::vector<int>& ids) {
        node(id).related[relation] = ids;
    }
    void allowPress(int id) { node(id).pressable = true; }

    // Which root the application element of a process is; -1 gives a null element.
    int applicationRoot = 0;
    bool trusted = true;
    // Whether answering a prompt grants the permission at once.
    bool grantOnPrompt = false;
    int promptCount = 0;
    int trustChecks = 0;
    int applicationRequests = 0;

    // Effects, in order, and as they happen: "press <id>", "raise <id>", "set focus <id>",
    // "select <id>", "set text <id> <text>".
    QStringList effects;
    std::function<void(const QString&)> onEffect;
    int reads = 0;
    // The searches asked, in order: "pluginsTab 0" (what, in which scope node).
    QStringList finds;
    // The first this many searches read the first half of every list of children, as a backend
    // that bounds its reads in time does in a large tree: they cannot call anything absent.
    int partialFinds = 0;
    // The first this many reads through readText go unanswered.
    int unansweredTextReads = 0;
    // Where the focus is goes unreported, as with a focus event still on its way: a search for
    // the palette from the focus can tell nothing.
    bool focusUnreported = false;

    bool isProcessTrusted(bool prompt) override;
    AccessibleElement applicationElement(qint64 processIdentifier) override;
    Role role(const AccessibleElement& e) override { return field(e, &Node::role, Role::other); }
    std::optional<QString> text(const AccessibleElement& element, LabelText which) override;
    TextRead readText(const AccessibleElement& element, LabelText which) override;
    std::vector<AccessibleElement> elements(const AccessibleElement& element,
                                            Relation relation) override;
    std::optional<AccessibleElement> parent(const AccessibleElement& element) override;
    bool isFocused(const AccessibleElement& e) override { return field(e, &Node::focused, false); }
    bool isSelected(const AccessibleElement& e) override {
        return field(e, &Node::selected, false);
    }
    bool isAllTextSelected(const AccessibleElement& e) override {
        return field(e, &Node::allTextSelected, false);
    }
    bool press(const AccessibleElement& element) override;
    bool focus(const AccessibleElement& element) override;
    bool select(const AccessibleElement& element) override;
    bool setText(const AccessibleElement& element, const QString& text) override;
    bool raise(const AccessibleElement& window) override;
    // Breadth-first over the fake's own reads. A scope no longer attached to the application
    // is absent.
    Finding find(const AccessibleElement& scope, const Sought& sought) override;

private:
    // Counts the read.
    Node* read(const AccessibleElement& element);
    template <typename T> T field(const AccessibleElement& element, T Node::*member, T absent) {
        const Node* n = read(element);
        return n ? n->*member : absent;
    }
    // The node an action acts on when `allowed` holds for it, its effect recorded, else -1.
    int act(const AccessibleElement& element, bool Node::*allowed, const QString& what,
            const QString& detail = {});
    std::vector<AccessibleElement> elementsOf(const std::vector<int>& ids) const;

    // Whether the node hangs from the application root.
    bool attached(int id) const;

    bool m_partial = false;
    std::vector<Node> m_nodes;
    std::vector<AccessibleElement> m_elements;
};

} // namespace brevlin::testing

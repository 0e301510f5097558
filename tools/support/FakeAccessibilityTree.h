#pragma once

#include "launch/Accessibility.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace brevlin::testing {

// An accessibility tree shaped by each test. Nodes are numbered from 0; "AXChildren" and
// "AXParent" follow the tree, every other attribute is whatever the test stored. Writes and
// actions fail unless the node allows them, and every effect is recorded.
class FakeAccessibilityTree : public AccessibilityApi {
public:
    struct Node {
        int parent = -1;
        std::vector<int> children;
        QHash<QString, AXValue> attributes;
        // Status of each action the node answers; anything else is unsupported.
        QHash<QString, AXError> actions;
        // Attributes a write may change.
        QStringList writable;
        std::function<void(const QString& action)> onAction;
        std::function<void(const QString& attribute, const AXValue& value)> onWrite;
        // When set, answers every read of "AXChildren" in place of `children`: a tree that
        // changes under the reader (it may add nodes and return new ones each time).
        std::function<std::vector<int>(FakeAccessibilityTree& tree)> childrenOnRead;
    };

    // A node under `parent` (-1: a detached root) with its role and, when given, its title.
    int addNode(int parent, const QString& role = {}, const std::optional<QString>& title = {});
    Node& node(int id) { return m_nodes[std::size_t(id)]; }
    const Node& node(int id) const { return m_nodes[std::size_t(id)]; }
    int nodeCount() const { return int(m_nodes.size()); }
    // Detaches the node (and so its subtree) from its parent.
    void detach(int id);
    AXElement element(int id) const;
    // The node behind an element of this tree, or -1.
    static int nodeId(const AXElement& element);

    void setString(int id, const QString& attribute, const QString& value);
    void setElements(int id, const QString& attribute, const std::vector<int>& ids);
    void allowPress(int id, bool allowed = true);

    // Which root the application element of a process is; -1 gives a null element.
    int applicationRoot = 0;
    bool trusted = true;
    // Whether answering a prompt grants the permission at once.
    bool grantOnPrompt = false;
    int promptCount = 0;
    int trustChecks = 0;

    // Effects, in order: "press <id>", "raise <id>", "set <attribute> <id> <value>".
    QStringList effects;
    // Told of every effect as it happens.
    std::function<void(const QString&)> onEffect;
    int attributeReads = 0;
    int walksBegun = 0;
    int walksEnded = 0;
    bool insideWalk = false;
    // The first this many walks stop early, as a backend that bounds its walks in time does with
    // a large tree: they read no children at all and say they are incomplete.
    int incompleteWalks = 0;
    bool lastWalkComplete() const override { return !m_walkIncomplete; }

    bool isProcessTrusted(bool prompt) override;
    AXElement applicationElement(qint64 processIdentifier) override;
    AXError copyAttributeValue(const AXElement& element, const QString& attribute,
                               AXValue& value) override;
    AXError setAttributeValue(const AXElement& element, const QString& attribute,
                              const AXValue& value) override;
    AXError performAction(const AXElement& element, const QString& action) override;
    void beginWalk(const AXElement& root) override;
    void endWalk() override;
    // Answers through `confirm` when set (a backend's kept tree gone stale refuses), else true.
    bool confirmElement(const AXElement& element) override;
    std::function<bool(int id)> confirm;
    QList<int> confirmations; // the nodes asked about, in order

private:
    bool m_walkIncomplete = false;
    std::vector<Node> m_nodes;
    std::vector<AXElement> m_elements;
};

QString describe(const AXValue& value);

} // namespace brevlin::testing

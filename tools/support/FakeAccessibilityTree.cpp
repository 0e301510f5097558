#include "FakeAccessibilityTree.h"

#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"
#include "support/RoleNames.h"

#include <algorithm>
#include <utility>

namespace brevlin::testing {

namespace {

class FakeElementRef : public AccessibleElementRef {
public:
    explicit FakeElementRef(int id)
        : id(id) {}
    std::size_t identityHash() const override { return std::hash<int>()(id) * 2654435761u + 1; }
    bool equals(const AccessibleElementRef& other) const override {
        auto* fake = dynamic_cast<const FakeElementRef*>(&other);
        return fake && fake->id == id;
    }
    const int id;
};

} // namespace

int FakeAccessibilityTree::addNode(int parent, Role role, const std::optional<QString>& title) {
    const int id = int(m_nodes.size());
    m_nodes.emplace_back();
    m_elements.emplace_back(std::make_shared<FakeElementRef>(id));
    Node& created = m_nodes.back();
    created.parent = parent;
    created.role = role;
    created.text(LabelText::title) = title;
    if (parent >= 0)
        node(parent).children.push_back(id);
    return id;
}

void FakeAccessibilityTree::detach(int id) {
    Node& n = node(id);
    if (n.parent < 0)
        return;
    auto& siblings = node(n.parent).children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
    n.parent = -1;
}

AccessibleElement FakeAccessibilityTree::element(int id) const {
    if (id < 0 || id >= int(m_elements.size()))
        return {};
    return m_elements[std::size_t(id)];
}

int FakeAccessibilityTree::nodeId(const AccessibleElement& element) {
    auto* ref = element.as<FakeElementRef>();
    return ref ? ref->id : -1;
}

bool FakeAccessibilityTree::isProcessTrusted(bool prompt) {
    ++trustChecks;
    if (prompt && !trusted) {
        ++promptCount;
        if (grantOnPrompt)
            trusted = true;
    }
    return trusted;
}

AccessibleElement FakeAccessibilityTree::applicationElement(qint64) {
    ++applicationRequests;
    return element(applicationRoot);
}

FakeAccessibilityTree::Node* FakeAccessibilityTree::read(const AccessibleElement& element) {
    ++reads;
    const int id = nodeId(element);
    return id < 0 || id >= nodeCount() ? nullptr : &node(id);
}

std::vector<AccessibleElement>
FakeAccessibilityTree::elementsOf(const std::vector<int>& ids) const {
    std::vector<AccessibleElement> list;
    for (int id : ids)
        list.push_back(m_elements[std::size_t(id)]);
    return list;
}

std::optional<QString> FakeAccessibilityTree::text(const AccessibleElement& element,
                                                   LabelText which) {
    Node* n = read(element);
    return n ? n->text(which) : std::nullopt;
}

AccessibilityApi::TextRead FakeAccessibilityTree::readText(const AccessibleElement& element,
                                                           LabelText which) {
    if (unansweredTextReads > 0) {
        --unansweredTextReads;
        return {false, std::nullopt};
    }
    std::optional<QString> read = text(element, which);
    const Node* n = this->read(element);
    // As on the desktop, an empty text tells nothing by itself.
    const bool readable =
        (read && !read->isEmpty()) || (n && which == LabelText::value && n->valueReadable);
    return {true, std::move(read), readable};
}

std::vector<AccessibleElement> FakeAccessibilityTree::elements(const AccessibleElement& element,
                                                               Relation relation) {
    Node* n = read(element);
    if (!n)
        return {};
    if (relation != Relation::children) {
        const auto found = n->related.find(relation);
        return found == n->related.end() ? std::vector<AccessibleElement>()
                                         : elementsOf(found->second);
    }
    // Copied: the answer may add nodes, which moves them.
    const auto answer = n->childrenOnRead;
    std::vector<int> children = answer ? answer(*this) : n->children;
    if (m_partial)
        children.resize((children.size() + 1) / 2);
    return elementsOf(children);
}

std::optional<AccessibleElement> FakeAccessibilityTree::parent(const AccessibleElement& element) {
    const Node* n = read(element);
    if (!n || !n->parentReadable || n->parent < 0)
        return std::nullopt;
    return m_elements[std::size_t(n->parent)];
}

// Callbacks are copied before they run: one may add nodes, which moves them.
int FakeAccessibilityTree::act(const AccessibleElement& element, bool Node::*allowed,
                               const QString& what, const QString& detail) {
    const int id = nodeId(element);
    if (id < 0 || id >= nodeCount() || !(node(id).*allowed))
        return -1;
    const QString effect = QStringLiteral("%1 %2").arg(what).arg(id) + detail;
    effects.append(effect);
    if (onEffect)
        onEffect(effect);
    return id;
}

bool FakeAccessibilityTree::press(const AccessibleElement& element) {
    const int id = act(element, &Node::pressable, QStringLiteral("press"));
    if (const auto callback = id >= 0 ? node(id).onPress : nullptr)
        callback();
    return id >= 0;
}

bool FakeAccessibilityTree::focus(const AccessibleElement& element) {
    const int id = act(element, &Node::focusable, QStringLiteral("set focus"));
    if (id >= 0)
        node(id).focused = true;
    if (const auto callback = id >= 0 ? node(id).onFocus : nullptr)
        callback();
    return id >= 0;
}

bool FakeAccessibilityTree::select(const AccessibleElement& element) {
    const int id = act(element, &Node::selectable, QStringLiteral("select"));
    if (id >= 0)
        node(id).selected = true;
    return id >= 0;
}

bool FakeAccessibilityTree::setText(const AccessibleElement& element, const QString& text) {
    const int id = act(element, &Node::textSettable, QStringLiteral("set text"), ' ' + text);
    if (id >= 0)
        node(id).text(LabelText::value) = text;
    if (const auto callback = id >= 0 ? node(id).onSetText : nullptr)
        callback(text);
    return id >= 0;
}

bool FakeAccessibilityTree::raise(const AccessibleElement& window) {
    return act(window, &Node::raisable, QStringLiteral("raise")) >= 0;
}

bool FakeAccessibilityTree::attached(int id) const {
    for (int up = 0; id >= 0 && up <= nodeCount(); ++up) {
        if (id == applicationRoot)
            return true;
        id = node(id).parent;
    }
    return false;
}

Finding FakeAccessibilityTree::find(const AccessibleElement& scope, const Sought& sought) {
    const int scopeId = nodeId(scope);
    finds.append(QStringLiteral("%1 %2").arg(soughtName(sought.kind)).arg(scopeId));
    if (scopeId < 0 || !attached(scopeId))
        return {Presence::absent, {}};
    m_partial = partialFinds > 0;
    if (m_partial)
        --partialFinds;
    const FigmaUITraversal traversal(*this, FigmaLauncher::defaultTraversalRelations());
    std::optional<AccessibleElement> found;
    if (sought.kind == Sought::Kind::actionsPalette) {
        if (focusUnreported) {
            m_partial = false;
            return {Presence::unknown, {}};
        }
        int focused = -1;
        for (int id = 0; id < nodeCount() && focused < 0; ++id) {
            if (node(id).focused && attached(id))
                focused = id;
        }
        if (focused >= 0)
            found = traversal.paletteAround(element(focused));
    } else {
        found = traversal.firstMatch(scope, sought);
    }
    const bool partial = std::exchange(m_partial, false);
    if (found)
        return {Presence::found, *found};
    return {partial ? Presence::unknown : Presence::absent, {}};
}

} // namespace brevlin::testing

#include "FakeAccessibilityTree.h"

#include <algorithm>
#include <stdexcept>

namespace brevlin::testing {

namespace {

class FakeElementRef : public AXElementRef {
public:
    explicit FakeElementRef(int id)
        : id(id) {}
    std::size_t identityHash() const override { return std::hash<int>()(id) * 2654435761u + 1; }
    bool equals(const AXElementRef& other) const override {
        auto* fake = dynamic_cast<const FakeElementRef*>(&other);
        return fake && fake->id == id;
    }
    const int id;
};

} // namespace

int FakeAccessibilityTree::addNode(int parent, const QString& role,
                                   const std::optional<QString>& title) {
    const int id = int(m_nodes.size());
    m_nodes.emplace_back();
    m_elements.emplace_back(std::make_shared<FakeElementRef>(id));
    Node& created = m_nodes.back();
    created.parent = parent;
    if (!role.isEmpty())
        created.attributes.insert(QStringLiteral("AXRole"), AXValue::fromString(role));
    if (title)
        created.attributes.insert(QStringLiteral("AXTitle"), AXValue::fromString(*title));
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

AXElement FakeAccessibilityTree::element(int id) const {
    if (id < 0 || id >= int(m_elements.size()))
        return {};
    return m_elements[std::size_t(id)];
}

int FakeAccessibilityTree::nodeId(const AXElement& element) {
    auto* ref = element.as<FakeElementRef>();
    return ref ? ref->id : -1;
}

void FakeAccessibilityTree::setString(int id, const QString& attribute, const QString& value) {
    node(id).attributes.insert(attribute, AXValue::fromString(value));
}

void FakeAccessibilityTree::setElements(int id, const QString& attribute,
                                        const std::vector<int>& ids) {
    std::vector<AXValue> list;
    for (int member : ids)
        list.push_back(AXValue::fromElement(element(member)));
    node(id).attributes.insert(attribute, AXValue::fromList(std::move(list)));
}

void FakeAccessibilityTree::allowPress(int id, bool allowed) {
    node(id).actions.insert(QStringLiteral("AXPress"), allowed ? axSuccess : axCannotComplete);
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

AXElement FakeAccessibilityTree::applicationElement(qint64) {
    return element(applicationRoot);
}

AXError FakeAccessibilityTree::copyAttributeValue(const AXElement& element,
                                                  const QString& attribute, AXValue& value) {
    ++attributeReads;
    const int id = nodeId(element);
    if (id < 0 || id >= nodeCount())
        return axFailure;
    if (attribute == QLatin1String("AXChildren") && insideWalk && m_walkIncomplete) {
        value = AXValue::fromList({});
        return axSuccess;
    }
    if (attribute == QLatin1String("AXChildren") && node(id).childrenOnRead) {
        // Copied: the answer may add nodes, which moves them.
        const auto answer = node(id).childrenOnRead;
        std::vector<AXValue> list;
        for (int child : answer(*this))
            list.push_back(AXValue::fromElement(m_elements[std::size_t(child)]));
        value = AXValue::fromList(std::move(list));
        return axSuccess;
    }
    const Node& n = node(id);
    if (attribute == QLatin1String("AXChildren")) {
        if (n.children.empty())
            return axNoValue;
        std::vector<AXValue> list;
        list.reserve(n.children.size());
        for (int child : n.children)
            list.push_back(AXValue::fromElement(m_elements[std::size_t(child)]));
        value = AXValue::fromList(std::move(list));
        return axSuccess;
    }
    if (attribute == QLatin1String("AXParent") && !n.attributes.contains(attribute)) {
        if (n.parent < 0)
            return axNoValue;
        value = AXValue::fromElement(m_elements[std::size_t(n.parent)]);
        return axSuccess;
    }
    const auto found = n.attributes.constFind(attribute);
    if (found == n.attributes.constEnd())
        return axAttributeUnsupported;
    value = *found;
    return axSuccess;
}

AXError FakeAccessibilityTree::setAttributeValue(const AXElement& element, const QString& attribute,
                                                 const AXValue& value) {
    const int id = nodeId(element);
    if (id < 0 || id >= nodeCount() || !node(id).writable.contains(attribute))
        return axAttributeUnsupported;
    node(id).attributes.insert(attribute, value);
    effects.append(QStringLiteral("set %1 %2 %3").arg(attribute).arg(id).arg(describe(value)));
    if (onEffect)
        onEffect(effects.last());
    if (node(id).onWrite)
        node(id).onWrite(attribute, value);
    return axSuccess;
}

AXError FakeAccessibilityTree::performAction(const AXElement& element, const QString& action) {
    const int id = nodeId(element);
    if (id < 0 || id >= nodeCount())
        return axFailure;
    const auto found = node(id).actions.constFind(action);
    if (found == node(id).actions.constEnd())
        return axActionUnsupported;
    if (*found != axSuccess)
        return *found;
    effects.append(QStringLiteral("%1 %2")
                       .arg(action == QLatin1String("AXPress")   ? QStringLiteral("press")
                            : action == QLatin1String("AXRaise") ? QStringLiteral("raise")
                                                                 : action)
                       .arg(id));
    if (onEffect)
        onEffect(effects.last());
    if (node(id).onAction)
        node(id).onAction(action);
    return axSuccess;
}

void FakeAccessibilityTree::beginWalk(const AXElement&) {
    if (insideWalk)
        throw std::logic_error("walks must not nest");
    insideWalk = true;
    ++walksBegun;
    m_walkIncomplete = incompleteWalks > 0;
    if (m_walkIncomplete)
        --incompleteWalks;
}

void FakeAccessibilityTree::endWalk() {
    insideWalk = false;
    ++walksEnded;
}

bool FakeAccessibilityTree::confirmElement(const AXElement& element) {
    const int id = nodeId(element);
    confirmations.append(id);
    return !confirm || confirm(id);
}

QString describe(const AXValue& value) {
    switch (value.kind) {
    case AXValue::Kind::none:
        return QStringLiteral("none");
    case AXValue::Kind::string:
        return value.string;
    case AXValue::Kind::boolean:
        return value.boolean ? QStringLiteral("true") : QStringLiteral("false");
    case AXValue::Kind::number:
        return QString::number(value.number);
    case AXValue::Kind::element:
        return QStringLiteral("element");
    case AXValue::Kind::list:
        return QStringLiteral("list");
    case AXValue::Kind::other:
        return QStringLiteral("other");
    }
    return {};
}

} // namespace brevlin::testing

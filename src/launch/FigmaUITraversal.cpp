#include "FigmaUITraversal.h"

#include "model/DockItem.h"

#include <unordered_set>

namespace brevlin {

namespace {

const QString roleAttribute = QStringLiteral("AXRole");
const QString titleAttribute = QStringLiteral("AXTitle");
const QString descriptionAttribute = QStringLiteral("AXDescription");
const QString valueAttribute = QStringLiteral("AXValue");
const QString placeholderAttribute = QStringLiteral("AXPlaceholderValue");
const QString focusedAttribute = QStringLiteral("AXFocused");
const QString selectedAttribute = QStringLiteral("AXSelected");
const QString parentAttribute = QStringLiteral("AXParent");
const QString focusedWindowAttribute = QStringLiteral("AXFocusedWindow");
const QString mainWindowAttribute = QStringLiteral("AXMainWindow");
const QString pressAction = QStringLiteral("AXPress");
const QString raiseAction = QStringLiteral("AXRaise");
const QString textFieldRole = QStringLiteral("AXTextField");
const QString searchWord = QStringLiteral("search");
const QString pluginsLabel = QStringLiteral("plugins");

// Ends a walk however the walk is left.
class WalkBracket {
public:
    WalkBracket(AccessibilityApi& accessibility, const AXElement& root)
        : m_accessibility(accessibility) {
        m_accessibility.beginWalk(root);
    }
    ~WalkBracket() { m_accessibility.endWalk(); }
    WalkBracket(const WalkBracket&) = delete;
    WalkBracket& operator=(const WalkBracket&) = delete;

private:
    AccessibilityApi& m_accessibility;
};

bool mentionsSearch(const std::optional<QString>& text) {
    return text && text->contains(searchWord, Qt::CaseInsensitive);
}

bool isTabRole(const QString& role) {
    return role == QLatin1String("AXButton") || role == QLatin1String("AXRadioButton") ||
           role == QLatin1String("AXStaticText");
}

// Whether `label` normalizes to `wanted`, which is normalized already. A label too long for the
// full folding is only case-folded, which never shortens it: one longer than `wanted` cannot
// match and is passed over without folding a megabyte.
bool labelMatches(const QString& label, const QString& wanted) {
    const QString trimmed = trimmedText(label);
    if (trimmed.size() > FigmaUITraversal::maximumFullyFoldedLength &&
        trimmed.size() > wanted.size())
        return false;
    return FigmaUITraversal::normalizedLabel(trimmed) == wanted;
}

} // namespace

FigmaUITraversal::FigmaUITraversal(AccessibilityApi& accessibility, QStringList traversalAttributes)
    : m_accessibility(accessibility)
    , m_traversalAttributes(std::move(traversalAttributes)) {}

std::optional<QString> FigmaUITraversal::stringAttribute(const AXElement& element,
                                                         const QString& attribute) const {
    AXValue value;
    if (m_accessibility.copyAttributeValue(element, attribute, value) != axSuccess ||
        value.kind != AXValue::Kind::string)
        return std::nullopt;
    return std::move(value.string);
}

bool FigmaUITraversal::booleanAttribute(const AXElement& element, const QString& attribute) const {
    AXValue value;
    if (m_accessibility.copyAttributeValue(element, attribute, value) != axSuccess)
        return false;
    switch (value.kind) {
    case AXValue::Kind::boolean:
        return value.boolean;
    case AXValue::Kind::number:
        // Only 0 and 1 are Boolean numbers; any other number is not a Boolean at all.
        return value.number == 1;
    default:
        return false;
    }
}

std::vector<AXElement> FigmaUITraversal::elementsAttribute(const AXElement& element,
                                                           const QString& attribute) const {
    std::vector<AXElement> elements;
    AXValue value;
    if (m_accessibility.copyAttributeValue(element, attribute, value) != axSuccess)
        return elements;
    if (value.kind == AXValue::Kind::element) {
        if (!value.element.isNull())
            elements.push_back(std::move(value.element));
    } else if (value.kind == AXValue::Kind::list) {
        elements.reserve(value.list.size());
        for (AXValue& member : value.list) {
            if (member.kind == AXValue::Kind::element && !member.element.isNull())
                elements.push_back(std::move(member.element));
        }
    }
    return elements;
}

std::optional<QString> FigmaUITraversal::elementLabel(const AXElement& element) const {
    for (const QString* attribute :
         {&titleAttribute, &descriptionAttribute, &valueAttribute, &placeholderAttribute}) {
        if (auto text = stringAttribute(element, *attribute))
            return text;
    }
    return std::nullopt;
}

QString FigmaUITraversal::normalizedLabel(const QString& text) {
    const QString trimmed = trimmedText(text);
    bool ascii = true;
    for (QChar c : trimmed) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        // Labels are nearly always plain ASCII; spare them the Unicode tables.
        QString folded = trimmed;
        for (QChar& c : folded) {
            if (c.unicode() >= 'A' && c.unicode() <= 'Z')
                c = QChar(c.unicode() + ('a' - 'A'));
        }
        return folded;
    }
    // Qt's decomposition takes time that grows with the square of the length: a megabyte name
    // would stop the launch for minutes. No plugin name is anywhere near this long, so such a
    // label is only case-folded, which still tells it apart from every real name.
    if (trimmed.size() > maximumFullyFoldedLength)
        return trimmed.toUpper().toCaseFolded();
    // Decompose so that diacritics become marks of their own, drop those marks, fold the case,
    // and repeat the first two steps for the few letters whose folding brings marks back.
    // Qt's folding maps one character to one; upper-casing first applies the full mappings
    // (ß to SS, ligatures to their letters), so "Straße" and "STRASSE" fold alike.
    auto stripMarks = [](const QString& s) {
        const QString decomposed = s.normalized(QString::NormalizationForm_D);
        QString stripped;
        stripped.reserve(decomposed.size());
        for (QChar c : decomposed) {
            if (c.category() != QChar::Mark_NonSpacing)
                stripped.append(c);
        }
        return stripped;
    };
    return stripMarks(stripMarks(trimmed).toUpper().toCaseFolded());
}

void FigmaUITraversal::walk(const AXElement& root, int maximumDepth,
                            const std::function<bool(const AXElement&)>& visit) const {
    WalkBracket bracket(m_accessibility, root);
    struct Entry {
        AXElement element;
        int depth;
    };
    std::vector<Entry> queue;
    queue.push_back({root, 0});
    std::unordered_set<std::size_t> visited;
    visited.insert(root.identityHash());
    for (std::size_t head = 0; head < queue.size(); ++head) {
        // Copied out: the queue may grow (and move) while this element is expanded.
        const AXElement element = queue[head].element;
        const int depth = queue[head].depth;
        if (!visit(element))
            return;
        // Once the walk holds all it may list, no element is read for more.
        if (depth >= maximumDepth || queue.size() >= maximumWalkElements)
            continue;
        for (const QString& attribute : m_traversalAttributes) {
            for (AXElement& child : elementsAttribute(element, attribute)) {
                if (queue.size() >= maximumWalkElements)
                    break;
                if (visited.insert(child.identityHash()).second)
                    queue.push_back({std::move(child), depth + 1});
            }
        }
    }
}

std::vector<AXElement> FigmaUITraversal::collectDescendants(const AXElement& root,
                                                            int maximumDepth) const {
    std::vector<AXElement> result;
    walk(root, maximumDepth, [&](const AXElement& element) {
        result.push_back(element);
        return true;
    });
    return result;
}

void FigmaUITraversal::focusMainWindow(const AXElement& application) const {
    std::vector<AXElement> windows = elementsAttribute(application, focusedWindowAttribute);
    if (windows.empty())
        windows = elementsAttribute(application, mainWindowAttribute);
    if (windows.empty())
        return;
    m_accessibility.performAction(windows.front(), raiseAction);
}

std::optional<AXElement>
FigmaUITraversal::confirmed(const std::function<std::optional<AXElement>()>& search,
                            const std::function<bool(const AXElement&)>& stillMatches) const {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<AXElement> found = search();
        if (!found)
            return std::nullopt;
        if (m_accessibility.confirmElement(*found) && stillMatches(*found))
            return found;
    }
    return std::nullopt;
}

std::optional<AXElement>
FigmaUITraversal::firstMatch(const AXElement& root,
                             const std::function<bool(const AXElement&)>& matches) const {
    std::optional<AXElement> found;
    walk(root, searchDepth, [&](const AXElement& element) {
        if (!matches(element))
            return true;
        found = element;
        return false;
    });
    return found;
}

std::optional<AXElement> FigmaUITraversal::findSearchField(const AXElement& application) const {
    auto isTextField = [this](const AXElement& element) {
        return stringAttribute(element, roleAttribute) == textFieldRole;
    };
    auto search = [&]() -> std::optional<AXElement> {
        std::optional<AXElement> firstCandidate;
        std::optional<AXElement> found;
        walk(application, searchDepth, [&](const AXElement& element) {
            if (!isTextField(element))
                return true;
            if (!firstCandidate)
                firstCandidate = element;
            if (mentionsSearch(stringAttribute(element, placeholderAttribute)) ||
                mentionsSearch(stringAttribute(element, descriptionAttribute)) ||
                mentionsSearch(stringAttribute(element, titleAttribute))) {
                found = element;
                return false;
            }
            return true;
        });
        return found ? found : firstCandidate;
    };
    return confirmed(search, isTextField);
}

std::optional<AXElement> FigmaUITraversal::findPluginsTab(const AXElement& application) const {
    auto isPluginsTab = [this](const AXElement& element) {
        const std::optional<QString> label = elementLabel(element);
        if (!label)
            return false;
        const QString role = stringAttribute(element, roleAttribute).value_or(QString());
        return isTabRole(role) && labelMatches(*label, pluginsLabel);
    };
    return confirmed([&] { return firstMatch(application, isPluginsTab); }, isPluginsTab);
}

void FigmaUITraversal::activateTab(const AXElement& element) const {
    if (m_accessibility.performAction(element, pressAction) != axSuccess)
        m_accessibility.setAttributeValue(element, selectedAttribute, AXValue::fromBool(true));
}

std::optional<AXElement> FigmaUITraversal::findMatchingResult(const AXElement& application,
                                                              const QString& pluginName) const {
    const QString wanted = normalizedLabel(pluginName);
    if (wanted.isEmpty())
        return std::nullopt;
    auto isResult = [&](const AXElement& element) {
        const std::optional<QString> label = elementLabel(element);
        return label && labelMatches(*label, wanted);
    };
    return confirmed([&] { return firstMatch(application, isResult); }, isResult);
}

bool FigmaUITraversal::pressElementOrAncestor(const AXElement& element) const {
    auto pressOrSelect = [&](const AXElement& target) {
        return m_accessibility.performAction(target, pressAction) == axSuccess ||
               m_accessibility.setAttributeValue(target, selectedAttribute,
                                                 AXValue::fromBool(true)) == axSuccess;
    };
    if (pressOrSelect(element))
        return true;
    AXElement current = element;
    for (int level = 0; level < 4; ++level) {
        AXValue parent;
        if (m_accessibility.copyAttributeValue(current, parentAttribute, parent) != axSuccess ||
            parent.kind != AXValue::Kind::element || parent.element.isNull())
            return false;
        current = parent.element;
        if (pressOrSelect(current))
            return true;
    }
    return false;
}

bool FigmaUITraversal::focusElement(const AXElement& element) const {
    if (m_accessibility.setAttributeValue(element, focusedAttribute, AXValue::fromBool(true)) ==
        axSuccess)
        return true;
    if (m_accessibility.performAction(element, pressAction) == axSuccess)
        return true;
    return m_accessibility.setAttributeValue(element, selectedAttribute, AXValue::fromBool(true)) ==
           axSuccess;
}

bool FigmaUITraversal::isElementFocused(const AXElement& element) const {
    return booleanAttribute(element, focusedAttribute);
}

bool FigmaUITraversal::isActionsPaletteElement(const AXElement& element) const {
    if (const std::optional<QString> label = elementLabel(element)) {
        for (const QString& tab : {QStringLiteral("all"), QStringLiteral("assets"), pluginsLabel}) {
            if (labelMatches(*label, tab))
                return true;
        }
    }
    return stringAttribute(element, roleAttribute) == textFieldRole &&
           mentionsSearch(stringAttribute(element, placeholderAttribute));
}

bool FigmaUITraversal::isActionsPaletteOpen(const AXElement& application) const {
    auto isPaletteElement = [this](const AXElement& element) {
        return isActionsPaletteElement(element);
    };
    // Closing sends a key that would open the palette again: only a palette the application
    // confirms counts as open.
    return confirmed([&] { return firstMatch(application, isPaletteElement); }, isPaletteElement)
        .has_value();
}

} // namespace brevlin

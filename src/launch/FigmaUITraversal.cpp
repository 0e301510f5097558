#include "FigmaUITraversal.h"

#include "model/DockItem.h"

#include <unordered_set>

namespace brevlin {

namespace {

const QString searchWord = QStringLiteral("search");
const QString pluginsLabel = QStringLiteral("plugins");

bool mentionsSearch(const std::optional<QString>& text) {
    return text && text->contains(searchWord, Qt::CaseInsensitive);
}

bool isTabRole(Role role) {
    return role == Role::button || role == Role::tab || role == Role::staticText;
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

FigmaUITraversal::FigmaUITraversal(AccessibilityApi& accessibility,
                                   std::vector<Relation> traversalRelations)
    : m_accessibility(accessibility)
    , m_traversalRelations(std::move(traversalRelations)) {}

std::optional<QString> FigmaUITraversal::elementLabel(const AccessibleElement& element) const {
    for (LabelText which :
         {LabelText::title, LabelText::description, LabelText::value, LabelText::placeholder}) {
        if (auto text = m_accessibility.text(element, which))
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

void FigmaUITraversal::walk(const AccessibleElement& root, int maximumDepth,
                            const std::function<bool(const AccessibleElement&)>& visit) const {
    struct Entry {
        AccessibleElement element;
        int depth;
    };
    std::vector<Entry> queue;
    queue.push_back({root, 0});
    std::unordered_set<std::size_t> visited;
    visited.insert(root.identityHash());
    for (std::size_t head = 0; head < queue.size(); ++head) {
        // Copied out: the queue may grow (and move) while this element is expanded.
        const AccessibleElement element = queue[head].element;
        const int depth = queue[head].depth;
        if (!visit(element))
            return;
        // Once the walk holds all it may list, no element is read for more.
        if (depth >= maximumDepth || queue.size() >= maximumWalkElements)
            continue;
        for (Relation relation : m_traversalRelations) {
            for (AccessibleElement& child : m_accessibility.elements(element, relation)) {
                if (queue.size() >= maximumWalkElements)
                    break;
                if (visited.insert(child.identityHash()).second)
                    queue.push_back({std::move(child), depth + 1});
            }
        }
    }
}

std::vector<AccessibleElement> FigmaUITraversal::collectDescendants(const AccessibleElement& root,
                                                                    int maximumDepth) const {
    std::vector<AccessibleElement> result;
    walk(root, maximumDepth, [&](const AccessibleElement& element) {
        result.push_back(element);
        return true;
    });
    return result;
}

void FigmaUITraversal::focusMainWindow(const AccessibleElement& application) const {
    std::vector<AccessibleElement> windows =
        m_accessibility.elements(application, Relation::focusedWindow);
    if (windows.empty())
        windows = m_accessibility.elements(application, Relation::mainWindow);
    if (windows.empty())
        return;
    m_accessibility.raise(windows.front());
}

std::optional<AccessibleElement>
FigmaUITraversal::firstMatch(const AccessibleElement& root, int maximumDepth,
                             const std::function<bool(const AccessibleElement&)>& matches) const {
    std::optional<AccessibleElement> found;
    walk(root, maximumDepth, [&](const AccessibleElement& element) {
        if (!matches(element))
            return true;
        found = element;
        return false;
    });
    return found;
}

bool FigmaUITraversal::matches(const AccessibleElement& element, const Sought& sought) const {
    switch (sought.kind) {
    case Sought::Kind::actionsPalette:
        return m_accessibility.role(element) == Role::dialog;
    case Sought::Kind::pluginsTab: {
        const std::optional<QString> label = elementLabel(element);
        return label && isTabRole(m_accessibility.role(element)) &&
               labelMatches(*label, pluginsLabel);
    }
    case Sought::Kind::searchField:
        return m_accessibility.role(element) == Role::textField &&
               (mentionsSearch(m_accessibility.text(element, LabelText::placeholder)) ||
                mentionsSearch(m_accessibility.text(element, LabelText::description)) ||
                mentionsSearch(m_accessibility.text(element, LabelText::title)));
    case Sought::Kind::textField:
        return m_accessibility.role(element) == Role::textField;
    case Sought::Kind::result: {
        const QString wanted = normalizedLabel(sought.name);
        const std::optional<QString> label = elementLabel(element);
        return !wanted.isEmpty() && label && labelMatches(*label, wanted);
    }
    case Sought::Kind::paletteMark:
        if (const std::optional<QString> label = elementLabel(element)) {
            for (const QString& tab :
                 {QStringLiteral("all"), QStringLiteral("assets"), pluginsLabel}) {
                if (labelMatches(*label, tab))
                    return true;
            }
        }
        return m_accessibility.role(element) == Role::textField &&
               mentionsSearch(m_accessibility.text(element, LabelText::placeholder));
    }
    return false;
}

std::optional<AccessibleElement> FigmaUITraversal::firstMatch(const AccessibleElement& scope,
                                                              const Sought& sought) const {
    // An empty name matches nothing: spare the walk.
    if (sought.kind == Sought::Kind::result && normalizedLabel(sought.name).isEmpty())
        return std::nullopt;
    if (sought.kind == Sought::Kind::result) {
        // Folded once, not once per element.
        const QString wanted = normalizedLabel(sought.name);
        return firstMatch(scope, searchDepth, [&](const AccessibleElement& element) {
            const std::optional<QString> label = elementLabel(element);
            return label && labelMatches(*label, wanted);
        });
    }
    return firstMatch(scope, searchDepth,
                      [&](const AccessibleElement& element) { return matches(element, sought); });
}

std::optional<AccessibleElement> FigmaUITraversal::paletteAround(const AccessibleElement& focused,
                                                                 const ParentOf& parentOf) const {
    // The tabs sit beside the field, a level or two up: a small look around each ancestor is
    // enough, and never reads the whole window from its top.
    constexpr int tabLookDepth = 3;
    constexpr std::size_t tabLookElements = 400;
    auto holdsTab = [&](const AccessibleElement& ancestor) {
        std::size_t seen = 0;
        bool found = false;
        walk(ancestor, tabLookDepth, [&](const AccessibleElement& element) {
            if (++seen > tabLookElements)
                return false;
            found = isTabRole(m_accessibility.role(element)) &&
                    matches(element, Sought{Sought::Kind::paletteMark});
            return !found;
        });
        return found;
    };
    AccessibleElement current = focused;
    for (int level = 0; level < searchDepth; ++level) {
        const std::optional<AccessibleElement> parent =
            parentOf ? parentOf(current) : m_accessibility.parent(current);
        if (!parent || parent->isNull())
            return std::nullopt;
        current = *parent;
        const Role role = m_accessibility.role(current);
        if (role == Role::dialog)
            return current;
        if (role == Role::window || role == Role::application || role == Role::webArea)
            return std::nullopt;
        if (holdsTab(current))
            return current;
    }
    return std::nullopt;
}

void FigmaUITraversal::activateTab(const AccessibleElement& element) const {
    if (!m_accessibility.press(element))
        m_accessibility.select(element);
}

bool FigmaUITraversal::pressElementOrAncestor(const AccessibleElement& element) const {
    return m_accessibility.press(element) || selectElementOrPressAncestor(element);
}

bool FigmaUITraversal::selectElementOrPressAncestor(const AccessibleElement& element) const {
    auto pressOrSelect = [&](const AccessibleElement& target) {
        return m_accessibility.press(target) || m_accessibility.select(target);
    };
    if (m_accessibility.select(element))
        return true;
    AccessibleElement current = element;
    for (int level = 0; level < 4; ++level) {
        const std::optional<AccessibleElement> parent = m_accessibility.parent(current);
        if (!parent || parent->isNull())
            return false;
        current = *parent;
        if (pressOrSelect(current))
            return true;
    }
    return false;
}

bool FigmaUITraversal::focusElement(const AccessibleElement& element) const {
    return m_accessibility.focus(element) || m_accessibility.press(element) ||
           m_accessibility.select(element);
}

bool FigmaUITraversal::isElementFocused(const AccessibleElement& element) const {
    return m_accessibility.isFocused(element);
}

} // namespace brevlin

#include "FigmaUITraversal.h"

#include "model/DockItem.h"

#include <unordered_set>

namespace brevlin {

namespace {

const QString searchWord = QStringLiteral("search");
const QString pluginsLabel = QStringLiteral("plugins");

// Ends a walk however the walk is left.
class WalkBracket {
public:
    WalkBracket(AccessibilityApi& accessibility, const AccessibleElement& root)
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
    WalkBracket bracket(m_accessibility, root);
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

std::optional<AccessibleElement> FigmaUITraversal::confirmed(
    const std::function<std::optional<AccessibleElement>()>& search,
    const std::function<bool(const AccessibleElement&)>& stillMatches) const {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::optional<AccessibleElement> found = search();
        if (!found)
            return std::nullopt;
        if (m_accessibility.confirmElement(*found) && stillMatches(*found))
            return found;
    }
    return std::nullopt;
}

std::optional<AccessibleElement>
FigmaUITraversal::firstMatch(const AccessibleElement& root,
                             const std::function<bool(const AccessibleElement&)>& matches) const {
    std::optional<AccessibleElement> found;
    walk(root, searchDepth, [&](const AccessibleElement& element) {
        if (!matches(element))
            return true;
        found = element;
        return false;
    });
    return found;
}

std::optional<AccessibleElement>
FigmaUITraversal::findSearchField(const AccessibleElement& application) const {
    auto isTextField = [this](const AccessibleElement& element) {
        return m_accessibility.role(element) == Role::textField;
    };
    auto search = [&]() -> std::optional<AccessibleElement> {
        std::optional<AccessibleElement> firstCandidate;
        std::optional<AccessibleElement> found;
        walk(application, searchDepth, [&](const AccessibleElement& element) {
            if (!isTextField(element))
                return true;
            if (!firstCandidate)
                firstCandidate = element;
            if (mentionsSearch(m_accessibility.text(element, LabelText::placeholder)) ||
                mentionsSearch(m_accessibility.text(element, LabelText::description)) ||
                mentionsSearch(m_accessibility.text(element, LabelText::title))) {
                found = element;
                return false;
            }
            return true;
        });
        return found ? found : firstCandidate;
    };
    return confirmed(search, isTextField);
}

std::optional<AccessibleElement>
FigmaUITraversal::findPluginsTab(const AccessibleElement& application) const {
    auto isPluginsTab = [this](const AccessibleElement& element) {
        const std::optional<QString> label = elementLabel(element);
        if (!label)
            return false;
        return isTabRole(m_accessibility.role(element)) && labelMatches(*label, pluginsLabel);
    };
    return confirmed([&] { return firstMatch(application, isPluginsTab); }, isPluginsTab);
}

void FigmaUITraversal::activateTab(const AccessibleElement& element) const {
    if (!m_accessibility.press(element))
        m_accessibility.select(element);
}

std::optional<AccessibleElement>
FigmaUITraversal::findMatchingResult(const AccessibleElement& application,
                                     const QString& pluginName) const {
    const QString wanted = normalizedLabel(pluginName);
    if (wanted.isEmpty())
        return std::nullopt;
    auto isResult = [&](const AccessibleElement& element) {
        const std::optional<QString> label = elementLabel(element);
        return label && labelMatches(*label, wanted);
    };
    return confirmed([&] { return firstMatch(application, isResult); }, isResult);
}

bool FigmaUITraversal::pressElementOrAncestor(const AccessibleElement& element) const {
    auto pressOrSelect = [&](const AccessibleElement& target) {
        return m_accessibility.press(target) || m_accessibility.select(target);
    };
    if (pressOrSelect(element))
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

bool FigmaUITraversal::isActionsPaletteElement(const AccessibleElement& element) const {
    if (const std::optional<QString> label = elementLabel(element)) {
        for (const QString& tab : {QStringLiteral("all"), QStringLiteral("assets"), pluginsLabel}) {
            if (labelMatches(*label, tab))
                return true;
        }
    }
    return m_accessibility.role(element) == Role::textField &&
           mentionsSearch(m_accessibility.text(element, LabelText::placeholder));
}

bool FigmaUITraversal::isActionsPaletteOpen(const AccessibleElement& application) const {
    auto isPaletteElement = [this](const AccessibleElement& element) {
        return isActionsPaletteElement(element);
    };
    // Closing sends a key that would open the palette again: only a palette the application
    // confirms counts as open.
    return confirmed([&] { return firstMatch(application, isPaletteElement); }, isPaletteElement)
        .has_value();
}

} // namespace brevlin

#pragma once

#include "Accessibility.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace brevlin {

// Reads and presses Figma's controls through the accessibility interface. Every operation makes
// one pass and never waits; polling belongs to the launcher. A failed read counts as an absent
// value, a failed action or write as having had no effect.
class FigmaUITraversal {
public:
    static constexpr int searchDepth = 8;
    // The most elements one walk lists. The application shapes the tree: one whose children
    // are new elements on every read grows without end inside the depth limit, and every
    // element costs a round trip to it. Figma's own tree is a few thousand elements.
    static constexpr std::size_t maximumWalkElements = 20'000;
    // Longer labels are compared by case only (see normalizedLabel).
    static constexpr qsizetype maximumFullyFoldedLength = 1'024;

    FigmaUITraversal(AccessibilityApi& accessibility, QStringList traversalAttributes);

    const QStringList& traversalAttributes() const { return m_traversalAttributes; }

    std::optional<QString> stringAttribute(const AXElement& element,
                                           const QString& attribute) const;
    bool booleanAttribute(const AXElement& element, const QString& attribute) const;
    std::vector<AXElement> elementsAttribute(const AXElement& element,
                                             const QString& attribute) const;
    // The first present string of title, description, value and placeholder.
    std::optional<QString> elementLabel(const AXElement& element) const;
    // Trimmed, then folded so that case and diacritics do not count; equal results mean equal
    // labels (canonically equivalent spellings included). Text longer than
    // maximumFullyFoldedLength after trimming is folded by case only.
    static QString normalizedLabel(const QString& text);

    // Breadth-first from `root`, each element once (by identity hash), root first; elements at
    // `maximumDepth` are listed but not expanded, and the walk lists at most
    // maximumWalkElements.
    std::vector<AXElement> collectDescendants(const AXElement& root, int maximumDepth) const;
    // The same walk, handing each element to `visit` in order until it returns false.
    void walk(const AXElement& root, int maximumDepth,
              const std::function<bool(const AXElement&)>& visit) const;

    void focusMainWindow(const AXElement& application) const;
    std::optional<AXElement> findSearchField(const AXElement& application) const;
    std::optional<AXElement> findPluginsTab(const AXElement& application) const;
    void activateTab(const AXElement& element) const;
    std::optional<AXElement> findMatchingResult(const AXElement& application,
                                                const QString& pluginName) const;
    bool pressElementOrAncestor(const AXElement& element) const;
    bool focusElement(const AXElement& element) const;
    bool isElementFocused(const AXElement& element) const;
    bool isActionsPaletteElement(const AXElement& element) const;
    bool isActionsPaletteOpen(const AXElement& application) const;

private:
    // What `search` finds, once the application confirms it is still there and `stillMatches`
    // holds on a fresh read. A backend that keeps trees between walks drops a tree that failed
    // confirmation, so the one retry reads afresh.
    std::optional<AXElement>
    confirmed(const std::function<std::optional<AXElement>()>& search,
              const std::function<bool(const AXElement&)>& stillMatches) const;
    std::optional<AXElement> firstMatch(const AXElement& root,
                                        const std::function<bool(const AXElement&)>& matches) const;

    AccessibilityApi& m_accessibility;
    QStringList m_traversalAttributes;
};

} // namespace brevlin

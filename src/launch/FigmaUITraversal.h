#pragma once

#include "Accessibility.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace brevlin {

// Reads and presses Figma's controls through the accessibility interface, and the walk and
// matching rules with which a backend answers AccessibilityApi::find. Every operation makes one
// pass and never waits; polling belongs to the launcher. A failed read counts as an absent value,
// a failed action or write as having had no effect.
class FigmaUITraversal {
public:
    static constexpr int searchDepth = 8;
    // The most elements one walk lists. The application shapes the tree: one whose children
    // are new elements on every read grows without end inside the depth limit, and every
    // element costs a round trip to it. Figma's own tree is a few thousand elements.
    static constexpr std::size_t maximumWalkElements = 20'000;
    // Longer labels are compared by case only (see normalizedLabel).
    static constexpr qsizetype maximumFullyFoldedLength = 1'024;

    // `traversalRelations`: where a walk looks from each element, in this order.
    FigmaUITraversal(AccessibilityApi& accessibility, std::vector<Relation> traversalRelations);

    const std::vector<Relation>& traversalRelations() const { return m_traversalRelations; }

    // The first present text of title, description, value and placeholder.
    std::optional<QString> elementLabel(const AccessibleElement& element) const;
    // Trimmed, then folded so that case and diacritics do not count; equal results mean equal
    // labels (canonically equivalent spellings included). Text longer than
    // maximumFullyFoldedLength after trimming is folded by case only.
    static QString normalizedLabel(const QString& text);

    // Breadth-first from `root`, each element once (by identity hash), root first; elements at
    // `maximumDepth` are listed but not expanded, and the walk lists at most
    // maximumWalkElements.
    std::vector<AccessibleElement> collectDescendants(const AccessibleElement& root,
                                                      int maximumDepth) const;
    // The same walk, handing each element to `visit` in order until it returns false.
    void walk(const AccessibleElement& root, int maximumDepth,
              const std::function<bool(const AccessibleElement&)>& visit) const;

    void focusMainWindow(const AccessibleElement& application) const;
    void activateTab(const AccessibleElement& element) const;
    bool pressElementOrAncestor(const AccessibleElement& element) const;
    // What pressElementOrAncestor tries once the element's own press has failed.
    bool selectElementOrPressAncestor(const AccessibleElement& element) const;
    bool focusElement(const AccessibleElement& element) const;
    bool isElementFocused(const AccessibleElement& element) const;

    // Whether `element` is what `sought` describes (actionsPalette: whether it is a dialog).
    bool matches(const AccessibleElement& element, const Sought& sought) const;
    // The first match in a walk of `scope` to searchDepth, as far as the backend's reads went:
    // none says "absent" only when every read was answered, which the backend alone knows.
    std::optional<AccessibleElement> firstMatch(const AccessibleElement& scope,
                                                const Sought& sought) const;
    // The palette holding `focused`: its nearest dialog ancestor, else the nearest ancestor
    // whose subtree holds a palette tab, climbing at most searchDepth levels and never to a
    // window. None when nothing up there is a palette.
    // `parentOf` climbs; by default the backend's parent, a backend that leaves containers out
    // of its walks may climb through them instead (the palette may be one).
    using ParentOf = std::function<std::optional<AccessibleElement>(const AccessibleElement&)>;
    std::optional<AccessibleElement> paletteAround(const AccessibleElement& focused,
                                                   const ParentOf& parentOf = {}) const;

private:
    std::optional<AccessibleElement>
    firstMatch(const AccessibleElement& root, int maximumDepth,
               const std::function<bool(const AccessibleElement&)>& matches) const;

    AccessibilityApi& m_accessibility;
    std::vector<Relation> m_traversalRelations;
};

} // namespace brevlin

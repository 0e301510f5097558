#pragma once

#include "launch/Accessibility.h"
#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"

#include <functional>
#include <optional>
#include <vector>

namespace brevlin::testing {

// The launcher's questions asked one at a time through AccessibilityApi::find, as tests and
// measurements ask them; `last` keeps the last answer's presence.
class Searches : public FigmaUITraversal {
public:
    explicit Searches(AccessibilityApi& api,
                      std::vector<Relation> relations = FigmaLauncher::defaultTraversalRelations())
        : FigmaUITraversal(api, std::move(relations))
        , m_api(api) {}

    std::optional<AccessibleElement> find(const AccessibleElement& scope, const Sought& sought) {
        const Finding finding = m_api.find(scope, sought);
        last = finding.presence;
        return finding.isFound() ? std::optional<AccessibleElement>(finding.element) : std::nullopt;
    }
    std::optional<AccessibleElement> findPluginsTab(const AccessibleElement& scope) {
        return find(scope, Sought{Sought::Kind::pluginsTab});
    }
    std::optional<AccessibleElement> findSearchField(const AccessibleElement& scope) {
        return find(scope, Sought{Sought::Kind::searchField});
    }
    std::optional<AccessibleElement> findMatchingResult(const AccessibleElement& scope,
                                                        const QString& name) {
        return find(scope, Sought{Sought::Kind::result, name});
    }
    bool isActionsPaletteOpen(const AccessibleElement& scope) {
        return find(scope, Sought{Sought::Kind::paletteMark}).has_value();
    }
    // A walk read element by element, bracketed as the backend's own searches bracket theirs
    // when `bracket` is set (so that a backend reading from a kept tree does so here too).
    std::vector<AccessibleElement> collectDescendants(const AccessibleElement& root,
                                                      int maximumDepth) {
        if (bracket)
            bracket(&root);
        std::vector<AccessibleElement> listed =
            FigmaUITraversal::collectDescendants(root, maximumDepth);
        if (bracket)
            bracket(nullptr);
        return listed;
    }

    Presence last = Presence::unknown;
    // Called with the root before a walk and with null after it.
    std::function<void(const AccessibleElement*)> bracket;

private:
    AccessibilityApi& m_api;
};

// Brackets the walks of `searches` with those of a backend that offers them.
template <typename Backend> void bracketWalks(Searches& searches, Backend& backend) {
    searches.bracket = [&backend](const AccessibleElement* root) {
        if (root)
            backend.beginWalk(*root);
        else
            backend.endWalk();
    };
}

} // namespace brevlin::testing

#pragma once

#include "launch/Accessibility.h"
#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"

#include <optional>

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

    Presence last = Presence::unknown;

private:
    AccessibilityApi& m_api;
};

} // namespace brevlin::testing

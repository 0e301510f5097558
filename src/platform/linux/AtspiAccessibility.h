#pragma once

#include "launch/Accessibility.h"

#include <QString>

#include <memory>

namespace brevlin {

class FigmaUITraversal;

// An element of the accessibility bus: the owning connection's bus name and the object path.
class AtspiElementRef final : public AccessibleElementRef {
public:
    AtspiElementRef(QString busName, QString path)
        : m_busName(std::move(busName))
        , m_path(std::move(path)) {}

    const QString& busName() const { return m_busName; }
    const QString& path() const { return m_path; }

    std::size_t identityHash() const override;
    bool equals(const AccessibleElementRef& other) const override;

    // The node of the backend's tree `treeId` this element was last found at, so that the many
    // reads of one element in a walk look it up once. Trees are numbered, never reused.
    void* cachedNode(quint64 treeId) const { return treeId == m_treeId ? m_node : nullptr; }
    void cacheNode(quint64 treeId, void* node) const {
        m_treeId = treeId;
        m_node = node;
    }

private:
    QString m_busName;
    QString m_path;
    mutable quint64 m_treeId = 0;
    mutable void* m_node = nullptr;
};

// The accessibility interface over AT-SPI. Reads come from the kept tree (AtspiTree.h), whose
// objects are translated into roles and texts by AtspiTranslate.h; actions go straight to the
// application.
//
// Between beginWalk and endWalk every read is answered from a tree of the application kept from
// walk to walk. A walk starts with one round trip to the application, after which every event
// it sent before has arrived; the parts those events report as changed are read again. Reading
// is lazy and a whole level at a time: when the walk asks for one element's children, the
// children of every element at that depth are fetched together, the requests pipelined rather
// than sent one round trip at a time. Reads outside a walk always go to the application.
// A walk ends in bounded time whatever the application does (see lastWalkComplete); kept trees
// are dropped 30 s after they were started, also while no walk comes.
//
// Nameless layout containers (fillers, panels, sections…) are left out: their children take
// their place. The application's children are its windows, whatever their role. The focused
// window is the active one; the main window the active one, else the first; no element has
// contents.
class AtspiAccessibility final : public AccessibilityApi {
public:
    AtspiAccessibility();
    ~AtspiAccessibility() override;

    // Trusted while the accessibility bus answers and assistive technologies are enabled
    // (org.a11y.Status IsEnabled or ScreenReaderEnabled). Asking turns IsEnabled on; toolkits
    // read it when they start, so applications already running must be restarted.
    bool isProcessTrusted(bool prompt) override;
    // The same, asked without blocking (see AtspiTrust.h).
    void checkProcessTrusted(bool prompt, std::function<void(bool trusted)> answer) override;
    // Also asks for the attributes of the application and its windows, as screen readers do:
    // Chromium publishes its tree only once someone has (its web contents a moment later).
    AccessibleElement applicationElement(qint64 processIdentifier) override;

    Role role(const AccessibleElement& element) override;
    std::optional<QString> text(const AccessibleElement& element, LabelText which) override;
    TextRead readText(const AccessibleElement& element, LabelText which) override;
    std::vector<AccessibleElement> elements(const AccessibleElement& element,
                                            Relation relation) override;
    std::optional<AccessibleElement> parent(const AccessibleElement& element) override;
    bool isFocused(const AccessibleElement& element) override;
    // Selected, or a tab that is current (some toolkits mark it focused instead).
    bool isSelected(const AccessibleElement& element) override;
    // Text.GetSelection and CharacterCount, asked together.
    bool isAllTextSelected(const AccessibleElement& element) override;

    // The first action whose non-localized name stands for a press ("press", "click",
    // "activate", …).
    bool press(const AccessibleElement& element) override;
    // The same three steps (the number of actions, their names, the action) as calls answered in
    // the main loop, each given the time a batch's call has.
    void pressWithoutWaiting(const AccessibleElement& element,
                             std::function<void(bool pressed)> done) override;
    void focusWithoutWaiting(const AccessibleElement& element,
                             std::function<void(bool focused)> done) override;
    // Component.GrabFocus.
    bool focus(const AccessibleElement& element) override;
    // Through the parent's Selection; a parent without one is never asked.
    bool select(const AccessibleElement& element) override;
    // EditableText.SetTextContents.
    bool setText(const AccessibleElement& element, const QString& text) override;
    // Raising a window is the window manager's business; asking the toolkit to focus the window
    // is as far as accessibility goes.
    bool raise(const AccessibleElement& window) override;

    // Answered from the kept tree, caught up with the application's events, in one walk of
    // the scope bounded in time; `unknown` when that walk could not read all of the scope. What
    // it finds is confirmed with the application (the element and its ancestors there and
    // showing, and still matching on a fresh read) before it counts. actionsPalette starts from
    // the element the application last reported focused (its focus event), or else from the
    // active window's focused element, found by one Collection query where the toolkit has one.
    // An answer (but `unknown`) is given again without asking for a tenth of a second, while the
    // application reports no change to the scope, below it or above it; so are texts and states.
    Finding find(const AccessibleElement& scope, const Sought& sought) override;

    // The walk find makes, for measurements and tests that read the tree element by element:
    // between beginWalk and endWalk reads are answered from the kept tree.
    void beginWalk(const AccessibleElement& root);
    void endWalk();
    // Whether the last walk read all it asked for. A walk waits for the application a bounded
    // time; what it had not read by then it left out (and the next walk reads it).
    bool lastWalkComplete() const;
    // The element and each of its ancestors up to the application, read from the application:
    // all there and showing. When not, the application's kept tree is dropped.
    bool confirmElement(const AccessibleElement& element);

    // How the palette was found so far: from the focus, or not at all (the launcher then
    // searches the whole window).
    struct AnchorCounts {
        int fromFocusEvent = 0;
        int fromFocusQuery = 0;
        int none = 0;
    };
    AnchorCounts anchorCounts() const;

    // Number of requests sent to the accessibility bus so far (for measurements).
    quint64 requestCount() const;
    // How long the reads of one turn of the event loop may hold the thread in all; 0: each read
    // has its own time, for callers that read element by element outside any event loop.
    void setTurnBudget(int milliseconds);
    // The AT-SPI role the element reports (an AtspiRole), or -1 when it cannot be read: for
    // checking the translation against what the toolkit says.
    int platformRole(const AccessibleElement& element);

    class Private;

private:
    enum class Confirmation { there, gone, unanswered };
    Confirmation confirmation(const AccessibleElement& element);
    // From the parents known from the kept tree and from climbs before; nothing when they are
    // not all known up to the application, or the application names another parent for one.
    std::optional<Confirmation> confirmKnownChain(const AtspiElementRef& ref);
    // An element of the chain from a found element up to its application, and its parent.
    struct ChainLink {
        QString path;
        QString parent;
    };
    // The states of the whole chain in one batch, with `askParents` each link too (nothing when
    // one moved): there only when all are showing; gone drops the application's kept tree.
    std::optional<Confirmation> confirmChain(const QString& bus,
                                             const std::vector<ChainLink>& links, bool askParents);
    Finding findPalette(const AccessibleElement& application, const FigmaUITraversal& traversal);
    Finding findAfresh(const AccessibleElement& scope, const Sought& sought,
                       const FigmaUITraversal& traversal);

    std::unique_ptr<Private> d;
};

} // namespace brevlin

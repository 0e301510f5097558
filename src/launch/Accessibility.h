#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace brevlin {

// A backend's reference to one accessibility element. Backends derive from it; the launch engine
// only compares and hashes.
class AccessibleElementRef {
public:
    virtual ~AccessibleElementRef() = default;
    // Equal elements hash equally (the traversal's visited set relies on it).
    virtual std::size_t identityHash() const = 0;
    virtual bool equals(const AccessibleElementRef& other) const = 0;
};

// Copyable handle of an element; empty when null.
class AccessibleElement {
public:
    AccessibleElement() = default;
    explicit AccessibleElement(std::shared_ptr<const AccessibleElementRef> ref)
        : m_ref(std::move(ref)) {}

    bool isNull() const { return !m_ref; }
    std::size_t identityHash() const { return m_ref ? m_ref->identityHash() : 0; }
    const AccessibleElementRef* ref() const { return m_ref.get(); }
    template <typename T> const T* as() const { return dynamic_cast<const T*>(m_ref.get()); }

    friend bool operator==(const AccessibleElement& a, const AccessibleElement& b) {
        if (!a.m_ref || !b.m_ref)
            return !a.m_ref && !b.m_ref;
        return a.m_ref == b.m_ref || a.m_ref->equals(*b.m_ref);
    }

private:
    std::shared_ptr<const AccessibleElementRef> m_ref;
};

struct AccessibleElementHash {
    std::size_t operator()(const AccessibleElement& e) const { return e.identityHash(); }
};

// What an element is, as far as finding Figma's controls needs to tell: the Plugins tab may be
// a button, a tab or a bit of static text, and the search field is a single-line text field.
// Everything else is `other`.
enum class Role {
    application,
    window,
    webArea,   // the document a web view shows
    textField, // single-line editable text; multi-line text is `other`
    button,
    tab,        // a tab of a tab list, or a radio button
    staticText, // text that is read, not edited
    other,
};

// The four texts an element may be known by.
enum class LabelText {
    title,       // its own name
    description, // a longer explanation
    value,       // what it holds (a text field's contents, a static text's words)
    placeholder, // the hint an empty text field shows
};

// Where a walk looks for more elements from one element. The window relations are answered
// only by an application element.
enum class Relation {
    focusedWindow, // the window with the keyboard focus
    mainWindow,    // the application's main window
    windows,       // all of its windows
    children,
    contents, // what the element presents as its content, where that is not among its children
};

// The accessibility operations the launcher needs, in its own terms. One backend per platform
// translates them. Everything runs on the main thread.
//
// Reads never fail loudly: a read the platform cannot answer gives the same as an element
// without that property (no text, no elements, no parent, not focused); where a search must
// tell the two apart, lastWalkComplete does. Actions say whether they took effect. A null
// element, or one of another backend, reads as nothing and takes no action.
class AccessibilityApi {
public:
    virtual ~AccessibilityApi() = default;

    // Whether this process may use the accessibility interface; with `prompt` the platform may
    // ask the user to allow it. Never shows a prompt when `prompt` is false.
    virtual bool isProcessTrusted(bool prompt) = 0;
    // The same question without holding the caller: `answer` runs exactly once, later, on the
    // main thread. Backends whose answer may take a while (a bus round trip) override it; this
    // one asks isProcessTrusted at once.
    virtual void checkProcessTrusted(bool prompt, std::function<void(bool trusted)> answer) {
        answer(isProcessTrusted(prompt));
    }
    // The root element of the application with this process id; null when the platform has
    // none (not running, or not known to the accessibility interface yet). Asking again for
    // the same process gives an equal element.
    virtual AccessibleElement applicationElement(qint64 processIdentifier) = 0;

    // --- Reads ---
    // What the element is; `other` also when the read fails.
    virtual Role role(const AccessibleElement& element) = 0;
    // One of its texts. Absent when the element has no such text or the read fails; present and
    // empty when it has the text and the text is empty. Only a present text counts as a label,
    // so a backend must not turn a missing text into an empty one, nor the other way round.
    virtual std::optional<QString> text(const AccessibleElement& element, LabelText which) = 0;
    // The elements reached from `element` by `relation`, in the platform's order, none null;
    // empty when there are none, the relation does not apply, or the read fails. Inside a walk,
    // lastWalkComplete says whether an empty answer may have been a read that failed or was
    // left out.
    virtual std::vector<AccessibleElement> elements(const AccessibleElement& element,
                                                    Relation relation) = 0;
    // The element's parent as the walk would reach it; absent for an application element and
    // when the read fails.
    virtual std::optional<AccessibleElement> parent(const AccessibleElement& element) = 0;
    // Whether it has the keyboard focus; false also when the read fails.
    virtual bool isFocused(const AccessibleElement& element) = 0;
    // Whether it is the selected one among its siblings (a current tab); false also when the
    // read fails.
    virtual bool isSelected(const AccessibleElement& element) = 0;

    // --- Actions: each returns whether it took effect ---
    // Performs the element's press-like action (press, click, activate…). False when the
    // element has no such action, or the platform refused or did not answer.
    virtual bool press(const AccessibleElement& element) = 0;
    // Moves the keyboard focus to the element. False when it cannot take the focus. True means
    // the request was accepted; the focus may arrive a moment later (see isFocused).
    virtual bool focus(const AccessibleElement& element) = 0;
    // Makes the element the selected one among its siblings. False when nothing selects it.
    virtual bool select(const AccessibleElement& element) = 0;
    // Replaces the whole text of an editable element. False when the element's text cannot be
    // set; then nothing of it has changed.
    virtual bool setText(const AccessibleElement& element, const QString& text) = 0;
    // Brings a window to the front of its application. False when the platform cannot.
    virtual bool raise(const AccessibleElement& window) = 0;

    // --- Walks ---
    // Bracket one breadth-first walk (never nested), so a backend may answer the walk's reads
    // from one snapshot of the tree. Reads outside a walk always go to the platform.
    virtual void beginWalk(const AccessibleElement& root) { (void)root; }
    virtual void endWalk() {}
    // Whether the last walk read everything it asked for. A backend that bounds its walks in
    // time answers false when one stopped early; a search that found nothing in such a walk has
    // not shown that the element is absent. A backend whose walks always read everything
    // answers true.
    virtual bool lastWalkComplete() const { return true; }

    // Whether `element` is still part of its application's showing tree, asked of the
    // application itself, never of anything a backend kept between walks. The launcher asks
    // before it acts on what a walk found. A backend that keeps trees between walks drops a kept
    // tree that fails the check, so that the next walk reads afresh. A backend whose walks
    // always read afresh may answer true.
    virtual bool confirmElement(const AccessibleElement& element) {
        (void)element;
        return true;
    }
};

} // namespace brevlin

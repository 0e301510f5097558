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
    dialog,    // a dialog shown inside a window (a palette, a popover); a top-level one is `window`
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

// What a search in Figma's interface looks for, in the launcher's words.
struct Sought {
    enum class Kind {
        // The open Actions palette itself: the dialog, or the nearest element holding its tabs,
        // that contains the element with the keyboard focus. Asked of an application.
        actionsPalette,
        // A tab, button or static text labelled "Plugins".
        pluginsTab,
        // A text field whose placeholder, else description, else title mentions "search".
        searchField,
        // Any text field.
        textField,
        // An element whose whole label equals `name`, folded for case and diacritics.
        result,
        // Anything that shows the palette: a label "All", "Assets" or "Plugins", or a text field
        // whose placeholder mentions "search".
        paletteMark,
    };
    Kind kind;
    QString name = {}; // of a result
};

// What a search saw of its scope.
enum class Presence {
    found,   // the element is there, and the application confirmed it
    absent,  // the whole scope was read and nothing in it is what was sought
    unknown, // part of the scope could not be read (in time): nothing can be said
};

struct Finding {
    Presence presence = Presence::unknown;
    AccessibleElement element; // when found
    bool isFound() const { return presence == Presence::found; }
};

// The accessibility operations the launcher needs, in its own terms. One backend per platform
// translates them. Everything runs on the main thread.
//
// Reads never fail loudly: a read the platform cannot answer gives the same as an element
// without that property (no text, no elements, no parent, not focused). Where that difference
// matters (may a fallback run?), the launcher asks `find`, which tells "not there" from "not
// read". Actions say whether they took effect. A null element, or one of another backend, reads
// as nothing and takes no action.
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
    // The same, telling a read that did not finish (in time) from an absent text: where an
    // empty field may not be taken on trust (is there text to clear?). Backends whose reads
    // always finish answer as `text` does.
    struct TextRead {
        bool answered = true;
        std::optional<QString> text;
        // Whether the element holds a text that can be read, though it be empty: what keys do
        // to it shows there. False where that is not known.
        bool readable = false;
    };
    virtual TextRead readText(const AccessibleElement& element, LabelText which) {
        std::optional<QString> read = text(element, which);
        const bool readable = read.has_value();
        return {true, std::move(read), readable};
    }
    // The elements reached from `element` by `relation`, in the platform's order, none null;
    // empty when there are none, the relation does not apply, or the read fails.
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
    // Whether the whole of its text is selected, as Select All leaves it; false also when it has
    // no text, or the backend cannot read a selection (a wait for one then lasts its whole time).
    virtual bool isAllTextSelected(const AccessibleElement& element) {
        (void)element;
        return false;
    }

    // --- Actions: each returns whether it took effect ---
    // Performs the element's press-like action (press, click, activate…). False when the
    // element has no such action, or the platform refused or did not answer.
    virtual bool press(const AccessibleElement& element) = 0;
    // The same press, without holding the caller while the application answers: `done` gets
    // what press() would return, once, on the caller's thread, perhaps before this returns.
    virtual void pressWithoutWaiting(const AccessibleElement& element,
                                     std::function<void(bool pressed)> done) {
        done(press(element));
    }
    // The same focus request, without holding the caller (as pressWithoutWaiting).
    virtual void focusWithoutWaiting(const AccessibleElement& element,
                                     std::function<void(bool focused)> done) {
        done(focus(element));
    }
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

    // --- Searches ---
    // The first element within `scope` that is what `sought` describes. The guarantees every
    // backend keeps:
    // - Order: breadth-first from `scope` (the scope itself first), following the focused
    //   window, the main window, all windows, the children and the contents, each element once;
    //   the first match in that order is the answer.
    // - Depth: elements down to depth 8 below the scope are looked at, counted on the tree as the
    //   backend presents it. A backend that leaves out nameless layout containers (their children
    //   take their place) or elements that are not showing counts only what it presents, so
    //   "depth 8" may reach further down the platform's own tree than eight levels.
    // - `found` only for an element the application confirms is still there and still matches.
    //   A backend that follows the application's reports of its changes may give an answer
    //   again, for a moment, while no change touching the scope was reported.
    // - `absent` only when every element of the scope down to that depth was read. A search that
    //   could not read all of it (the application did not answer in time, a list was read only
    //   in part) answers `unknown`, never `absent`. A scope that is itself gone is `absent`.
    // - actionsPalette is asked of an application element: found from where the keyboard focus
    //   is, climbing to the nearest dialog, or to the nearest ancestor that holds a palette tab,
    //   at most eight levels up; `absent` when the focus is known and no palette holds it.
    // - A call holds the caller for a bounded time (the backend's walk budget); what it could not
    //   read by then makes the answer `unknown`, and a later call goes on from there.
    virtual Finding find(const AccessibleElement& scope, const Sought& sought) = 0;
};

} // namespace brevlin

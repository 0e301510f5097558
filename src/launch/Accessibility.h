#pragma once

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace brevlin {

// A backend's reference to one accessibility element. Backends derive from it; the launch engine
// only compares and hashes.
class AXElementRef {
public:
    virtual ~AXElementRef() = default;
    // Equal elements hash equally (the traversal's visited set relies on it).
    virtual std::size_t identityHash() const = 0;
    virtual bool equals(const AXElementRef& other) const = 0;
};

// Copyable handle of an element; empty when null.
class AXElement {
public:
    AXElement() = default;
    explicit AXElement(std::shared_ptr<const AXElementRef> ref)
        : m_ref(std::move(ref)) {}

    bool isNull() const { return !m_ref; }
    std::size_t identityHash() const { return m_ref ? m_ref->identityHash() : 0; }
    const AXElementRef* ref() const { return m_ref.get(); }
    template <typename T> const T* as() const { return dynamic_cast<const T*>(m_ref.get()); }

    friend bool operator==(const AXElement& a, const AXElement& b) {
        if (!a.m_ref || !b.m_ref)
            return !a.m_ref && !b.m_ref;
        return a.m_ref == b.m_ref || a.m_ref->equals(*b.m_ref);
    }

private:
    std::shared_ptr<const AXElementRef> m_ref;
};

struct AXElementHash {
    std::size_t operator()(const AXElement& e) const { return e.identityHash(); }
};

// An attribute value as the accessibility interface hands it over.
struct AXValue {
    enum class Kind { none, string, boolean, number, element, list, other };

    Kind kind = Kind::none;
    QString string;
    bool boolean = false;
    double number = 0;
    AXElement element;
    std::vector<AXValue> list;

    static AXValue none() { return {}; }
    static AXValue fromString(QString s) {
        AXValue v;
        v.kind = Kind::string;
        v.string = std::move(s);
        return v;
    }
    static AXValue fromBool(bool b) {
        AXValue v;
        v.kind = Kind::boolean;
        v.boolean = b;
        return v;
    }
    static AXValue fromNumber(double n) {
        AXValue v;
        v.kind = Kind::number;
        v.number = n;
        return v;
    }
    static AXValue fromElement(AXElement e) {
        AXValue v;
        v.kind = Kind::element;
        v.element = std::move(e);
        return v;
    }
    static AXValue fromList(std::vector<AXValue> l) {
        AXValue v;
        v.kind = Kind::list;
        v.list = std::move(l);
        return v;
    }
    static AXValue other() {
        AXValue v;
        v.kind = Kind::other;
        return v;
    }
};

// Status codes in the macOS vocabulary: 0 is success, anything else a failure.
using AXError = int;
inline constexpr AXError axSuccess = 0;
inline constexpr AXError axFailure = -25200;
inline constexpr AXError axAttributeUnsupported = -25205;
inline constexpr AXError axActionUnsupported = -25206;
inline constexpr AXError axCannotComplete = -25204;
inline constexpr AXError axNoValue = -25212;

// The accessibility operations the launcher needs, in the macOS vocabulary ("AXRole", "AXTitle",
// "AXChildren", "AXPress", "AXTextField", …). Each backend translates its platform into it.
class AccessibilityApi {
public:
    virtual ~AccessibilityApi() = default;

    // Whether this process may use the accessibility interface; with `prompt` the platform may
    // ask the user to allow it.
    virtual bool isProcessTrusted(bool prompt) = 0;
    // The same question without holding the caller: `answer` runs once, later, on the main
    // thread. Backends whose answer may take a while (a bus round trip) override it; this one
    // asks isProcessTrusted at once.
    virtual void checkProcessTrusted(bool prompt, std::function<void(bool trusted)> answer) {
        answer(isProcessTrusted(prompt));
    }
    // The root element of the application with this process id.
    virtual AXElement applicationElement(qint64 processIdentifier) = 0;

    virtual AXError copyAttributeValue(const AXElement& element, const QString& attribute,
                                       AXValue& value) = 0;
    virtual AXError setAttributeValue(const AXElement& element, const QString& attribute,
                                      const AXValue& value) = 0;
    virtual AXError performAction(const AXElement& element, const QString& action) = 0;

    // Bracket one breadth-first walk, so a backend may answer the walk's reads from one snapshot
    // of the tree. Reads outside a walk always go to the platform.
    virtual void beginWalk(const AXElement& root) { (void)root; }
    virtual void endWalk() {}
    // Whether the last walk read everything it asked for. A backend that bounds its walks in time
    // answers false when one stopped early; a search that found nothing in such a walk has not
    // shown that the element is absent. A backend whose walks always read everything answers
    // true.
    virtual bool lastWalkComplete() const { return true; }

    // Whether `element` is still part of its application's showing tree, asked of the
    // application itself, never of anything a backend kept between walks. The launcher asks
    // before it acts on what a walk found. A backend whose walks always read afresh may answer
    // true.
    virtual bool confirmElement(const AXElement& element) {
        (void)element;
        return true;
    }
};

} // namespace brevlin

#pragma once

#include "launch/Accessibility.h"

#include <QString>

#include <memory>

namespace brevlin {

// An element of the accessibility bus: the owning connection's bus name and the object path.
class AtspiElementRef final : public AXElementRef {
public:
    AtspiElementRef(QString busName, QString path)
        : m_busName(std::move(busName))
        , m_path(std::move(path)) {}

    const QString& busName() const { return m_busName; }
    const QString& path() const { return m_path; }

    std::size_t identityHash() const override;
    bool equals(const AXElementRef& other) const override;

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

// The accessibility interface over AT-SPI, translated into the vocabulary the launcher reads.
//
// Between beginWalk and endWalk every read is answered from a tree of the application kept from
// walk to walk. A walk starts with one round trip to the application, after which every event
// it sent before has arrived; the parts those events report as changed are read again. Reading
// is lazy and a whole level at a time: when the walk asks for one element's children, the
// children of every element at that depth are fetched together, the requests pipelined rather
// than sent one round trip at a time. Reads outside a walk always go to the application.
// A walk ends in bounded time whatever the application does (see lastWalkComplete); kept trees
// are dropped 30 s after they were started, also while no walk comes.
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
    AXElement applicationElement(qint64 processIdentifier) override;

    AXError copyAttributeValue(const AXElement& element, const QString& attribute,
                               AXValue& value) override;
    AXError setAttributeValue(const AXElement& element, const QString& attribute,
                              const AXValue& value) override;
    AXError performAction(const AXElement& element, const QString& action) override;

    void beginWalk(const AXElement& root) override;
    void endWalk() override;
    // The element and each of its ancestors up to the application, read from the application:
    // all there and showing. When not, the application's kept tree is dropped.
    bool confirmElement(const AXElement& element) override;

    // Whether the last walk read all it asked for. A walk waits for the application a bounded
    // time; what it had not read by then it left out (and the next walk reads it), as it
    // leaves out everything when the application did not answer at all. A search that found
    // nothing in an incomplete walk has not shown that the element is absent.
    bool lastWalkComplete() const override;

    // Number of requests sent to the accessibility bus so far (for measurements).
    quint64 requestCount() const;

    class Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace brevlin

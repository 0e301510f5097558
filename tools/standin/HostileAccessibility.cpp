#include "HostileAccessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace brevlin::standin {

namespace {

const char* const hostileProperty = "brevlinHostile";

class AncestorLoop : public QAccessibleWidget {
public:
    explicit AncestorLoop(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Grouping, QStringLiteral("Loop")) {}
    int childCount() const override { return QAccessibleWidget::childCount() + 1; }
    QAccessibleInterface* child(int index) const override {
        if (index == QAccessibleWidget::childCount())
            return QAccessible::queryAccessibleInterface(widget()->window());
        return QAccessibleWidget::child(index);
    }
};

// Not backed by any widget: each read of a child makes a new one.
class FreshElement : public QAccessibleInterface {
public:
    explicit FreshElement(QAccessibleInterface* parent)
        : m_parent(parent) {}
    bool isValid() const override { return true; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_parent->window(); }
    QAccessibleInterface* parent() const override { return m_parent; }
    int childCount() const override { return 3; }
    QAccessibleInterface* child(int) const override {
        auto* fresh = new FreshElement(const_cast<FreshElement*>(this));
        QAccessible::registerAccessibleInterface(fresh);
        return fresh;
    }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text type) const override {
        return type == QAccessible::Name ? QStringLiteral("Fresh") : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return m_parent->rect(); }
    QAccessible::Role role() const override { return QAccessible::Grouping; }
    QAccessible::State state() const override { return {}; }

private:
    QAccessibleInterface* m_parent;
};

class ChurningGroup : public QAccessibleWidget {
public:
    explicit ChurningGroup(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Grouping, QStringLiteral("Churn")) {}
    int childCount() const override { return 3; }
    QAccessibleInterface* child(int) const override {
        auto* fresh = new FreshElement(const_cast<ChurningGroup*>(this));
        QAccessible::registerAccessibleInterface(fresh);
        return fresh;
    }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

QAccessibleInterface* hostileFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const QByteArray kind = widget->property(hostileProperty).toByteArray();
    if (kind == "loop")
        return new AncestorLoop(widget);
    if (kind == "churn")
        return new ChurningGroup(widget);
    return nullptr;
}

QWidget* hostileWidget(const char* kind, const QString& name) {
    auto* widget = new QWidget;
    widget->setProperty(hostileProperty, QByteArray(kind));
    widget->setAccessibleName(name);
    widget->setMinimumSize(4, 4);
    return widget;
}

} // namespace

QWidget* createAncestorLoop() {
    return hostileWidget("loop", QStringLiteral("Loop"));
}

QWidget* createChurningGroup() {
    return hostileWidget("churn", QStringLiteral("Churn"));
}

void installHostileAccessibility() {
    QAccessible::installFactory(hostileFactory);
}

} // namespace brevlin::standin

#pragma once

#include "launch/Accessibility.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>

namespace brevlin {

// What one AT-SPI object reports about itself, as read from the accessibility bus.
struct AtspiObjectInfo {
    quint32 role = 0;   // AtspiRole
    quint64 states = 0; // bit n set when AtspiStateType n is present
    QString name;
    QString description;
    QHash<QString, QString> attributes;
    std::optional<QString> text; // the text contents, read only for text elements
};

// The four texts of an element in the launcher's terms; each is absent when empty.
struct ElementTexts {
    std::optional<QString> title;
    std::optional<QString> description;
    std::optional<QString> value;
    std::optional<QString> placeholder;

    const std::optional<QString>& operator[](LabelText which) const {
        switch (which) {
        case LabelText::title:
            return title;
        case LabelText::description:
            return description;
        case LabelText::value:
            return value;
        case LabelText::placeholder:
            return placeholder;
        }
        return title;
    }
};

namespace atspi {

bool hasState(quint64 states, int state);
quint64 stateBits(quint32 low, quint32 high);

// What an object is in the launcher's terms; `topLevel` when it is a direct child of its
// application.
Role roleOf(quint32 role, quint64 states, bool topLevel = false);
// Whether the text contents are worth reading as the element's value.
bool isTextElement(quint32 role, quint64 states);
// A nameless generic container is left out of the tree and replaced by its children, the way
// layout-only elements never show up among the elements the launcher looks at.
bool isCollapsedContainer(const AtspiObjectInfo& info);
// In the tree: showing, or visible and merely scrolled out of view (Chromium takes "showing"
// from those; they are still there, and still found). Hidden elements have neither.
bool isShowing(const AtspiObjectInfo& info);
bool isShowing(quint64 states);
bool isFocused(const AtspiObjectInfo& info);
// A tab that is current counts as selected: some toolkits mark it focused instead.
bool isSelected(const AtspiObjectInfo& info);

// Placeholders reach us in three forms: the "placeholder-text" attribute, the description of a
// line edit (Qt), or the name with "name-from:placeholder" (Chromium). All become the placeholder.
ElementTexts textsOf(const AtspiObjectInfo& info);

// The name of the action that stands for a press, among the element's action names; -1 if none.
int pressActionIndex(const QStringList& actionNames);

} // namespace atspi
} // namespace brevlin

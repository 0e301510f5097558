#include "AtspiTranslate.h"

#include <QStringList>

#include <atspi/atspi-constants.h>

namespace brevlin::atspi {

bool hasState(quint64 states, int state) {
    return state >= 0 && state < 64 && (states >> state) & 1u;
}

quint64 stateBits(quint32 low, quint32 high) {
    return quint64(low) | (quint64(high) << 32);
}

bool isTextElement(quint32 role, quint64 states) {
    switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_SPIN_BUTTON:
        return true;
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_PARAGRAPH:
        return hasState(states, ATSPI_STATE_EDITABLE);
    default:
        return false;
    }
}

Role roleOf(quint32 role, quint64 states, bool topLevel) {
    // Whatever a toolkit calls its top-level objects, the application's children are its windows.
    if (topLevel && role != ATSPI_ROLE_APPLICATION)
        return Role::window;
    switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
        return hasState(states, ATSPI_STATE_MULTI_LINE) ? Role::other : Role::textField;
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_PARAGRAPH:
        // Qt marks neither single nor multiple lines on a line edit; only multi-line text says so.
        if (hasState(states, ATSPI_STATE_EDITABLE))
            return hasState(states, ATSPI_STATE_MULTI_LINE) &&
                           !hasState(states, ATSPI_STATE_SINGLE_LINE)
                       ? Role::other
                       : Role::textField;
        return Role::staticText;
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
        return Role::button;
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_PAGE_TAB:
        return Role::tab;
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
        return Role::staticText;
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
        return Role::dialog;
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
        return Role::window;
    case ATSPI_ROLE_APPLICATION:
        return Role::application;
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_WEB:
        return Role::webArea;
    default:
        return Role::other;
    }
}

bool isCollapsedContainer(const AtspiObjectInfo& info) {
    if (!info.name.trimmed().isEmpty())
        return false;
    switch (info.role) {
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_UNKNOWN:
    case ATSPI_ROLE_INVALID:
    case ATSPI_ROLE_REDUNDANT_OBJECT:
    case ATSPI_ROLE_LAYERED_PANE:
    case ATSPI_ROLE_ROOT_PANE:
    case ATSPI_ROLE_GLASS_PANE:
    case ATSPI_ROLE_VIEWPORT:
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_INTERNAL_FRAME:
        return true;
    default:
        return false;
    }
}

bool isShowing(quint64 states) {
    return hasState(states, ATSPI_STATE_SHOWING) || hasState(states, ATSPI_STATE_VISIBLE);
}

bool isShowing(const AtspiObjectInfo& info) {
    return isShowing(info.states);
}

bool isFocused(const AtspiObjectInfo& info) {
    return hasState(info.states, ATSPI_STATE_FOCUSED);
}

bool isSelected(const AtspiObjectInfo& info) {
    if (hasState(info.states, ATSPI_STATE_SELECTED))
        return true;
    return info.role == ATSPI_ROLE_PAGE_TAB && hasState(info.states, ATSPI_STATE_FOCUSED);
}

ElementTexts textsOf(const AtspiObjectInfo& info) {
    ElementTexts labels;
    auto nonEmpty = [](const QString& s) -> std::optional<QString> {
        if (s.isEmpty())
            return std::nullopt;
        return s;
    };
    const bool nameIsPlaceholder =
        info.attributes.value(QStringLiteral("name-from")) == QLatin1String("placeholder");
    labels.placeholder = nonEmpty(info.attributes.value(QStringLiteral("placeholder-text")));
    if (nameIsPlaceholder) {
        if (!labels.placeholder)
            labels.placeholder = nonEmpty(info.name);
    } else {
        labels.title = nonEmpty(info.name);
    }

    const Role role = roleOf(info.role, info.states);
    const bool textField = role == Role::textField;
    if (textField && !labels.placeholder && !nameIsPlaceholder)
        labels.placeholder = nonEmpty(info.description);
    else if (!(textField && labels.placeholder == nonEmpty(info.description)))
        labels.description = nonEmpty(info.description);

    if (info.text)
        labels.value = nonEmpty(*info.text);
    else if (role == Role::staticText && !nameIsPlaceholder)
        labels.value = nonEmpty(info.name);
    // A text field always has a title, empty when it has no name of its own: its label must
    // never fall through to the text typed into it, or a search for a plugin would
    // find the search field holding that name before the result.
    if (textField && !labels.title)
        labels.title = QString(QLatin1String(""));
    return labels;
}

int pressActionIndex(const QStringList& actionNames) {
    static const char* const preferred[] = {"press",  "click", "activate", "toggle",
                                            "select", "jump",  "open"};
    for (const char* wanted : preferred) {
        for (int i = 0; i < actionNames.size(); ++i) {
            if (actionNames[i].trimmed().compare(QLatin1String(wanted), Qt::CaseInsensitive) == 0)
                return i;
        }
    }
    return -1;
}

} // namespace brevlin::atspi

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

QString axRole(quint32 role, quint64 states, bool topLevel) {
    // Whatever a toolkit calls its top-level objects, the application's children are its windows.
    if (topLevel && role != ATSPI_ROLE_APPLICATION)
        return QStringLiteral("AXWindow");
    switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
        return hasState(states, ATSPI_STATE_MULTI_LINE) ? QStringLiteral("AXTextArea")
                                                        : QStringLiteral("AXTextField");
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_PARAGRAPH:
        // Qt marks neither single nor multiple lines on a line edit; only multi-line text says so.
        if (hasState(states, ATSPI_STATE_EDITABLE))
            return hasState(states, ATSPI_STATE_MULTI_LINE) &&
                           !hasState(states, ATSPI_STATE_SINGLE_LINE)
                       ? QStringLiteral("AXTextArea")
                       : QStringLiteral("AXTextField");
        return QStringLiteral("AXStaticText");
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
        return QStringLiteral("AXButton");
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_PAGE_TAB:
        return QStringLiteral("AXRadioButton");
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
        return QStringLiteral("AXStaticText");
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
        return QStringLiteral("AXWindow");
    case ATSPI_ROLE_APPLICATION:
        return QStringLiteral("AXApplication");
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
        return QStringLiteral("AXCheckBox");
    case ATSPI_ROLE_COMBO_BOX:
        return QStringLiteral("AXComboBox");
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
        return QStringLiteral("AXList");
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
        return QStringLiteral("AXTable");
    case ATSPI_ROLE_TREE:
        return QStringLiteral("AXOutline");
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_TREE_ITEM:
    case ATSPI_ROLE_TABLE_ROW:
        return QStringLiteral("AXRow");
    case ATSPI_ROLE_TABLE_CELL:
        return QStringLiteral("AXCell");
    case ATSPI_ROLE_MENU:
        return QStringLiteral("AXMenu");
    case ATSPI_ROLE_MENU_BAR:
        return QStringLiteral("AXMenuBar");
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
        return QStringLiteral("AXMenuItem");
    case ATSPI_ROLE_PAGE_TAB_LIST:
        return QStringLiteral("AXTabGroup");
    case ATSPI_ROLE_SCROLL_BAR:
        return QStringLiteral("AXScrollBar");
    case ATSPI_ROLE_SCROLL_PANE:
        return QStringLiteral("AXScrollArea");
    case ATSPI_ROLE_SLIDER:
        return QStringLiteral("AXSlider");
    case ATSPI_ROLE_SPIN_BUTTON:
        return QStringLiteral("AXIncrementor");
    case ATSPI_ROLE_PROGRESS_BAR:
        return QStringLiteral("AXProgressIndicator");
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
        return QStringLiteral("AXImage");
    case ATSPI_ROLE_LINK:
        return QStringLiteral("AXLink");
    case ATSPI_ROLE_HEADING:
        return QStringLiteral("AXHeading");
    case ATSPI_ROLE_TOOL_BAR:
        return QStringLiteral("AXToolbar");
    case ATSPI_ROLE_SEPARATOR:
        return QStringLiteral("AXSplitter");
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_WEB:
        return QStringLiteral("AXWebArea");
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_LANDMARK:
        return QStringLiteral("AXGroup");
    default:
        return QStringLiteral("AXUnknown");
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

AXLabels axLabels(const AtspiObjectInfo& info) {
    AXLabels labels;
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

    const QString role = axRole(info.role, info.states);
    const bool textField = role == QLatin1String("AXTextField");
    if (textField && !labels.placeholder && !nameIsPlaceholder)
        labels.placeholder = nonEmpty(info.description);
    else if (!(textField && labels.placeholder == nonEmpty(info.description)))
        labels.description = nonEmpty(info.description);

    if (info.text)
        labels.value = nonEmpty(*info.text);
    else if (role == QLatin1String("AXStaticText") && !nameIsPlaceholder)
        labels.value = nonEmpty(info.name);
    // A text field always has a title, empty when it has no name of its own, as on macOS: its
    // label must never fall through to the text typed into it, or a search for a plugin would
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

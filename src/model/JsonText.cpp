#include "model/JsonText.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <utility>

namespace brevlin {

namespace {

void writeIndent(QByteArray& out, int depth) {
    out.append(QByteArray(2 * depth, ' '));
}

void writeEscapedUnit(QByteArray& out, char16_t unit) {
    static const char hexDigits[] = "0123456789abcdef";
    out.append("\\u");
    for (int shift = 12; shift >= 0; shift -= 4)
        out.append(hexDigits[(unit >> shift) & 0xf]);
}

void writeString(QByteArray& out, const QString& text) {
    out.append('"');
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text.at(i).unicode();
        switch (unit) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '/':
            out.append("\\/");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\f':
            out.append("\\f");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            if (unit < 0x20) {
                writeEscapedUnit(out, unit);
            } else if (unit < 0x80) {
                out.append(static_cast<char>(unit));
            } else if (QChar::isHighSurrogate(unit) && i + 1 < size &&
                       text.at(i + 1).isLowSurrogate()) {
                out.append(QStringView(text).mid(i, 2).toUtf8());
                ++i;
            } else if (QChar::isSurrogate(unit)) {
                // UTF-8 has no form for half a pair; the escape keeps it, so a hand-edited name
                // reads back exactly as it was.
                writeEscapedUnit(out, unit);
            } else {
                out.append(QStringView(text).mid(i, 1).toUtf8());
            }
        }
    }
    out.append('"');
}

void writeNumber(QByteArray& out, const QJsonValue& value) {
    const qint64 whole = value.toInteger(0);
    if (whole == value.toInteger(1)) {
        out.append(QByteArray::number(whole));
        return;
    }
    const double number = value.toDouble();
    // JSON has no form for these; the store never holds them.
    if (!std::isfinite(number)) {
        out.append("null");
        return;
    }
    out.append(QByteArray::number(number, 'g', 17));
}

void writeValue(QByteArray& out, const QJsonValue& value, int depth) {
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        out.append("null");
        break;
    case QJsonValue::Bool:
        out.append(value.toBool() ? "true" : "false");
        break;
    case QJsonValue::Double:
        writeNumber(out, value);
        break;
    case QJsonValue::String:
        writeString(out, value.toString());
        break;
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        out.append("[\n");
        bool first = true;
        for (const QJsonValue& element : array) {
            if (!first)
                out.append(",\n");
            first = false;
            writeIndent(out, depth + 1);
            writeValue(out, element, depth + 1);
        }
        out.append('\n');
        writeIndent(out, depth);
        out.append(']');
        break;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        QList<std::pair<QByteArray, QString>> keys;
        for (auto it = object.begin(); it != object.end(); ++it)
            keys.append({it.key().toUtf8(), it.key()});
        std::sort(keys.begin(), keys.end());
        out.append("{\n");
        bool first = true;
        for (const auto& key : keys) {
            if (!first)
                out.append(",\n");
            first = false;
            writeIndent(out, depth + 1);
            writeString(out, key.second);
            out.append(" : ");
            writeValue(out, object.value(key.second), depth + 1);
        }
        out.append('\n');
        writeIndent(out, depth);
        out.append('}');
        break;
    }
    }
}

} // namespace

QByteArray prettySortedJson(const QJsonValue& value) {
    QByteArray out;
    writeValue(out, value, 0);
    return out;
}

} // namespace brevlin

#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>
#include <QStringList>

namespace brevlin {

// Draws the icon for an SF Symbol name from the vendored open icon set, tinted with one colour and
// sharp at any device pixel ratio. A name that cannot be resolved gives a null QIcon (nothing is
// drawn; there is no further fallback).
QIcon symbolIcon(const QString& symbolName, QFont::Weight weight, const QColor& tint);

// Whether symbolIcon() would draw something for this name.
bool hasSymbol(const QString& symbolName);

// The compiled-in SVG resource that symbolIcon() draws for this name and weight, or an empty
// string when the name cannot be resolved.
QString symbolResourcePath(const QString& symbolName, QFont::Weight weight);

// Every base name of the mapping table, in table order.
QStringList mappedSymbolNames();

// The open icon set's name for a base name of the table ("lightning" for "bolt"), or an empty
// string. Its words are the plain-English ones people search for.
QString mappedIconName(const QString& symbolName);

} // namespace brevlin

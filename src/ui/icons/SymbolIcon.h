#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

namespace brevlin {

// Draws the icon for an SF Symbol name from the vendored open icon set, tinted with one colour and
// sharp at any device pixel ratio. A name that cannot be resolved gives a null QIcon (nothing is
// drawn; there is no further fallback).
QIcon symbolIcon(const QString& symbolName, QFont::Weight weight, const QColor& tint);

// Whether symbolIcon() would draw something for this name.
bool hasSymbol(const QString& symbolName);

} // namespace brevlin

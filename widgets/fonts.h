#pragma once

#include <QFont>
#include <QString>

namespace orvik {

// The layout names two Gothic faces, a fixed-pitch and a proportional cut.
// They are rarely installed outside Japanese Windows; Qt's font substitution
// maps them to the Japanese Gothic faces that are.
inline const QString kFixedGothic = QStringLiteral("ＭＳ ゴシック");
inline const QString kProportionalGothic = QStringLiteral("ＭＳ Ｐゴシック");

void installGothicSubstitutes();
QFont gothicFont(const QString& face, double points, bool bold);

} // namespace orvik

#include "widgets/fonts.h"

#include <QStringList>

namespace orvik {

void installGothicSubstitutes()
{
    const QStringList fixed = {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                               QStringLiteral("VL Gothic"), QStringLiteral("monospace")};
    const QStringList proportional = {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                                      QStringLiteral("VL PGothic"), QStringLiteral("sans-serif")};
    QFont::insertSubstitutions(kFixedGothic, fixed);
    QFont::insertSubstitutions(kProportionalGothic, proportional);
}

QFont gothicFont(const QString& face, double points, bool bold)
{
    QFont font(face);
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(face == kFixedGothic ? QFont::TypeWriter : QFont::SansSerif);
    return font;
}

} // namespace orvik

#include "shell/fonts.h"

#include <QStringList>

namespace {

const QStringList cjkFallbacks = {QStringLiteral("Noto Sans Mono CJK TC"), QStringLiteral("Noto Sans CJK TC"),
                                  QStringLiteral("AR PL UMing TW"), QStringLiteral("WenQuanYi Zen Hei")};

QFont withFamilies(QStringList families, QFont::StyleHint hint) {
    families += cjkFallbacks;
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    return font;
}

} // namespace

QFont sansFont(int pointSize) {
    QFont font = withFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                               QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                               QStringLiteral("DejaVu Sans")},
                              QFont::SansSerif);
    font.setPointSize(pointSize);
    return font;
}

QFont mingFont(int pointSize) {
    QFont font = withFamilies({QStringLiteral("細明體"), QStringLiteral("MingLiU")}, QFont::TypeWriter);
    font.setPointSize(pointSize);
    return font;
}

QFont newMingFont(int pointSize) {
    QFont font = withFamilies({QStringLiteral("新細明體"), QStringLiteral("PMingLiU")}, QFont::SansSerif);
    font.setPointSize(pointSize);
    return font;
}

QFont mingPixelFont(int pixelSize) {
    // Noto's CJK mono has half-width Latin like 細明體, so a dump line fits the window's width.
    QFont font = withFamilies({QStringLiteral("細明體"), QStringLiteral("MingLiU"), QStringLiteral("Noto Sans Mono CJK TC")},
                              QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    return font;
}

#pragma once

#include <QFont>

// Fonts of the windows. The captions are Traditional Chinese; the named Windows fonts rarely exist on Linux, so
// each font lists fallbacks that do ("Noto Sans CJK TC" from fonts-noto-cjk), and fontconfig fills any gap.
QFont sansFont(int pointSize);                // "MS Sans Serif"
QFont mingFont(int pointSize);                // "細明體" (fixed pitch)
QFont newMingFont(int pointSize);             // "新細明體"
QFont mingPixelFont(int pixelSize);           // "細明體" sized in pixels, for the hex view

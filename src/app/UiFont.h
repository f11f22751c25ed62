#pragma once
#include <QFont>

// The window's typeface: Tahoma where installed, else the nearest sans. Sizes are the
// pixel heights Tahoma has at 96 DPI (8 pt = 11 px, 10 pt = 13 px, 20 pt = 27 px); other
// faces are scaled so the texts take about the width they take in Tahoma, since every
// control has a fixed place.
QFont UiFont(int tahomaPixels, bool bold = false);

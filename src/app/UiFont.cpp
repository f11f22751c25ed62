#include "UiFont.h"

#include <QFontDatabase>
#include <QStringList>
#include <QtMath>

namespace {

struct TFace {
    QString family;
    double widthScale;  // how much narrower it must be set to run as wide as Tahoma
};

const TFace& Face()
{
    static const TFace face = [] {
        const QStringList families = QFontDatabase::families();
        if (families.contains(QStringLiteral("Tahoma")))
            return TFace{QStringLiteral("Tahoma"), 1.0};
        // DejaVu Sans runs about a tenth wider than Tahoma.
        if (families.contains(QStringLiteral("DejaVu Sans")))
            return TFace{QStringLiteral("DejaVu Sans"), 0.91};
        return TFace{QFontDatabase::systemFont(QFontDatabase::GeneralFont).family(), 0.91};
    }();
    return face;
}

}  // namespace

QFont UiFont(int tahomaPixels, bool bold)
{
    QFont font(Face().family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(qMax(1, qFloor(tahomaPixels * Face().widthScale + 0.05)));
    font.setBold(bold);
    return font;
}

#include "HeaderBand.h"

#include <QPainter>

namespace {
const QColor kMediumGrey(160, 160, 164);
const QColor kSilver(192, 192, 192);
const QColor kOrange(255, 128, 0);
constexpr int kGradientSteps = 236;
}  // namespace

THeaderBand::THeaderBand(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void THeaderBand::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Drawn as discrete bands of colour, as the band always looked, rather than smoothly.
    const int w = width();
    for (int step = 0; step < kGradientSteps; ++step) {
        const int x0 = step * w / kGradientSteps;
        const int x1 = (step + 1) * w / kGradientSteps;
        const double t = kGradientSteps > 1 ? double(step) / (kGradientSteps - 1) : 0.0;
        const QColor colour(qRound(kMediumGrey.red() + t * (kSilver.red() - kMediumGrey.red())),
                            qRound(kMediumGrey.green() + t * (kSilver.green() - kMediumGrey.green())),
                            qRound(kMediumGrey.blue() + t * (kSilver.blue() - kMediumGrey.blue())));
        painter.fillRect(QRect(x0, 0, x1 - x0, kGradientHeight), colour);
    }
    painter.fillRect(QRect(0, kGradientHeight, w, height() - kGradientHeight), kOrange);
}

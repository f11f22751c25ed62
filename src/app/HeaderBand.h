#pragma once
#include <QWidget>

// The band across the top of the window: a grey gradient carrying the maker's name and
// logo, over an orange strip with the tool's name and the VAT mode.
class THeaderBand : public QWidget {
    Q_OBJECT
public:
    explicit THeaderBand(QWidget* parent = nullptr);

    static constexpr int kGradientHeight = 70;
    static constexpr int kStripHeight = 20;

protected:
    void paintEvent(QPaintEvent* event) override;
};

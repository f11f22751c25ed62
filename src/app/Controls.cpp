#include "Controls.h"

QLabel* NewLabel(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                 Qt::Alignment alignment)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* NewWrappedLabel(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                        Qt::Alignment alignment)
{
    QLabel* label = NewLabel(parent, name, text, place, alignment);
    label->setWordWrap(true);
    return label;
}

QPushButton* NewButton(QWidget* parent, const QString& name, const QString& text, const QRect& place)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(place);
    // Enter must not press a button the operator did not choose.
    button->setAutoDefault(false);
    return button;
}

namespace {

// A click anywhere on the box's place toggles it, not only on its mark and caption.
class TCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

}  // namespace

QCheckBox* NewCheckBox(QWidget* parent, const QString& name, const QString& text, const QRect& place)
{
    auto* box = new TCheckBox(text, parent);
    box->setObjectName(name);
    box->setGeometry(place);
    return box;
}

QLineEdit* NewEdit(QWidget* parent, const QString& name, int maxLength, const QRect& place)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(maxLength);
    edit->setGeometry(place);
    return edit;
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

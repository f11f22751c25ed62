#pragma once
// Small makers for the fixed-place controls of the pages: each control gets its objectName,
// its text and its place in one line, as the pages list them.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QString>

QLabel* NewLabel(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                 Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
// A label that breaks its text into lines within its width.
QLabel* NewWrappedLabel(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop);
QPushButton* NewButton(QWidget* parent, const QString& name, const QString& text, const QRect& place);
QCheckBox* NewCheckBox(QWidget* parent, const QString& name, const QString& text, const QRect& place);
QLineEdit* NewEdit(QWidget* parent, const QString& name, int maxLength, const QRect& place);

void SetTextColour(QWidget* widget, const QColor& colour);

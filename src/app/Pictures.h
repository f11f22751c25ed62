#pragma once
#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own pictures, drawn from the SVGs in its resources at the size asked for.
QPixmap Picture(const QString& name, const QSize& size);
QIcon PictureIcon(const QString& name, const QSize& size);

#pragma once
#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own pictures, kept as PNGs drawn at four times their largest use and scaled
// down smoothly to the size asked for.
QPixmap Picture(const QString& name, const QSize& size);
QIcon PictureIcon(const QString& name, const QSize& size);

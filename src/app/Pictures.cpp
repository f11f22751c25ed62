#include "Pictures.h"

#include <QPainter>
#include <QSvgRenderer>

// Resources in a static library are not registered by themselves.
static void RegisterPictures()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}

QPixmap Picture(const QString& name, const QSize& size)
{
    RegisterPictures();
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(name));
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        renderer.render(&painter);
    }
    return pixmap;
}

QIcon PictureIcon(const QString& name, const QSize& size)
{
    return QIcon(Picture(name, size));
}

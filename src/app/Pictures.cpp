#include "Pictures.h"

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
    const QPixmap drawn(QStringLiteral(":/pictures/%1.png").arg(name));
    if (drawn.isNull()) {
        QPixmap empty(size);
        empty.fill(Qt::transparent);
        return empty;
    }
    return drawn.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QIcon PictureIcon(const QString& name, const QSize& size)
{
    return QIcon(Picture(name, size));
}

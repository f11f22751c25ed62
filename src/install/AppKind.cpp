#include "AppKind.h"

#include <QStringList>

QString AppName(TAppKind kind)
{
    switch (kind) {
    case TAppKind::None: break;
    case TAppKind::Varlo: return QStringLiteral("Varlo");
    case TAppKind::Meltra: return QStringLiteral("Meltra");
    case TAppKind::Quibon: return QStringLiteral("Quibon");
    case TAppKind::Tosvel: return QStringLiteral("Tosvel");
    }
    return QStringLiteral("Nenhum");
}

std::optional<TAppKind> AppKindNamed(const QString& name)
{
    for (TAppKind kind : kInstalledKinds)
        if (name.compare(AppName(kind), Qt::CaseInsensitive) == 0)
            return kind;
    return std::nullopt;
}

QString InstalledKindNames()
{
    QStringList names;
    for (TAppKind kind : kInstalledKinds)
        names << AppName(kind);
    const QString last = names.takeLast();
    return names.join(QLatin1String(", ")) + QLatin1String(" ou ") + last;
}

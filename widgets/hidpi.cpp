#include "widgets/hidpi.h"

#include <QFileInfo>
#include <QGuiApplication>

QString imageForRatio(const QString &file, qreal deviceRatio, qreal *ratio)
{
    *ratio = 1;
    if (deviceRatio <= 1)
        return file;
    const int dot = file.lastIndexOf(QLatin1Char('.'));
    if (dot <= file.lastIndexOf(QLatin1Char('/')))
        return file;
    const QString doubled = file.left(dot) + QLatin1String("@2x") + file.mid(dot);
    if (!QFileInfo::exists(doubled))
        return file;
    *ratio = 2;
    return doubled;
}

qreal screenPixelRatio()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? qApp->devicePixelRatio() : 1;
}

#include "app/startup.h"

#include "core/texts.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void setApplicationAttributes()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 always scales; Qt 5 does only when asked.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
}

namespace
{

QString qtTranslationsFolder()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

QIcon iconFromResources()
{
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString file = QStringLiteral(":/icons/%1.png").arg(size);
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon;
}

} // namespace

void setApplicationIdentity()
{
    const QString id = QStringLiteral(FILEHASH_APP_ID);
    QCoreApplication::setApplicationName(id);
    // Without it the task bar would show the id for the window, which has no title of its own.
    QGuiApplication::setApplicationDisplayName(gbText(texts::kTitle));
    QGuiApplication::setDesktopFileName(id);
    QGuiApplication::setWindowIcon(QIcon::fromTheme(id, iconFromResources()));
}

bool installQtTranslations(QCoreApplication *app)
{
    auto *translator = new QTranslator(app);
    // The window speaks Chinese whatever the system's language, so Qt's parts do too.
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), qtTranslationsFolder())) {
        delete translator;
        return false;
    }
    return app->installTranslator(translator);
}

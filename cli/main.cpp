// filehash-verify: verifies evidence files with the service from the command line, one file or a
// whole case, on the window's own core.
#include "cli/command.h"
#include "core/buildconfig.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <csignal>
#include <memory>
#include <vector>

namespace
{

QtMessageHandler g_qtHandler = nullptr;

// Qt's notes that say nothing to this program's user: the request carries no content type by
// design, and the offscreen platform needs no runtime folder.
void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("content-type missing in HTTP POST")) ||
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    g_qtHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    // A reader that goes away makes writes fail, which is told and exits 74, instead of ending
    // the program before it could say so or save its report.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    g_qtHandler = qInstallMessageHandler(quietHandler);
    // Receipts are drawn with Qt's painter, whose fonts need a GUI application; it never opens a
    // window, so it runs on the offscreen platform whatever the display.
    std::unique_ptr<QCoreApplication> app;
    std::vector<char *> args(argv, argv + argc);
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    int count = argc;
    if (wantsReceipts(argc, argv)) {
        args.push_back(platform);
        args.push_back(offscreen);
        count += 2;
        args.push_back(nullptr);
        app = std::make_unique<QGuiApplication>(count, args.data());
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("filehash-verify"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FILEHASH_VERSION));
    return runVerifyCommand(builtInServiceConfig());
}

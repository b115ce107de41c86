#include "app/filehash.h"
#include "core/texts.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace
{

// The one local file a drop carries, or an empty string for anything else.
QString droppedFile(const QMimeData *mime)
{
    const QList<QUrl> urls = mime ? mime->urls() : QList<QUrl>();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    const QFileInfo info(path);
    return info.exists() && !info.isDir() ? path : QString();
}

} // namespace

// Every drag is taken, so that a drop of the wrong kind is told rather than silently refused.
// The action is always a copy: the source must never delete what was dropped.
void filehash::dragEnterEvent(QDragEnterEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void filehash::dragMoveEvent(QDragMoveEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void filehash::dropEvent(QDropEvent *event)
{
    event->setDropAction(Qt::CopyAction);
    event->accept();
    const QString path = droppedFile(event->mimeData());
    // Acted on once the drop has ended: the source of the drag waits for this handler to return.
    QTimer::singleShot(0, this, [this, path] {
        if (path.isEmpty())
            QMessageBox::about(this, gbText(texts::kInfoTitle), gbText(texts::kDropOneFile));
        else
            digestChosenFile(path);
    });
}

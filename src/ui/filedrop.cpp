#include "filedrop.h"

#include "paths.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

QStringList localPaths(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
#ifdef Q_OS_WIN
        paths.append(url.toLocalFile());
#else
        // The name's own bytes, percent-encoded by the file manager: a name
        // that is no valid UTF-8 stays the user's file.
        paths.append(tinsoke::pathFromBytes(
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())));
#endif
    }
    return paths;
}

} // namespace

FileDropHook::FileDropHook(QWidget *target, Handler handler)
    : m_target(target)
    , m_handler(std::move(handler))
    , m_acceptedDropsBefore(target->acceptDrops())
{
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

FileDropHook::~FileDropHook()
{
    m_target->removeEventFilter(this);
    m_target->setAcceptDrops(m_acceptedDropsBefore);
}

bool FileDropHook::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_target)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (localPaths(drag->mimeData()).isEmpty())
            return false;
        if (m_enabled)
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QStringList paths = localPaths(drop->mimeData());
        if (paths.isEmpty())
            return false;
        if (!m_enabled) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        m_handler(paths);
        return true;
    }
    default:
        return false;
    }
}

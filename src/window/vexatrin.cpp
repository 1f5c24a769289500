#include "window/vexatrin.h"

#include "core/displaytext.h"

#include "ui_vexatrin.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>

namespace {

// The one local path a drag carries, as the bytes the system names it by, or nothing. Taken
// from the URI list itself, percent-decoded: QUrl decodes a name that is not UTF-8 lossily.
QByteArray droppedPath(const QMimeData *data)
{
#ifdef Q_OS_WIN
    // Windows names are UTF-16, which Qt converts without loss.
    const QList<QUrl> urls = data->urls();
    return urls.size() == 1 && urls.first().isLocalFile()
        ? QFile::encodeName(urls.first().toLocalFile())
        : QByteArray();
#else
    QList<QByteArray> uris;
    for (const QByteArray &line : data->data(QStringLiteral("text/uri-list")).split('\n')) {
        const QByteArray uri = line.trimmed();
        if (!uri.isEmpty() && !uri.startsWith('#'))
            uris.append(uri);
    }
    const QByteArray scheme = "file://";
    if (uris.size() != 1 || !uris.first().startsWith(scheme))
        return {};
    // file:///path, or file://localhost/path; a file on another host is none of ours.
    const QByteArray hostAndPath = uris.first().mid(scheme.size());
    const qsizetype slash = hostAndPath.indexOf('/');
    const QByteArray host = hostAndPath.left(slash);
    if (slash < 0 || !(host.isEmpty() || host == "localhost"))
        return {};
    return QByteArray::fromPercentEncoding(hostAndPath.mid(slash));
#endif
}

// Accepts a drag or drop as a copy, or else a link, never as a move: some drag sources take a
// move as leave to delete the original.
bool acceptWithoutMove(QDropEvent *event)
{
    const Qt::DropActions offered = event->possibleActions();
    if (!(offered & (Qt::CopyAction | Qt::LinkAction)))
        return false;
    event->setDropAction(offered & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
    event->accept();
    return true;
}

} // namespace

VexaTrin::VexaTrin(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui_Vexatrin>())
{
    ui->setupUi(this);
    applyProgramTexts();
    setAcceptDrops(true);
}

VexaTrin::~VexaTrin() = default;

void VexaTrin::takePath(const QByteArray &path)
{
    givenPath = path;
    givenPathShown = cueprune::decodePath(path);
    ui->lineEdit->setText(givenPathShown);
}

void VexaTrin::takeChosenPath(const QString &path)
{
    givenPath.clear();
    givenPathShown.clear();
    ui->lineEdit->setText(path);
}

QByteArray VexaTrin::pathToRun() const
{
    const QString shown = ui->lineEdit->text();
    return !givenPath.isEmpty() && shown == givenPathShown ? givenPath : QFile::encodeName(shown);
}

void VexaTrin::dragEnterEvent(QDragEnterEvent *event)
{
    const QByteArray path = droppedPath(event->mimeData());
    if (!path.isEmpty() && takesDroppedPath(path))
        acceptWithoutMove(event);
}

void VexaTrin::dropEvent(QDropEvent *event)
{
    const QByteArray path = droppedPath(event->mimeData());
    if (!path.isEmpty() && takesDroppedPath(path) && acceptWithoutMove(event))
        takePath(path);
}

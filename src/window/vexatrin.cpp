#include "window/vexatrin.h"

#include "ui_vexatrin.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

namespace {

// The one local path a drag carries, or nothing.
QString droppedPath(const QMimeData *data)
{
    const QList<QUrl> urls = data->urls();
    return urls.size() == 1 && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
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

void VexaTrin::takeArguments(const QStringList &arguments)
{
    if (arguments.size() > 1)
        ui->lineEdit->setText(arguments.at(1));
}

void VexaTrin::dragEnterEvent(QDragEnterEvent *event)
{
    const QString path = droppedPath(event->mimeData());
    if (!path.isEmpty() && takesDroppedPath(path))
        event->acceptProposedAction();
}

void VexaTrin::dropEvent(QDropEvent *event)
{
    const QString path = droppedPath(event->mimeData());
    if (path.isEmpty() || !takesDroppedPath(path))
        return;
    ui->lineEdit->setText(path);
    event->acceptProposedAction();
}

#include "cuesheetlisting.h"
#include "processcuefile.h"
#include "sheetbatch.h"
#include "sheettext.h"
#include "ui_vexatrin.h"
#include "vexatrin.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

// Adds a line at the end of the log, wherever the user left the text cursor.
void appendToLog(QPlainTextEdit *log, const QString &line)
{
    log->moveCursor(QTextCursor::End);
    log->insertPlainText(line + QLatin1Char('\n'));
}

} // namespace

bool VexaTrin::takesDroppedPath(const QString &path)
{
    return QFileInfo(path).isDir();
}

void VexaTrin::on_pushButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this,
        QStringLiteral("Dossier avec les fichiers CUE"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        ui->lineEdit->setText(folder);
}

void VexaTrin::on_pushButton_2_clicked()
{
    QPlainTextEdit *log = ui->plainTextEdit;
    const QString typed = ui->lineEdit->text();
    if (typed.isEmpty()) {
        appendToLog(log, QStringLiteral("==> Aucun répertoire sélectionné !"));
        return;
    }
    const QByteArray folder = QFile::encodeName(QDir(typed).absolutePath());
    const bool isFolder = pathInfo(folder).kind == PathInfo::Kind::Folder;
    const auto listing = isFolder ? listFolder(folder) : std::nullopt;
    if (!listing) {
        appendToLog(log, typed);
        appendToLog(log,
            isFolder ? QStringLiteral("==> Répertoire illisible !")
                     : QStringLiteral("==> Répertoire introuvable !"));
        return;
    }
    SheetBatch(SheetBatch::defaultWorkers(), WriteMode::Rewrite)
        .run(listing->sheets, [&](qsizetype index, CueResult result) {
            appendToLog(log, displayPath(listing->sheets[index].path));
            appendToLog(log, verdictText(result));
        });
    log->ensureCursorVisible();
}

#include "cuesheetlisting.h"
#include "processcuefile.h"
#include "sheetbatch.h"
#include "sheettext.h"
#include "ui_vexatrin.h"
#include "vexatrin.h"

#include <QFileDialog>

void VexaTrin::on_pushButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this,
        QStringLiteral("Dossier avec les fichiers CUE"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        ui->lineEdit->setText(folder);
}

void VexaTrin::on_pushButton_2_clicked()
{
    const auto listing = listFolder(QFile::encodeName(QDir(ui->lineEdit->text()).absolutePath()));
    if (!listing)
        return;
    SheetBatch(SheetBatch::defaultWorkers(), WriteMode::Rewrite)
        .run(listing->sheets, [&](qsizetype index, CueResult result) {
            ui->plainTextEdit->insertPlainText(
                displayPath(listing->sheets[index].path) + QLatin1Char('\n'));
            ui->plainTextEdit->insertPlainText(verdictText(result) + QLatin1Char('\n'));
        });
}

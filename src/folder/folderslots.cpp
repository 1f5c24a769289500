#include "cuesheetlisting.h"
#include "processcuefile.h"
#include "vexatrin.h"

#include <QFileDialog>

void VexaTrin::on_pushButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this,
        QStringLiteral("Dossier avec les fichiers CUE"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        ui.lineEdit->setText(folder);
}

void VexaTrin::on_pushButton_2_clicked()
{
    const QStringList sheets = cueSheetsIn(QDir(ui.lineEdit->text()));
    for (const QString &sheet : sheets) {
        ui.plainTextEdit->insertPlainText(sheet + QLatin1Char('\n'));
        ui.plainTextEdit->insertPlainText(verdictText(processCueFile(sheet)) + QLatin1Char('\n'));
    }
}

#include "processcuefile.h"
#include "ui_vexatrin.h"
#include "vexatrin.h"

#include <QFileDialog>

namespace {

QString statusText(CueResult result)
{
    switch (result) {
    case CueResult::Pruned:
        return QStringLiteral("Texte modifié");
    case CueResult::Unchanged:
        return QStringLiteral("Pas de modification du texte");
    case CueResult::NotFound:
        return QStringLiteral("Fichier introuvable");
    case CueResult::Failed:
        break;
    }
    return QStringLiteral("Erreur de lecture ou d'écriture");
}

} // namespace

void VexaTrin::on_pushButton_clicked()
{
    const QString sheet = QFileDialog::getOpenFileName(this, QStringLiteral("Choix du fichier"),
        QString(), QStringLiteral("CUE Files (*.cue);;All Files (*)"));
    if (!sheet.isEmpty())
        ui->lineEdit->setText(sheet);
}

void VexaTrin::on_pushButton_2_clicked()
{
    const CueResult result = processCueFile(ui->lineEdit->text(),
        [this](const QString &kept) { ui->plainTextEdit->insertPlainText(kept); });
    ui->lineEdit_2->setText(statusText(result));
}

#include "engine/processcuefile.h"
#include "window/vexatrin.h"

#include "ui_vexatrin.h"

#include <QFileDialog>
#include <QFileInfo>

// cuefile: the window's part that makes it the single-sheet tool, with every text it shows.

using namespace cueprune;

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

void VexaTrin::applyProgramTexts()
{
    ui->pushButton->setText(
        QCoreApplication::translate("Vexatrin", "Sélection du fichier", nullptr));
    ui->pushButton->setAccessibleDescription(QStringLiteral("Choisit la feuille CUE"));
    ui->pushButton_2->setText(
        QCoreApplication::translate("Vexatrin", "Tester le fichier", nullptr));
    ui->pushButton_2->setAccessibleDescription(
        QStringLiteral("Retire les index de prégap de la feuille et montre les lignes gardées"));
    ui->lineEdit->setAccessibleName(QStringLiteral("Feuille CUE"));
    ui->plainTextEdit->setAccessibleName(QStringLiteral("Aperçu des lignes gardées"));
}

bool VexaTrin::takesDroppedPath(const QString &path)
{
    return QFileInfo(path).isFile();
}

void VexaTrin::on_pushButton_clicked()
{
    const QString sheet = QFileDialog::getOpenFileName(this, QStringLiteral("Choix du fichier"),
        QString(), QStringLiteral("CUE Files (*.cue);;All Files (*)"));
    if (!sheet.isEmpty())
        ui->lineEdit->setText(sheet);
}

void VexaTrin::on_pushButton_2_clicked()
{
    QString kept;
    const CueResult result = processCueFile(ui->lineEdit->text(), [&kept](const QString &line) {
        kept += line;
    }).result;
    // The preview shows the sheet just processed, and nothing when it could not be.
    const bool processed = result == CueResult::Pruned || result == CueResult::Unchanged;
    ui->plainTextEdit->setPlainText(processed ? kept : QString());
    ui->plainTextEdit->moveCursor(QTextCursor::End);
    ui->lineEdit_2->setText(statusText(result));
}

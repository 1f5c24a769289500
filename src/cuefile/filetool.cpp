#include "engine/processcuefile.h"
#include "window/vexatrin.h"

#include "ui_vexatrin.h"

#include <QFileDialog>

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

QString VexaTrin::usage()
{
    return QStringLiteral(
        "Utilisation : cuefile [FEUILLE]\n"
        "Ouvre la fenêtre qui retire les index de prégap (chaque ligne « INDEX 00 » directement\n"
        "suivie d'une ligne « INDEX 01 ») d'une feuille CUE et montre les lignes gardées.\n"
        "FEUILLE remplit le champ ; rien n'est traité avant le bouton « Tester le fichier »,\n"
        "qui réécrit aussitôt la feuille. Pour voir d'abord ce qui changerait :\n"
        "cueprune -n FEUILLE.\n");
}

bool VexaTrin::takesDroppedPath(const QByteArray &path)
{
    return kindOfPath(path) == FolderEntry::Kind::RegularFile;
}

void VexaTrin::on_pushButton_clicked()
{
    const QString sheet = QFileDialog::getOpenFileName(this, QStringLiteral("Choix du fichier"),
        QString(), QStringLiteral("CUE Files (*.cue);;All Files (*)"));
    if (!sheet.isEmpty())
        takeChosenPath(sheet);
}

void VexaTrin::on_pushButton_2_clicked()
{
    QString kept;
    const CueResult result
        = processCueFile(pathToRun(), [&kept](const QString &line) { kept += line; }).result;
    // The preview shows the sheet just processed, and nothing when it could not be.
    const bool processed = result == CueResult::Pruned || result == CueResult::Unchanged;
    ui->plainTextEdit->setPlainText(processed ? kept : QString());
    ui->plainTextEdit->moveCursor(QTextCursor::End);
    ui->lineEdit_2->setText(statusText(result));
}

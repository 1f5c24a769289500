#include "core/codepage.h"
#include "core/displaytext.h"
#include "engine/explanations.h"
#include "engine/processcuefile.h"
#include "window/vexatrin.h"

#include "ui_vexatrin.h"

#include <QActionGroup>
#include <QFileDialog>
#include <QHash>
#include <QMenu>

#include <memory>

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

// The status: its fixed text, then, each after a dash, why it failed or what the change costs,
// in cueprune's words.
QString statusLine(const CueOutcome &outcome)
{
    const QString dash = QStringLiteral(" — ");
    QString line = statusText(outcome.result);
    // "Fichier introuvable" says its reason already.
    if (outcome.failure && outcome.result != CueResult::NotFound)
        line += dash + failureText(*outcome.failure);
    for (const PruningWarning &warning : outcome.warnings)
        line += dash + windowWarningText(warning);
    return line;
}

// Whether field shows text whole, without scrolling it.
bool showsWhole(const QLineEdit *field, const QString &text)
{
    // QLineEdit keeps a margin of 2 pixels on each side inside its frame.
    const int room = field->contentsRect().marginsRemoved(field->textMargins()).width() - 4;
    return field->fontMetrics().horizontalAdvance(text) <= room;
}

// A code page in the preview's menu, with what it is for: "GB18030 (chinois simplifié)".
QString codePageLabel(const QByteArray &codePage)
{
    static const QHash<QByteArray, QString> labels = {
        { "GB18030", QStringLiteral("GB18030 (chinois simplifié)") },
        { "Big5", QStringLiteral("Big5 (chinois traditionnel)") },
        { "windows-31j", QStringLiteral("Shift-JIS (japonais)") },
        { "EUC-JP", QStringLiteral("EUC-JP (japonais)") },
        { "windows-949", QStringLiteral("EUC-KR (coréen)") },
        { "windows-1250", QStringLiteral("Windows-1250 (Europe centrale)") },
        { "windows-1251", QStringLiteral("Windows-1251 (cyrillique)") },
        { "windows-1252", QStringLiteral("Windows-1252 (Europe occidentale)") },
        { "windows-1253", QStringLiteral("Windows-1253 (grec)") },
        { "windows-1254", QStringLiteral("Windows-1254 (turc)") },
        { "windows-1255", QStringLiteral("Windows-1255 (hébreu)") },
        { "windows-1256", QStringLiteral("Windows-1256 (arabe)") },
        { "windows-1257", QStringLiteral("Windows-1257 (balte)") },
        { "windows-1258", QStringLiteral("Windows-1258 (vietnamien)") },
        { "windows-874", QStringLiteral("Windows-874 (thaï)") },
    };
    return labels.value(codePage, QString::fromLatin1(codePage));
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
    ui->plainTextEdit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(
        ui->plainTextEdit, &QWidget::customContextMenuRequested, this, &VexaTrin::showPreviewMenu);
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
    PruneOptions options;
    options.costs = true;
    const CueOutcome outcome = processCueFile(
        pathToRun(), [&kept](const QString &line) { kept += line; }, options);
    // The preview shows the sheet just processed, and nothing when it could not be.
    const bool processed
        = outcome.result == CueResult::Pruned || outcome.result == CueResult::Unchanged;
    previewBytes = processed ? outcome.keptBytes : QByteArray();
    previewCodePage.clear();
    showPreview(processed ? kept : QString());
    QLineEdit *status = ui->lineEdit_2;
    const QString line = statusLine(outcome);
    status->setText(line);
    status->setCursorPosition(0); // the fixed text in view, whatever follows it
    status->setToolTip(showsWhole(status, line) ? QString() : line);
}

void VexaTrin::showPreview(const QString &text)
{
    ui->plainTextEdit->setPlainText(text);
    ui->plainTextEdit->moveCursor(QTextCursor::End);
}

// The preview's context menu: the standard one, and "Encodage", the code pages the kept bytes
// could be in, the one shown checked. Choosing one decodes them again; the file is not read.
void VexaTrin::showPreviewMenu(const QPoint &at)
{
    const std::unique_ptr<QMenu> menu(ui->plainTextEdit->createStandardContextMenu());
    QMenu *encodings = menu->addMenu(QStringLiteral("Encodage"));
    const SheetEncoding form = detectEncoding(previewBytes);
    QList<QByteArray> found; // an 8-bit sheet's encodings, the one SheetDecoder takes first
    if (form.form == SheetEncoding::Form::EightBit) {
        if (form.byteOrderMarkSize > 0 || isValidUtf8(previewBytes))
            found.append("UTF-8");
        found += chooseCodePage(previewBytes, systemCodePage()).plausible;
    }
    const QByteArray current = SheetDecoder(previewBytes, form,
        previewCodePage.isEmpty() && !found.isEmpty() ? found.first() : previewCodePage)
                                   .codePage();
    QList<QByteArray> offered = { current };
    for (const QByteArray &codePage : found) {
        if (!offered.contains(codePage))
            offered.append(codePage);
    }
    encodings->setEnabled(!previewBytes.isEmpty());
    auto *group = new QActionGroup(encodings);
    for (const QByteArray &codePage : offered) {
        QAction *action = encodings->addAction(codePageLabel(codePage));
        action->setCheckable(true);
        action->setChecked(codePage == current);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, codePage] {
            previewCodePage = codePage;
            showPreview(decodeSheet(previewBytes, codePage));
        });
    }
    menu->exec(ui->plainTextEdit->viewport()->mapToGlobal(at));
}

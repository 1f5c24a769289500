#include "engine/explanations.h"

#include "core/quoting.h"
#include "files/sheetfile.h"

#include <cerrno>
#include <cstring>
#include <optional>

namespace cueprune {

namespace {

struct ReasonNames
{
    QString text; // in French, as every program says it
    QLatin1String code; // stable, for scripts
};

// The names of a failure's reason, side by side so that they cannot drift apart; none for
// SystemError, whose names come from errno.
std::optional<ReasonNames> namesOf(Failure::Reason reason)
{
    using Reason = Failure::Reason;
    switch (reason) {
    case Reason::Missing:
        return ReasonNames { QStringLiteral("introuvable"), QLatin1String("missing") };
    case Reason::NotRegularFile:
        return ReasonNames { QStringLiteral("pas un fichier ordinaire"),
            QLatin1String("not-regular-file") };
    case Reason::TooLarge:
        return ReasonNames {
            QStringLiteral("fichier trop grand (plus de %1 Mio)").arg(maxSheetSize >> 20),
            QLatin1String("too-large")
        };
    case Reason::ReadRefused:
        return ReasonNames { QStringLiteral("lecture refusée"), QLatin1String("read-refused") };
    case Reason::WriteRefused:
        return ReasonNames { QStringLiteral("écriture refusée"), QLatin1String("write-refused") };
    case Reason::OwnerOrModeNotKept:
        return ReasonNames { QStringLiteral("propriétaire, groupe ou droits impossibles à garder"),
            QLatin1String("owner-or-mode-not-kept") };
    case Reason::AttributesNotKept:
        return ReasonNames { QStringLiteral("attributs étendus impossibles à garder"),
            QLatin1String("attributes-not-kept") };
    case Reason::DiskFull:
        return ReasonNames { QStringLiteral("disque plein"), QLatin1String("disk-full") };
    case Reason::FlushFailed:
        return ReasonNames { QStringLiteral("échec de l'écriture sur le disque"),
            QLatin1String("flush-failed") };
    case Reason::ChangedWhileRead:
        return ReasonNames { QStringLiteral("modifié pendant la lecture"),
            QLatin1String("changed-while-read") };
    case Reason::StaleCache:
        return ReasonNames { QStringLiteral("taille non confirmée par le serveur (cache périmé)"),
            QLatin1String("stale-cache") };
    case Reason::ChangedBeforeReplace:
        return ReasonNames { QStringLiteral("modifié par un autre programme entre-temps"),
            QLatin1String("changed-before-replace") };
    case Reason::SwappedDuringWalk:
        return ReasonNames { QStringLiteral("changé pendant le parcours"),
            QLatin1String("swapped") };
    case Reason::FolderUnreadable:
        return ReasonNames { QStringLiteral("dossier illisible"),
            QLatin1String("folder-unreadable") };
    case Reason::BackupFailed:
        return ReasonNames { QStringLiteral("sauvegarde impossible"),
            QLatin1String("backup-failed") };
    case Reason::WayBackNotWritten:
        return ReasonNames { QStringLiteral("diff ou enregistrement JSON impossible à écrire"),
            QLatin1String("way-back-not-written") };
    case Reason::SystemError:
        break;
    }
    return std::nullopt;
}

} // namespace

namespace {

QString systemErrorText(int error)
{
    switch (error) {
    case EIO:
        return QStringLiteral("erreur d'entrée-sortie");
    case ELOOP:
        return QStringLiteral("trop de liens symboliques");
    case ENAMETOOLONG:
        return QStringLiteral("nom trop long");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("trop de fichiers ouverts");
    case EAGAIN:
        return QStringLiteral("ressources du système épuisées");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("disque plein");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

QString failureText(const Failure &failure)
{
    const auto names = namesOf(failure.reason);
    if (!names)
        return systemErrorText(failure.systemError);
    if (failure.reason != Failure::Reason::BackupFailed || failure.systemError == 0)
        return names->text;
    // A backup can fail for many reasons, and the fix differs for each.
    return QStringLiteral("%1 (%2)").arg(names->text,
        linksRefused(failure.systemError)
            ? QStringLiteral("liens physiques refusés par ce système de fichiers")
            : systemErrorText(failure.systemError));
}

QString failureCode(const Failure &failure)
{
    if (const auto names = namesOf(failure.reason))
        return names->code;
    return failure.systemError == EMFILE || failure.systemError == ENFILE
        ? QStringLiteral("too-many-open-files")
        : QStringLiteral("system-error");
}

namespace {

// A duration in seconds, to the hundredth, French style: "0,44 s", "2 s", "1,5 s".
QString secondsText(qsizetype frames)
{
    const qsizetype hundredths = (frames * 100 + framesPerSecond / 2) / framesPerSecond;
    QString text = QString::number(hundredths / 100);
    if (hundredths % 100 != 0)
        text += QStringLiteral(",%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    if (text.endsWith(QLatin1Char('0')) && text.contains(QLatin1Char(',')))
        text.chop(1);
    return text + QStringLiteral(" s");
}

// A warning's words; command comes before the options its advice names ("cueprune " in the
// windows).
QString warningWords(const PruningWarning &warning, const QString &command)
{
    if (warning.kind == PruningWarning::Kind::DiscImage)
        return QStringLiteral("image de disque : la position des pistes change pour un graveur ou "
                              "un émulateur ; %1-b ou --diff gardent un chemin de retour")
            .arg(command);
    return QStringLiteral("piste %1 : %2 d'audio avant INDEX 01 hors de tout index%3 ; "
                          "%4--keep-first-pregap garde l'INDEX 00")
        .arg(warning.track, 2, 10, QLatin1Char('0'))
        .arg(secondsText(warning.frames),
            warning.firstFile ? QStringLiteral(" (flac refuse d'intégrer une telle feuille)")
                              : QString(),
            command);
}

} // namespace

QString warningText(const PruningWarning &warning)
{
    return warningWords(warning, QString());
}

QString windowWarningText(const PruningWarning &warning)
{
    return QStringLiteral("attention : ") + warningWords(warning, QStringLiteral("cueprune "));
}

QString subfoldersLeftOutText(qsizetype count)
{
    return count > 1 ? QStringLiteral("%1 sous-dossiers non parcourus").arg(count)
                     : QStringLiteral("%1 sous-dossier non parcouru").arg(count);
}

QString invalidOptionText(char letter)
{
    const bool plain = letter > ' ' && letter < 0x7F;
    return QStringLiteral("option invalide -- %1")
        .arg(plain ? QStringLiteral("'%1'").arg(QLatin1Char(letter))
                   : shellQuoted(QByteArrayView(&letter, 1)));
}

QString unrecognisedOptionText(QByteArrayView option)
{
    return QStringLiteral("option non reconnue « %1 »").arg(shellQuoted(option));
}

} // namespace cueprune

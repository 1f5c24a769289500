#include "engine/verdicts.h"

namespace cueprune {

namespace {

struct Verdict
{
    QString text;
    QLatin1String code;
};

// A result's log text and its stable code, side by side so that they cannot drift apart.
Verdict verdictOf(CueResult result, WriteMode mode)
{
    switch (result) {
    case CueResult::Pruned:
        return mode == WriteMode::DryRun
            ? Verdict { QStringLiteral("==> Fichier à modifier !"), QLatin1String("would-modify") }
            : Verdict { QStringLiteral("==> Fichier modifié !"), QLatin1String("modified") };
    case CueResult::Unchanged:
        return { QStringLiteral("==> Aucun changement !"), QLatin1String("unchanged") };
    case CueResult::Failed:
    case CueResult::NotFound:
        break;
    }
    return { QStringLiteral("==> Erreur !"), QLatin1String("error") };
}

} // namespace

QString verdictText(CueResult result, WriteMode mode)
{
    return verdictOf(result, mode).text;
}

QString verdictCode(CueResult result, WriteMode mode)
{
    return verdictOf(result, mode).code;
}

} // namespace cueprune

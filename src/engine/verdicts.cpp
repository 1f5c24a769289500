#include "engine/verdicts.h"

namespace cueprune {

QString verdictText(CueResult result, WriteMode mode)
{
    switch (result) {
    case CueResult::Pruned:
        return mode == WriteMode::DryRun ? QStringLiteral("==> Fichier à modifier !")
                                         : QStringLiteral("==> Fichier modifié !");
    case CueResult::Unchanged:
        return QStringLiteral("==> Aucun changement !");
    case CueResult::Failed:
    case CueResult::NotFound:
        break;
    }
    return QStringLiteral("==> Erreur !");
}

} // namespace cueprune

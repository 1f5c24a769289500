// Writes cueprune's completion script for one shell, made from its option table, at build time.
#include "cueprune/completions.h"

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    using namespace cueprune;
    const QString script = argc != 2        ? QString()
        : std::strcmp(argv[1], "bash") == 0 ? bashCompletion()
        : std::strcmp(argv[1], "zsh") == 0  ? zshCompletion()
        : std::strcmp(argv[1], "fish") == 0 ? fishCompletion()
                                            : QString();
    if (script.isEmpty()) {
        std::fputs("usage: cueprune_completions bash|zsh|fish\n", stderr);
        return 2;
    }
    std::fputs(script.toUtf8().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// Runs the pass on one path and prints its result and the reason of a failure, so that tests
// can run it under another user or resource limit.
#include "engine/processcuefile.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const auto outcome = cueprune::processCueFile(QByteArray(argv[1]));
    std::printf("%d %d\n", static_cast<int>(outcome.result),
        outcome.failure ? static_cast<int>(outcome.failure->reason) : -1);
    return 0;
}

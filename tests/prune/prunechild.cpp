// Runs the pass on one path and prints its result, so that tests can run it under another
// user or resource limit.
#include "processcuefile.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    std::printf("%d\n", static_cast<int>(processCueFile(QByteArray(argv[1]))));
    return 0;
}

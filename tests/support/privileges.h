#pragma once

#include "support/files.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdlib>

namespace testsupport {

// A copy of program that any user may run: the build folder may sit in a home that other
// users cannot enter, or in a path with spaces, which LD_PRELOAD cannot hold. The copy lives
// as long as the test program.
inline QString runnableByAnyone(const QString &program)
{
    static QTemporaryDir copies;
    const QString copy = copies.filePath(QFileInfo(program).fileName());
    if (!QFileInfo::exists(copy)
        && !(QFile::copy(program, copy) && setMode(copies.path(), 0755) && setMode(copy, 0755)))
        return QString();
    return copy;
}

constexpr uid_t nobody = 65534;

// Gives path to "nobody" when running as root, so that an unprivileged child owns what it is
// to rewrite; as another user, the files are the user's own already.
inline bool giveToUnprivileged(const QString &path)
{
    return geteuid() != 0 || ::chown(QFile::encodeName(path).constData(), nobody, nobody) == 0;
}

// Until the returned guard goes, this process (all its threads) acts as "nobody" when it runs
// as root and is asked to, so that permissions bind it as they bind a user; for runs inside the
// test process.
[[nodiscard]] inline auto actingUnprivileged(bool asked = true)
{
    const bool switched = asked && geteuid() == 0;
    if (switched && (setegid(nobody) != 0 || seteuid(nobody) != 0))
        std::abort();
    return qScopeGuard([switched] {
        if (switched && (seteuid(0) != 0 || setegid(0) != 0))
            std::abort();
    });
}

} // namespace testsupport

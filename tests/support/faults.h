#pragma once

#include "support/privileges.h"

#include <QList>
#include <QProcessEnvironment>
#include <QScopeGuard>

#include <signal.h>
#include <sys/resource.h>

namespace testsupport {

// The environment of a child that preloads the fault library (faultinjection.cpp)
// with faults, also under AddressSanitizer, which would otherwise insist on coming first.
inline QProcessEnvironment withFaults(const QString &faultLibrary, const QString &faults)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_PRELOAD", runnableByAnyone(faultLibrary));
    environment.insert("FAULTS", faults);
    environment.insert(
        "ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    return environment;
}

using FaultSettings = QList<std::pair<const char *, QByteArray>>;

// Faults for this very process, which has the fault library's calls linked in: each variable
// set until the returned guard goes. Set while the test's own threads are idle, since they read
// the environment at each call.
[[nodiscard]] inline auto faultsHere(const FaultSettings &settings)
{
    for (const auto &[name, value] : settings)
        qputenv(name, value);
    return qScopeGuard([settings] {
        for (const auto &setting : settings)
            qunsetenv(setting.first);
    });
}

// The environment without a display, as on a headless machine: a program that needed one fails.
inline QProcessEnvironment withoutDisplay(QProcessEnvironment environment)
{
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(name);
    return environment;
}

// Makes writes past the given size fail with EFBIG in this process (as on a full disk),
// whatever the user's privileges; for a QProcess child modifier as it is.
inline bool limitFileSize(rlim_t bytes)
{
    signal(SIGXFSZ, SIG_IGN);
    rlimit limited {};
    getrlimit(RLIMIT_FSIZE, &limited);
    limited.rlim_cur = bytes;
    return setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

// limitFileSize until the returned guard goes, which puts back the limit and the signal's handler.
[[nodiscard]] inline auto fileSizeLimit(rlim_t bytes)
{
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const sighandler_t savedHandler = signal(SIGXFSZ, SIG_IGN);
    limitFileSize(bytes);
    return qScopeGuard([saved, savedHandler] {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, savedHandler);
    });
}

} // namespace testsupport

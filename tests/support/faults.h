#pragma once

#include "support/privileges.h"

#include <QList>
#include <QProcessEnvironment>

#include <signal.h>
#include <sys/resource.h>

#include <utility>

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

// Faults for this very process, which has the fault library's calls linked in: each variable
// set until destroyed. Set while the test's own threads are idle, since they read the
// environment at each call.
class FaultsHere
{
public:
    explicit FaultsHere(QList<std::pair<const char *, QByteArray>> settings)
        : settings(std::move(settings))
    {
        for (const auto &[name, value] : this->settings)
            qputenv(name, value);
    }
    ~FaultsHere()
    {
        for (const auto &setting : settings)
            qunsetenv(setting.first);
    }
    FaultsHere(const FaultsHere &) = delete;
    FaultsHere &operator=(const FaultsHere &) = delete;

private:
    const QList<std::pair<const char *, QByteArray>> settings;
};

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

// limitFileSize until destroyed.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        active = limitFileSize(bytes);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const { return active; }

private:
    rlimit saved {};
    bool active = false;
};

} // namespace testsupport

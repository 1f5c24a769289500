#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace cueprune {

// The names of numbered backups, as GNU cp and mv give them: "name.~N~".

[[nodiscard]] QByteArray numberedBackupName(QByteArrayView name, int number);

// N when candidate is the numbered backup name.~N~ of name; nothing for any other name.
[[nodiscard]] std::optional<int> backupNumber(QByteArrayView candidate, QByteArrayView name);

} // namespace cueprune

#pragma once

#include "LogFollower.h"

#include <QString>

#include <optional>

namespace publish {

/// $XDG_STATE_HOME/vx310/publish-<station>.state, ~/.local/state when the variable is unset; on
/// Windows %LOCALAPPDATA%\vx310\publish-<station>.state.
QString defaultStatePath(const QString& station);

/// The last acknowledged snapshot, or empty for a missing file. A file that cannot be read or
/// holds no position gives empty with the reason in error.
std::optional<RingPosition> readState(const QString& path, QString* error);

/// Replaces the file in one step, so a crash leaves the old position or the new one.
bool writeState(const QString& path, const RingPosition& position, QString* error);

} // namespace publish

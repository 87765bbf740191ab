#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace common {

/// What tells one file from another whatever path reaches it: device and inode, or on Windows
/// the volume's serial number and the file's index on it.
using FileIdentity = std::pair<std::uint64_t, std::uint64_t>;

/// The identity of the file a path reaches, links followed; empty when there is none.
std::optional<FileIdentity> fileIdentity(const QString& path);

} // namespace common

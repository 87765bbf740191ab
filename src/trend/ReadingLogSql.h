#pragma once

namespace trend {

/// The control row; the two blanks after "from" are part of the statement.
inline constexpr const char* kSelectControlRow = "select * from  sl_void";

} // namespace trend

#pragma once

#include <QString>

#include <cstdint>

namespace trend {

// The statements the station sends, character for character: two blanks after "from" in every
// one, two before "between", and a trailing blank on the wrapping history window.

/// The control row.
inline constexpr const char* kSelectControlRow = "select * from  sl_void";

/// The snapshot carrying a record number.
inline QString selectSnapshotSql(std::int32_t recordNumber) {
    return QStringLiteral("select * from  pv_data where w_id=") + QString::number(recordNumber);
}

/// Records first..last of a window that does not wrap, oldest first by the clock.
inline QString selectWindowSql(std::int32_t first, std::int32_t last) {
    return QStringLiteral("select * from  pv_data where w_id  between %1 and %2 order by "
                          "w_date,w_time")
        .arg(first)
        .arg(last);
}

/// Every record outside first..last: a window that wraps past the end of the ring.
inline QString selectWrappedWindowSql(std::int32_t first, std::int32_t last) {
    return QStringLiteral("select * from  pv_data where w_id not between %1 and %2 order by "
                          "w_date,w_time ")
        .arg(first)
        .arg(last);
}

} // namespace trend

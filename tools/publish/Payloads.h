#pragma once

#include "common/ReadingCatalogue.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace publish {

/// One recorded snapshot as the log holds it: record number, date and time of day as day
/// numbers, and the sixteen readings in store order (NaN where a value does not read).
struct SnapshotRow {
    std::int32_t record = 0;
    double date = 0;
    double time = 0;
    std::array<float, common::kReadingCount> values{};
};

/// The topics of one station.
struct Topics {
    Topics(const QString& prefix, const QString& station);
    QString station;
    QString snapshot;
    QString status;
    QString meta;
    /// Where a consumer of the discovery convention finds the sensor of one reading.
    [[nodiscard]] QString discovery(const common::Reading& reading) const;
};

/// JSON text of a string, quotes and control characters escaped.
QByteArray jsonString(const QString& text);

/// The shortest decimal text that reads back as the same 32-bit float; "null" for NaN and
/// infinities, which JSON cannot carry.
QByteArray jsonNumber(float value);

/// The snapshot's own date and time as local time with the machine's UTC offset at that moment
/// ("2026-12-08T12:51:08+08:00"); empty when the day numbers name no moment.
QString localMomentText(double date, double time);

/// {"record": N, "time": "...", "Uab": ..., ..., "C1": ...} in store order.
QByteArray snapshotPayload(const SnapshotRow& row);

/// The sixteen keys with the captions the main window shows beside them.
QByteArray metaPayload();

/// A sensor configuration for home-automation discovery: the reading picked from the snapshot
/// topic, available while the status topic says online.
QByteArray discoveryPayload(const Topics& topics, const common::Reading& reading);

} // namespace publish

#include "Payloads.h"

#include "common/DayNumber.h"
#include "common/ReadingCatalogue.h"

#include <QDateTime>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace publish {

Topics::Topics(const QString& prefix, const QString& stationName)
    : station(stationName), snapshot(prefix + u'/' + stationName + QStringLiteral("/snapshot")),
      status(prefix + u'/' + stationName + QStringLiteral("/status")),
      meta(prefix + u'/' + stationName + QStringLiteral("/meta")) {}

QString Topics::discovery(const common::Reading& reading) const {
    // The discovery convention allows only letters, digits, '_' and '-' in an object id.
    QString objectId = station + u'_' + QLatin1StringView(reading.key);
    for (QChar& c : objectId) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                           (u >= u'0' && u <= u'9') || u == u'_' || u == u'-';
        if (!plain) {
            c = u'_';
        }
    }
    return QStringLiteral("homeassistant/sensor/%1/config").arg(objectId);
}

QByteArray jsonString(const QString& text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

QByteArray jsonNumber(float value) {
    if (!std::isfinite(value)) {
        return QByteArrayLiteral("null");
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return {text, static_cast<qsizetype>(result.ptr - text)};
}

QString localMomentText(double date, double time) {
    if (!std::isfinite(date) || !std::isfinite(time)) {
        return {};
    }
    const QDateTime wall = common::momentOf(date + time);
    if (!wall.date().isValid() || !wall.time().isValid()) {
        return {};
    }
    QDateTime local(wall.date(), wall.time());
    if (!local.isValid()) {
        // A wall time the clock skipped (a daylight-saving gap) keeps the offset before the gap.
        local = QDateTime(wall.date(), wall.time().addSecs(-3600));
    }
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return wall.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray snapshotPayload(const SnapshotRow& row) {
    QByteArray out;
    out.reserve(400);
    out += "{\"record\": ";
    out += QByteArray::number(row.record);
    out += ", \"time\": ";
    const QString moment = localMomentText(row.date, row.time);
    out += moment.isEmpty() ? QByteArrayLiteral("null") : jsonString(moment);
    for (const common::Reading& reading : common::kReadingCatalogue) {
        out += ", \"";
        out += reading.key;
        out += "\": ";
        out += jsonNumber(row.values[static_cast<std::size_t>(reading.slot)]);
    }
    out += '}';
    return out;
}

QByteArray metaPayload() {
    QByteArray out = "{";
    for (const common::Reading& reading : common::kReadingCatalogue) {
        if (reading.slot > 0) {
            out += ", ";
        }
        out += jsonString(QString::fromLatin1(reading.key));
        out += ": ";
        out += jsonString(QString::fromUtf8(reading.caption));
    }
    out += '}';
    return out;
}

QByteArray discoveryPayload(const Topics& topics, const common::Reading& reading) {
    const QString key = QString::fromLatin1(reading.key);
    const QString device = QStringLiteral("vx310_") + topics.station;
    QByteArray out = "{\"name\": ";
    out += jsonString(QString::fromUtf8(reading.caption));
    out += ", \"unique_id\": " + jsonString(device + u'_' + key);
    out += ", \"state_topic\": " + jsonString(topics.snapshot);
    out += ", \"value_template\": " + jsonString(QStringLiteral("{{ value_json.%1 }}").arg(key));
    out += ", \"availability_topic\": " + jsonString(topics.status);
    out += ", \"payload_available\": \"online\", \"payload_not_available\": \"offline\"";
    out += ", \"device\": {\"identifiers\": [" + jsonString(device) +
           "], \"name\": " + jsonString(QStringLiteral("VX310 ") + topics.station) +
           ", \"model\": \"VX310\"}}";
    return out;
}

} // namespace publish

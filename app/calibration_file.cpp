#include "app/calibration_file.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cmath>
#include <fstream>

#include "app/distance_table.h"

namespace {

constexpr int kVersion = 1;
constexpr std::streamsize kMaxFileBytes = 64 * 1024;  // a calibration file is a few hundred

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + '"';
}

// A number member within [low, high]; empty or the reason.
std::string readNumber(const QJsonObject& o, const char* key, double low, double high,
                       double& value) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (!v.isDouble()) return std::string("\"") + key + "\" must be a number";
  value = v.toDouble();
  if (!std::isfinite(value) || value < low || value > high) {
    return std::string("\"") + key + "\" is " + fixedPointText(value, 3) + ", outside " +
           fixedPointText(low, 1) + " to " + fixedPointText(high, 1);
  }
  return {};
}

std::string readTemperature(const QJsonObject& o, Calibration& c) {
  for (const char* key : {"temperatureC", "humidityPercent"}) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isNull() && !v.isUndefined() && !v.isDouble()) {
      return std::string("\"") + key + "\" must be a number or null";
    }
  }
  if (o.value(QLatin1String("temperatureC")).isDouble()) {
    double t = 0.0;
    if (std::string p = readNumber(o, "temperatureC", kMinAirTemperatureC, kMaxAirTemperatureC, t);
        !p.empty()) {
      return p;
    }
    c.temperatureC = t;
  }
  if (o.value(QLatin1String("humidityPercent")).isDouble()) {
    return readNumber(o, "humidityPercent", 0.0, 100.0, c.humidityPercent);
  }
  return {};
}

}  // namespace

std::string calibrationFileText(const CalibrationRecord& r) {
  const Calibration& c = r.calibration;
  std::string t = "{\"version\":" + std::to_string(kVersion);
  t += ",\"speedOfSound\":" + fixedPointText(speedInUse(kAir, c), 4);
  t += ",\"offsetMetres\":" + fixedPointText(c.offsetMetres, 6);
  t += ",\"temperatureC\":" + (c.temperatureC ? fixedPointText(*c.temperatureC, 2) : "null");
  t += ",\"humidityPercent\":" + (c.temperatureC ? fixedPointText(c.humidityPercent, 1) : "null");
  t += ",\"device\":" + jsonString(r.device);
  t += ",\"made\":" + jsonString(r.made) + "}\n";
  return t;
}

std::string parseCalibrationFile(std::string_view text, CalibrationRecord& record) {
  QJsonParseError error{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
  if (doc.isNull()) return "not JSON: " + error.errorString().toStdString();
  if (!doc.isObject()) return "not a JSON object";
  const QJsonObject o = doc.object();
  const QJsonValue version = o.value(QLatin1String("version"));
  if (!version.isDouble() || version.toDouble() != kVersion) {
    return "\"version\" must be 1";
  }
  CalibrationRecord r;
  double speed = 0.0;
  if (std::string p =
          readNumber(o, "speedOfSound", kMinCalibratedSpeedMps, kMaxCalibratedSpeedMps, speed);
      !p.empty()) {
    return p;
  }
  r.calibration.speedMps = speed;
  if (std::string p = readNumber(o, "offsetMetres", -kMaxCalibrationOffsetM, kMaxCalibrationOffsetM,
                                 r.calibration.offsetMetres);
      !p.empty()) {
    return p;
  }
  if (std::string p = readTemperature(o, r.calibration); !p.empty()) return p;
  for (const char* key : {"device", "made"}) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isUndefined() && !v.isString()) return std::string("\"") + key + "\" must be text";
  }
  r.device = o.value(QLatin1String("device")).toString().toStdString();
  r.made = o.value(QLatin1String("made")).toString().toStdString();
  record = std::move(r);
  return {};
}

std::string readCalibrationFile(const std::string& path, CalibrationRecord& record) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot be read";
  std::string text;
  text.resize(static_cast<size_t>(kMaxFileBytes) + 1);
  in.read(text.data(), kMaxFileBytes + 1);
  if (in.bad()) return path + ": cannot be read";
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > static_cast<size_t>(kMaxFileBytes)) {
    return path + ": too large for a calibration file";
  }
  if (std::string p = parseCalibrationFile(text, record); !p.empty()) return path + ": " + p;
  return {};
}

std::string calibrationTimeNow() {
  return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
}

#include "simulator/StationPages.h"

#include "demo/DemoKeys.h"

#include <QString>
#include <array>
#include <cmath>
#include <numbers>

namespace telvar::simulator {

namespace {

// The demo's limits (its SPC database's characteristic-per-product rows);
// where a combination has no row of its own the nearest one is used.
ReadingSpec diam()
{
    return {"DIAM=", 25.0, 24.95, 25.05, "mm"};
}
ReadingSpec largo()
{
    return {"LARGO=", 120.0, 119.5, 120.5, "mm"};
}
ReadingSpec pesoTight()
{
    return {"PESO=", 50.0, 48.0, 52.0, "kg"};
}
ReadingSpec peso()
{
    return {"PESO=", 50.0, 45.0, 55.0, "kg"};
}
ReadingSpec temp()
{
    return {"TEMP=", 70.0, 60.0, 80.0, "C"};
}

StationProfile profile(const char* title, int machine, int product, int format,
                       std::vector<ReadingSpec> readings)
{
    return {title, demo::kMachines[machine], demo::kProducts[product], demo::kFormats[format],
            std::move(readings)};
}

quint64 splitMix(quint64& state)
{
    state += 0x9E3779B97F4A7C15ULL;
    quint64 z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

quint64 fnv(QByteArrayView bytes)
{
    quint64 hash = 0xCBF29CE484222325ULL;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

double unit(quint64& state)
{
    return static_cast<double>(splitMix(state) >> 11) * 0x1.0p-53;
}

constexpr QByteArrayView kFillerLine =
    "<p>telvar station simulator: filler line of a very large page</p>\n";

} // namespace

std::optional<StationProfile> demoProfile(QByteArrayView path)
{
    if (path == "/estacion1.html")
        return profile("Estacion 1", 0, 0, 0, {diam(), largo()});
    if (path == "/estacion1b.html")
        return profile("Estacion 1 (b)", 0, 1, 1, {peso(), temp()});
    if (path == "/estacion2.html")
        return profile("Estacion 2", 1, 1, 1, {pesoTight(), temp()});
    if (path == "/estacion2b.html")
        return profile("Estacion 2 (b)", 1, 0, 0, {diam(), largo()});
    if (path == "/estacion3.html")
        return profile("Estacion 3", 0, 0, 0, {diam(), largo()});
    if (path == "/estacion4.html")
        return profile("Estacion 4", 1, 1, 1, {pesoTight(), temp()});
    if (path == "/estacion5.html")
        return profile("Estacion 5", 0, 0, 0, {diam(), largo()});
    return std::nullopt;
}

StationProfile genericProfile(quint64 number)
{
    const int machine = static_cast<int>(number % 2);
    const int product = static_cast<int>((number / 2) % 2);
    const int format = product;
    return profile("Station", machine, product, format, {diam(), largo(), peso(), temp()});
}

double readingValue(quint64 seed, QByteArrayView page, const ReadingSpec& spec, quint64 tick)
{
    quint64 state = seed ^ (fnv(page) * 31) ^ (fnv(spec.identifier) * 131);
    const double phase = unit(state) * 2 * std::numbers::pi;
    state ^= tick * 0xD1B54A32D192ED03ULL;
    splitMix(state);
    const double half = (spec.upper - spec.lower) / 2;
    const double center = (spec.upper + spec.lower) / 2;
    // A bell-shaped noise in [-1, 1] and a slow drift keep the reading inside
    // 85% of its half range; one reading in twenty goes outside the limits.
    const double noise = (unit(state) + unit(state) + unit(state) - 1.5) / 1.5;
    const double drift =
        std::sin(static_cast<double>(tick % 50) * 2 * std::numbers::pi / 50 + phase);
    if (unit(state) < 0.05) {
        const double sign = unit(state) < 0.5 ? -1.0 : 1.0;
        return center + sign * half * (1.1 + 0.4 * unit(state));
    }
    return center + half * (0.7 * noise + 0.15 * drift);
}

QByteArray formatValue(double value, int width)
{
    QByteArray text;
    for (int decimals = width - 1; decimals >= 0; --decimals) {
        text = QByteArray::number(value, 'f', decimals);
        if (text.size() <= width)
            break;
    }
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

QByteArray padKey(QByteArrayView key, int width)
{
    QByteArray text = key.toByteArray();
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

QByteArray stationPage(const StationProfile& profile, QByteArrayView page, quint64 seed,
                       quint64 tick)
{
    QByteArray html;
    html.reserve(512);
    html += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>";
    html += profile.title;
    html += "</title></head>\n<body>\n<h1>";
    html += profile.title;
    html += "</h1>\n";
    for (const ReadingSpec& spec : profile.readings) {
        html += "<p>";
        html += spec.identifier;
        html += formatValue(readingValue(seed, page, spec, tick));
        html += ' ';
        html += spec.unit;
        html += "</p>\n";
    }
    html += "<p>@MAQ:" + padKey(profile.machine) + "</p>\n";
    html += "<p>@PROD:" + padKey(profile.product) + "</p>\n";
    html += "<p>@FRM:" + padKey(profile.format) + "</p>\n";
    html += "<p>sample " + QByteArray::number(tick) + "</p>\n</body></html>\n";
    return html;
}

QByteArray latin1StationPage(quint64 seed, quint64 tick)
{
    const ReadingSpec spec = temp();
    QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><title>Estaci\u00f3n t\u00e9rmica"
                                  "</title></head>\n<body>\n<h1>Estaci\u00f3n t\u00e9rmica, "
                                  "a\u00f1o 2026</h1>\n<p>");
    html += QString::fromLatin1(spec.identifier);
    html += QString::fromLatin1(formatValue(readingValue(seed, "/charset", spec, tick)));
    html += QStringLiteral(" \u00baC \u00b10,5</p>\n<p>@MAQ:");
    html += QString::fromLatin1(padKey(demo::kMachines[1]));
    html += QStringLiteral("</p>\n</body></html>\n");
    return html.toLatin1();
}

QByteArray fillerBytes(qint64 offset, qint64 count)
{
    QByteArray bytes;
    if (count <= 0)
        return bytes;
    bytes.reserve(count);
    const qint64 lineSize = kFillerLine.size();
    qint64 at = offset % lineSize;
    while (bytes.size() < count) {
        const qint64 take = std::min(lineSize - at, count - bytes.size());
        bytes.append(kFillerLine.sliced(at, take));
        at = 0;
    }
    return bytes;
}

QByteArray garbageBytes()
{
    static constexpr char kStart[] = "\x16\x03\x01\x02\x00 not an answer \xff\xfe\x00\x01";
    QByteArray bytes(kStart, sizeof kStart - 1);
    quint64 state = 42;
    for (int i = 0; i < 489; ++i)
        bytes.append(static_cast<char>(splitMix(state) & 0xFF));
    return bytes;
}

} // namespace telvar::simulator

#pragma once

// The pages a simulated measuring station publishes: readings written as an
// identifier followed by a value padded to six characters (so that a cut of
// six characters right after the identifier gives the value), and the
// machine, product and format keys after the markers "@MAQ:", "@PROD:" and
// "@FRM:". Readings are a deterministic function of a seed, the page, the
// identifier and a tick, and move around their nominal value, now and then
// outside their limits.

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace telvar::simulator {

// One reading of a station: identifier (with its '='), nominal value and
// the limits it stays inside most of the time.
struct ReadingSpec {
    QByteArray identifier;
    double nominal = 0;
    double lower = 0;
    double upper = 0;
    QByteArray unit;
};

struct StationProfile {
    QByteArray title;
    QByteArray machine;
    QByteArray product;
    QByteArray format;
    std::vector<ReadingSpec> readings;
};

// Width of a written value: the demo cuts six characters.
inline constexpr int kValueWidth = 6;

// The profile of a page the demo configuration names ("/estacion1.html",
// ...), or nothing for another path.
std::optional<StationProfile> demoProfile(QByteArrayView path);

// The profile of generic station number n: all four characteristics, the
// demo's keys chosen by n.
StationProfile genericProfile(quint64 number);

// The value of one reading at a tick.
double readingValue(quint64 seed, QByteArrayView page, const ReadingSpec& spec, quint64 tick);

// value written in exactly width characters (as many decimals as fit, padded
// with spaces on the right).
QByteArray formatValue(double value, int width = kValueWidth);

// A key written after its marker, padded with spaces to the cut's width.
QByteArray padKey(QByteArrayView key, int width = kValueWidth);

// The HTML page of a station at a tick (UTF-8).
QByteArray stationPage(const StationProfile& profile, QByteArrayView page, quint64 seed,
                       quint64 tick);

// A station page written in ISO-8859-1 (with accented letters), for the
// declared-charset fault page.
QByteArray latin1StationPage(quint64 seed, quint64 tick);

// bytes of filler for a very large page, starting at offset in the body.
QByteArray fillerBytes(qint64 offset, qint64 count);

// Bytes that are not an HTTP response.
QByteArray garbageBytes();

} // namespace telvar::simulator

#include "recording/LocalTimeZone_fixture.h"
#include "recording/WallTime.h"

#include <QDateTime>
#include <QTimeZone>
#include <QVariant>
#include <gtest/gtest.h>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

struct StampCase {
    const char* what;
    QVariant value;
    // The wall time expected ("yyyy-MM-dd HH:mm:ss.zzz"), or "" when the
    // value cannot be read.
    const char* expected;
};

QString shown(const std::optional<WallTime>& wall)
{
    if (!wall)
        return QString();
    return wall->date().toString(u"yyyy-MM-dd"_s) + u" "_s +
           wall->time().toString(u"HH:mm:ss.zzz"_s);
}

TEST(WallTime, ARowsStampIsReadInEveryFormItMayHaveWithoutATimeZone)
{
    test::LocalTimeZone zone("Europe/Madrid");
    ASSERT_TRUE(test::LocalTimeZone::isMadrid());
    const StampCase cases[] = {
        {"the rows' own form", u"2026-03-02 7:04:09"_s, "2026-03-02 07:04:09.000"},
        {"a two-digit hour", u"2026-03-02 07:04:09"_s, "2026-03-02 07:04:09.000"},
        {"ISO form", u"2026-03-02T07:04:09"_s, "2026-03-02 07:04:09.000"},
        {"blanks around it", u"  2026-03-02 7:04:09 "_s, "2026-03-02 07:04:09.000"},
        {"without seconds", u"2026-03-02 7:04"_s, "2026-03-02 07:04:00.000"},
        {"fractions of a second", u"2026-03-02 7:04:09.5"_s, "2026-03-02 07:04:09.500"},
        {"a date alone", u"2026-03-02"_s, "2026-03-02 00:00:00.000"},
        {"bytes", QByteArray("2026-03-02 7:04:09"), "2026-03-02 07:04:09.000"},
        // The hour that occurs twice and the hour skipped keep their fields.
        {"the repeated hour", u"2026-10-25 2:30:00"_s, "2026-10-25 02:30:00.000"},
        {"the skipped hour", u"2026-03-29 2:30:00"_s, "2026-03-29 02:30:00.000"},
        // An instant is the wall time the local clock showed at it.
        {"an instant in UTC", u"2026-03-02T06:04:09Z"_s, "2026-03-02 07:04:09.000"},
        {"an instant at an offset, second pass of the repeated hour", u"2026-10-25 01:30:00+00"_s,
         "2026-10-25 02:30:00.000"},
        {"an instant at an offset, first pass", u"2026-10-25 02:30:00+02:00"_s,
         "2026-10-25 02:30:00.000"},
        {"a date-time in local time, by its fields", QDateTime(QDate(2026, 3, 2), QTime(7, 4, 9)),
         "2026-03-02 07:04:09.000"},
        {"a date-time in UTC", QDateTime(QDate(2026, 10, 25), QTime(1, 30), QTimeZone::utc()),
         "2026-10-25 02:30:00.000"},
        {"a date", QDate(2026, 3, 2), "2026-03-02 00:00:00.000"},
        {"not a date", u"ayer"_s, ""},
        {"empty", u""_s, ""},
        {"no such day", u"2026-02-30 7:00:00"_s, ""},
        {"no such hour", u"2026-03-02 25:00:00"_s, ""},
        {"a number", 46083.3, ""},
        {"Null", QVariant(QMetaType::fromType<QString>()), ""},
    };
    for (const StampCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(shown(WallTime::fromValue(c.value)), QString::fromLatin1(c.expected));
    }
}

TEST(WallTime, AnInstantHasTheWallTimeOfTheLocalClockAndWallTimesCountWallSeconds)
{
    test::LocalTimeZone zone("Europe/Madrid");
    ASSERT_TRUE(test::LocalTimeZone::isMadrid());
    const QDateTime firstPass =
        test::LocalTimeZone::wallAtOffset(QDate(2026, 10, 25), QTime(2, 30), 2);
    ASSERT_EQ(firstPass.offsetFromUtc(), 7200);
    const QDateTime secondPass = test::LocalTimeZone::instantAfter(firstPass, 3600);
    ASSERT_EQ(secondPass.offsetFromUtc(), 3600);
    ASSERT_EQ(secondPass.time(), QTime(2, 30));

    // Both instants show 2:30: one wall time.
    EXPECT_EQ(WallTime::at(firstPass), WallTime::at(secondPass));
    EXPECT_EQ(WallTime::at(secondPass).toText(), u"2026-10-25 2:30:00"_s);
    EXPECT_EQ(WallTime::at(secondPass).toIsoText(), u"2026-10-25 02:30:00"_s);
    EXPECT_EQ(WallTime::at(secondPass.toUTC()), WallTime::at(secondPass));
    // The second pass's 2:10 comes twenty minutes after the first pass's
    // 2:50, and forty minutes before it on the wall.
    const WallTime firstAt0250 =
        WallTime::at(test::LocalTimeZone::wallAtOffset(QDate(2026, 10, 25), QTime(2, 50), 2));
    const WallTime secondAt0210 =
        WallTime::at(test::LocalTimeZone::instantAfter(firstPass, 3600 - 20 * 60));
    EXPECT_LT(secondAt0210, firstAt0250);
    EXPECT_EQ(firstAt0250.secsTo(secondAt0210), -40 * 60);

    // In spring 1:58 and 3:01 are three minutes apart as instants and 63
    // on the wall.
    const QDateTime before = test::LocalTimeZone::wallAtOffset(QDate(2026, 3, 29), QTime(1, 58), 1);
    const QDateTime after = test::LocalTimeZone::instantAfter(before, 180);
    ASSERT_EQ(after.time(), QTime(3, 1));
    EXPECT_EQ(WallTime::at(before).secsTo(WallTime::at(after)), 63 * 60);
}

} // namespace
} // namespace telvar

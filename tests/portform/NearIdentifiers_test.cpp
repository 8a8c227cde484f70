// The texts of a page nearest to an identifier it does not hold, as the
// port form's preview offers them.
#include "portform/NearIdentifiers.h"

#include <gtest/gtest.h>

namespace telvar {
namespace {

std::string shown(const NearIdentifiers& found)
{
    std::string texts;
    for (const NearIdentifier& near : found.matches) {
        if (!texts.empty())
            texts += " | ";
        texts += near.text.toStdString() + "@" + std::to_string(near.position);
    }
    return texts;
}

TEST(NearIdentifiers, TheNearestTextsComeFirstEachOnceAtItsFirstPlace)
{
    const struct {
        const char* why;
        const char* page;
        const char* ident;
        // "text@position | ...", nearest first.
        const char* expected;
    } cases[] = {
        {"other capitals", "<td>Temperatura=25</td>", "temperatura=", "Temperatura=@4"},
        {"blanks on the page", "<b>Diam = 25.0</b>", "Diam=", "Diam =@3"},
        {"blanks in the identifier", "<b>Diam=25.0</b>", "Diam =", "Diam=@3"},
        {"blanks around the identifier are not its own", "x Diam=1", "  diam=  ", "Diam=@2"},
        {"capitals before blanks, then similar texts by distance", "DIAM=1 Diam =2 Diam:3",
         "Diam=", "DIAM=@0 | Diam =@7 | Diam:@15"},
        {"one character replaced, by place", "Presion:12 Presión=3",
         "Presion=", "Presion:@0 | Presión=@11"},
        {"one character missing", "<i>Largo 120.2</i>", "Largo=", "Largo@3"},
        {"each text once", "VOLT=1 volt=2 VOLT=3 volt=4", "Volt=", "VOLT=@0 | volt=@7"},
        {"nothing near", "xxxxxxxxxxxxxxxx", "Diam=", ""},
        {"a text across a line end is not offered", "Di\nam=5", "Diam=", ""},
        {"a short identifier only in other capitals", "a=1 b=2 c=3", "A=", "a=@0"},
        {"no similar texts for a short identifier", "B=1 C=2", "A=", ""},
        {"an empty identifier", "abc", "", ""},
        {"an empty page", "", "Diam=", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(shown(nearIdentifiers(QString::fromUtf8(c.page), QString::fromUtf8(c.ident))),
                  c.expected);
    }
}

TEST(NearIdentifiers, KindsAndDistancesAreSaid)
{
    const NearIdentifiers found =
        nearIdentifiers(QStringLiteral("CAL=1 Cal =2 Calo=3"), QStringLiteral("Cal="));
    ASSERT_EQ(found.matches.size(), 3);
    EXPECT_EQ(found.matches[0],
              (NearIdentifier{QStringLiteral("CAL="), 0, NearKind::OtherCase, 0}));
    EXPECT_EQ(found.matches[1],
              (NearIdentifier{QStringLiteral("Cal ="), 6, NearKind::OtherBlanks, 0}));
    EXPECT_EQ(found.matches[2],
              (NearIdentifier{QStringLiteral("Calo="), 13, NearKind::Similar, 1}));
    EXPECT_FALSE(found.pageCut);
    EXPECT_EQ(found.searched, 19);
}

TEST(NearIdentifiers, TheSearchIsBoundedOnALargeHostilePage)
{
    NearLimits limits;
    limits.pageChars = 1000;
    limits.maxMatches = 3;
    // Near texts everywhere, and one past the searched part.
    QString page;
    while (page.size() < 990)
        page += QStringLiteral("Dia%1= ").arg(page.size() % 10);
    page = page.left(990) + QStringLiteral("          DIAM=");
    const NearIdentifiers found = nearIdentifiers(page, QStringLiteral("Diam="), limits);
    EXPECT_TRUE(found.pageCut);
    EXPECT_EQ(found.searched, 1000);
    ASSERT_EQ(found.matches.size(), 3);
    for (const NearIdentifier& near : found.matches) {
        EXPECT_LT(near.position, 1000);
        EXPECT_EQ(near.kind, NearKind::Similar);
        EXPECT_EQ(near.distance, 1);
    }
    // The first three places, in order.
    EXPECT_LT(found.matches[0].position, found.matches[1].position);
    EXPECT_LT(found.matches[1].position, found.matches[2].position);

    // An identifier longer than the bound is looked for in other capitals
    // and blanks only.
    limits.identChars = 8;
    EXPECT_TRUE(nearIdentifiers(QStringLiteral("Temperatura del horno 1=5"),
                                QStringLiteral("Temperatura del horno 2="), limits)
                    .matches.isEmpty());
    EXPECT_EQ(nearIdentifiers(QStringLiteral("TEMPERATURA DEL HORNO 2=5"),
                              QStringLiteral("Temperatura del horno 2="), limits)
                  .matches.size(),
              1);
    // No candidates asked for, none given.
    limits.maxMatches = 0;
    EXPECT_TRUE(nearIdentifiers(page, QStringLiteral("Diam="), limits).matches.isEmpty());
}

} // namespace
} // namespace telvar

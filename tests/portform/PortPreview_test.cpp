// The live preview of a port: the page fetched through the loader, and the
// cut applied to it as the acquisition would make it.
#include "portform/PortPreview.h"
#include "support/ScriptedPageLoader.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace telvar {
namespace {

class PortPreviewTest : public ::testing::Test {
protected:
    void serve(const QString& text, PageOutcome outcome = PageOutcome::Complete)
    {
        ASSERT_EQ(m_loader.pending().size(), 1);
        m_loader.complete(m_loader.pending().first().ticket,
                          LoadedPage{QString(), outcome, text, 200, std::nullopt});
    }

    test::ScriptedPageLoader m_loader;
    // English texts (language 2).
    PortPreview m_preview{m_loader, 2};
};

TEST_F(PortPreviewTest, TheCutShowsTheReadingWithTheTextAroundIt)
{
    m_preview.setCut(QStringLiteral(" Diam= "), QStringLiteral("2"), QStringLiteral("6 chars"));
    m_preview.load(QStringLiteral(" http://st/1.html "));
    ASSERT_EQ(m_loader.requests().size(), 1);
    EXPECT_EQ(m_loader.requests().first().url, QStringLiteral("http://st/1.html"));
    EXPECT_TRUE(m_preview.view().pageLine.startsWith(QStringLiteral("Reading http://st/1.html")));

    serve(QStringLiteral("<p>Diam= 25.013 mm</p>"));
    const PreviewView view = m_preview.view();
    EXPECT_EQ(view.pageLine, QStringLiteral("Page read: 22 characters, HTTP status 200"));
    EXPECT_EQ(view.readingLine, QStringLiteral("Reading: 25.013   (value 25.013)"));
    EXPECT_EQ(view.before, QStringLiteral("<p>Diam= "));
    EXPECT_EQ(view.cut, QStringLiteral("25.013"));
    EXPECT_EQ(view.after, QStringLiteral(" mm</p>"));
}

TEST_F(PortPreviewTest, EditingTheCutNeedsNoNewFetch)
{
    m_preview.load(QStringLiteral("http://st/1.html"));
    serve(QStringLiteral("A=1;B=22;C=   ;") + QString(200, QLatin1Char('x')));
    const struct {
        const char* ident;
        const char* inici;
        const char* longi;
        const char* readingLine;
        const char* cut;
    } cases[] = {
        {"B=", "1", "2", "Reading: 22   (value 22)", "22"},
        {"Z=", "1", "2", "Z= not found", ""},
        {"C=", "1", "3", "The cut is blank: nothing would be recorded", "   "},
        {"A=", "-5", "1", "The reading cannot be cut: Invalid procedure call or argument", ""},
        // Start 0 is the identifier's last character, as the acquisition cuts it.
        {"A=", "0", "1", "Reading: =   (value 0)", "="},
        {"A=", "40000", "1", "The start and the length must be numbers from -32768 to 32767", ""},
        // Start beyond the page: a blank cut, marked at the end.
        {"A=", "30000", "2", "The cut is blank: nothing would be recorded", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ident + std::string(" ") + c.inici);
        m_preview.setCut(QLatin1String(c.ident), QLatin1String(c.inici), QLatin1String(c.longi));
        const PreviewView view = m_preview.view();
        EXPECT_EQ(view.readingLine, QLatin1String(c.readingLine));
        EXPECT_EQ(view.cut, QLatin1String(c.cut));
        EXPECT_LE(view.before.size(), PortPreview::kContext);
        EXPECT_LE(view.after.size(), PortPreview::kContext);
    }
    EXPECT_EQ(m_loader.requests().size(), 1);
}

TEST_F(PortPreviewTest, TheWholePageIsKeptWhateverTheCutGivesWithTheNearTextsOfAMissedIdentifier)
{
    m_preview.load(QStringLiteral("http://st/1.html"));
    const QString page = QStringLiteral("<p>Diam = 25.013 mm</p>\r\n<p>Largo: 120.2</p>");
    serve(page);
    const struct {
        const char* ident;
        const char* readingLine;
        // The near texts, "|"-joined; the line over them.
        const char* near;
        const char* nearLine;
        // The cut's place in the page box (-1: none) and its text.
        qsizetype cutAt;
        const char* cut;
    } cases[] = {
        {"diam=", "diam= not found", "Diam =", "Similar on the page: ", -1, ""},
        {"Largo=", "Largo= not found", "Largo:", "Similar on the page: ", -1, ""},
        {"Zeta=", "Zeta= not found", "", "Nothing similar on the page", -1, ""},
        {"Diam =", "Reading: 25.013   (value 25.013)", "", "", 10, "25.013"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ident);
        m_preview.setCut(QLatin1String(c.ident), QStringLiteral("2"), QStringLiteral("6"));
        const PreviewView view = m_preview.view();
        EXPECT_EQ(view.readingLine, QLatin1String(c.readingLine));
        EXPECT_EQ(view.pageText, page);
        EXPECT_EQ(view.pageFrom, 0);
        EXPECT_TRUE(view.pagePartLine.isEmpty());
        QStringList near;
        for (const NearIdentifier& n : view.near)
            near.append(n.text);
        EXPECT_EQ(near.join(QLatin1Char('|')), QLatin1String(c.near));
        EXPECT_EQ(view.nearLine, QLatin1String(c.nearLine));
        EXPECT_TRUE(view.nearNote.isEmpty());
        EXPECT_EQ(view.cutAt, c.cutAt);
        EXPECT_EQ(view.pageText.mid(std::max<qsizetype>(view.cutAt, 0), view.cutLength),
                  QLatin1String(c.cut));
    }
}

TEST_F(PortPreviewTest, ALongPageShowsThePartAroundTheCutAndSearchesItsBeginning)
{
    m_preview.load(QStringLiteral("http://st/1.html"));
    const qsizetype filler = PortPreview::kPageShown + 1000;
    serve(QString(filler, QLatin1Char('x')) + QStringLiteral("<p>DIAM=24.988 mm</p>"));

    m_preview.setCut(QStringLiteral("DIAM="), QStringLiteral("1"), QStringLiteral("6"));
    PreviewView view = m_preview.view();
    EXPECT_EQ(view.pageText.size(), PortPreview::kPageShown);
    EXPECT_GT(view.pageFrom, 0);
    ASSERT_GE(view.cutAt, 0);
    EXPECT_EQ(view.pageText.mid(view.cutAt, view.cutLength), QStringLiteral("24.988"));
    EXPECT_EQ(view.pagePartLine, QStringLiteral("Characters %1 to %2 of %3 are shown")
                                     .arg(view.pageFrom + 1)
                                     .arg(view.pageFrom + PortPreview::kPageShown)
                                     .arg(filler + 21));

    // Missed: the page's beginning is shown, and only its first part was
    // searched for near texts (the one at the end is beyond it).
    m_preview.setCut(QStringLiteral("Diam="), QStringLiteral("1"), QStringLiteral("6"));
    view = m_preview.view();
    EXPECT_EQ(view.pageFrom, 0);
    EXPECT_EQ(view.pageText.size(), PortPreview::kPageShown);
    EXPECT_EQ(view.cutAt, -1);
    EXPECT_TRUE(view.near.isEmpty());
    EXPECT_EQ(view.nearLine, QStringLiteral("Nothing similar on the page"));
    EXPECT_EQ(
        view.nearNote,
        QStringLiteral(" (its first %1 characters were searched)").arg(NearLimits{}.pageChars));
}

TEST_F(PortPreviewTest, APageThatCannotBeReadSaysWhy)
{
    const struct {
        PageOutcome outcome;
        const char* line;
    } cases[] = {
        {PageOutcome::TimedOut, "The page did not answer in time: the port would read nothing"},
        {PageOutcome::Unreachable, "The page cannot be reached: the port would read nothing"},
    };
    for (const auto& c : cases) {
        m_preview.load(QStringLiteral("http://st/dead.html"));
        serve(QString(), c.outcome);
        EXPECT_EQ(m_preview.view().pageLine, QLatin1String(c.line));
        EXPECT_EQ(m_preview.view().readingLine, QStringLiteral(" not found"));
    }
    m_preview.load(QString());
    EXPECT_EQ(m_preview.view().pageLine, QStringLiteral("No web page to read"));
    EXPECT_TRUE(m_loader.pending().isEmpty());
}

TEST_F(PortPreviewTest, ANewAddressForgetsTheFetchUnderWayAndMasksItsPassword)
{
    QSignalSpy changed(&m_preview, &PortPreview::changed);
    m_preview.load(QStringLiteral("http://st/old.html"));
    const auto first = m_loader.pending().first().ticket;
    m_preview.load(QStringLiteral("http://user:secreto@st/new.html"));
    EXPECT_EQ(m_loader.cancelled(), QList<PageLoader::Ticket>{first});
    EXPECT_FALSE(m_preview.view().pageLine.contains(QStringLiteral("secreto")));
    serve(QStringLiteral("X=9"));
    m_preview.setCut(QStringLiteral("X="), QStringLiteral("1"), QStringLiteral("1"));
    EXPECT_EQ(m_preview.view().readingLine, QStringLiteral("Reading: 9   (value 9)"));
    EXPECT_GE(changed.count(), 3);
}

} // namespace
} // namespace telvar

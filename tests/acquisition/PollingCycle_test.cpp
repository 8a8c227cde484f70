#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/CycleReport.h"
#include "acquisition/PollingCycle.h"
#include "acquisition/ReadingCheck.h"
#include "common/Modulo1.h"
#include "support/ManualClock.h"
#include "support/RecordingInteraccion.h"
#include "support/ScriptedPageLoader.h"

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using telvar::AcquisitionDisplay;
using telvar::cycleReport;
using telvar::Error;
using telvar::LoadedPage;
using telvar::NoAnswer;
using telvar::PageOutcome;
using telvar::PollingCycle;
using telvar::PortReading;
using telvar::Status;
using telvar::TPuerto;
using telvar::test::RecordingInteraccion;
using telvar::test::ScriptedPageLoader;

namespace {

using Field = AcquisitionDisplay::Field;
using BoxType = RecordingInteraccion::Box::Type;

// Records what the cycle hands on; answers with the errors it is given.
class RecordingCheck final : public telvar::ReadingCheck {
public:
    Status LabelLee(const PortReading& reading) override
    {
        readings.append(reading);
        if (onReading)
            onReading(reading);
        if (failFor == reading.Puert)
            return Error{3265, QStringLiteral("DAO"), QStringLiteral("Item not found")};
        return {};
    }

    QList<PortReading> readings;
    int failFor = 0;
    std::function<void(const PortReading&)> onReading;
};

TPuerto port(int puert, const QString& url, const QString& ident = QStringLiteral("T="),
             qint16 inici = 1, qint16 longi = 4)
{
    TPuerto p;
    p.WebPg = url;
    p.Ident = ident;
    p.Inici = inici;
    p.Longi = longi;
    p.Reloj = QStringLiteral("3");
    p.Puert = puert;
    return p;
}

LoadedPage page(const QString& text, PageOutcome outcome = PageOutcome::Complete)
{
    LoadedPage p;
    p.outcome = outcome;
    p.text = text;
    p.httpStatus = outcome == PageOutcome::Complete ? 200 : 0;
    return p;
}

// Hands the loader's pages to the cycle, as the acquisition does.
void wire(ScriptedPageLoader& loader, const std::shared_ptr<PollingCycle>& cycle)
{
    QObject::connect(&loader, &telvar::PageLoader::pageLoaded, &loader,
                     [weak = std::weak_ptr<PollingCycle>(cycle)](telvar::PageLoader::Ticket ticket,
                                                                 const LoadedPage& page) {
                         if (const auto c = weak.lock())
                             c->pageLoaded(ticket, page);
                     });
}

class PollingCycleTest : public ::testing::Test {
protected:
    PollingCycleTest()
    {
        m.Idioma = 1;
        m.messageTable = telvar::MessageTable(80, 40, 2);
        m.messageTable.setText(76, 13, 1, QStringLiteral("Puerto"));
    }

    // A cycle of clock 3 over ports, element numbers from 1 (or as given).
    std::shared_ptr<PollingCycle> cycle(const QList<TPuerto>& ports, QList<int> elements = {})
    {
        QList<PollingCycle::Port> list;
        for (qsizetype k = 0; k < ports.size(); ++k) {
            const int element = elements.isEmpty() ? static_cast<int>(k + 1) : elements[k];
            list.append({element, ports[k], {-1.0 * element, 10.0 * element}});
        }
        auto c = std::make_shared<PollingCycle>(
            3, list, PollingCycle::Services{m, ui, loader, display, check, clock},
            [this](PollingCycle&) { ++finished; });
        wire(loader, c);
        return c;
    }

    QStringList requestedUrls() const
    {
        QStringList urls;
        for (const auto& r : loader.requests())
            urls.append(r.url);
        return urls;
    }

    QList<int> readPuerts() const
    {
        QList<int> puerts;
        for (const PortReading& r : check.readings)
            puerts.append(r.Puert);
        return puerts;
    }

    // Completes the pending load of url (the oldest one) with text.
    void serve(const char* url, const char* text)
    {
        for (const auto& r : loader.pending()) {
            if (r.url == QLatin1String(url)) {
                loader.complete(r.ticket, page(QString::fromUtf8(text)));
                return;
            }
        }
        ADD_FAILURE() << "no pending load of " << url;
    }

    telvar::Modulo1 m;
    RecordingInteraccion ui;
    ScriptedPageLoader loader;
    AcquisitionDisplay display;
    RecordingCheck check;
    telvar::test::ManualClock clock;
    int finished = 0;
};

TEST_F(PollingCycleTest, ConsecutivePortsOnOneAddressShareItsLoad)
{
    struct Case {
        const char* name;
        std::vector<const char*> urls;
        std::vector<const char*> loads;
    };
    const QList<Case> cases{
        {"two on one page", {"http://a/1", "http://a/1"}, {"http://a/1"}},
        {"back to the first page",
         {"http://a/1", "http://a/1", "http://b/2", "http://a/1"},
         {"http://a/1", "http://b/2", "http://a/1"}},
        {"same address, other case", {"http://a/X", "http://a/x"}, {"http://a/X", "http://a/x"}},
        {"every port its own",
         {"http://a/1", "http://b/2", "http://c/3"},
         {"http://a/1", "http://b/2", "http://c/3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPageLoader fresh;
        QList<TPuerto> ports;
        for (std::size_t k = 0; k < c.urls.size(); ++k)
            ports.append(port(static_cast<int>(k + 1), QLatin1String(c.urls[k])));
        QList<PollingCycle::Port> list;
        for (qsizetype k = 0; k < ports.size(); ++k)
            list.append({static_cast<int>(k + 1), ports[k], {}});
        PollingCycle::Services services{m, ui, fresh, display, check, clock};
        auto run = std::make_shared<PollingCycle>(3, list, services, nullptr);
        run->begin();
        QStringList loads;
        for (const auto& r : fresh.requests())
            loads.append(r.url);
        QStringList expected;
        for (const char* url : c.loads)
            expected.append(QLatin1String(url));
        // Every load is asked for at once, before any page has arrived.
        EXPECT_EQ(loads, expected);
    }
}

TEST_F(PollingCycleTest, ReadingsGoOnInPortOrderWhateverOrderPagesArriveIn)
{
    // Ports numbered with gaps: each reading carries its own Puert, its
    // element and the limits loaded for that element.
    auto c = cycle({port(5, QStringLiteral("http://a/")), port(9, QStringLiteral("http://b/")),
                    port(12, QStringLiteral("http://c/"))},
                   {2, 4, 7});
    c->begin();
    serve("http://c/", "x T=33.3 kg");
    serve("http://b/", "x T=22.2 kg");
    EXPECT_TRUE(check.readings.isEmpty());
    serve("http://a/", "x T=11.1 kg");
    ASSERT_EQ(readPuerts(), (QList<int>{5, 9, 12}));
    EXPECT_EQ(check.readings[0].reading, QStringLiteral("11.1"));
    EXPECT_EQ(check.readings[1].element, 4);
    EXPECT_EQ(check.readings[1].reloj, 3);
    EXPECT_EQ(check.readings[2].limits.LimInf, -7.0);
    EXPECT_EQ(check.readings[2].limits.LimSup, 70.0);
    EXPECT_EQ(finished, 1);
    // The window shows the page last read and the last reading.
    EXPECT_EQ(display.text(Field::txtSource), QStringLiteral("x T=33.3 kg"));
    EXPECT_EQ(display.text(Field::lblDato), QStringLiteral("33.3"));
}

TEST_F(PollingCycleTest, AnEmptyPageIsAskedForAgainByTheNextPortOnIt)
{
    auto c = cycle({port(1, QStringLiteral("http://a/")), port(2, QStringLiteral("http://a/")),
                    port(3, QStringLiteral("http://a/"))});
    c->begin();
    ASSERT_EQ(loader.requests().size(), 1);
    serve("http://a/", "");
    // Port 1 found nothing in the empty page; port 2 loads it again, and
    // port 3 shares port 2's page.
    EXPECT_EQ(display.text(Field::lblStatus), QStringLiteral("T= not found"));
    ASSERT_EQ(loader.pending().size(), 1);
    serve("http://a/", "T=4.56");
    EXPECT_EQ(loader.requests().size(), 2);
    EXPECT_EQ(readPuerts(), (QList<int>{2, 3}));
    EXPECT_EQ(finished, 1);
}

TEST_F(PollingCycleTest, AnAddressThatStaysEmptyIsAskedForOncePerPortAndTheCycleGoesOn)
{
    // Ports 1 to 3 read a station that answers every page empty, port 4
    // another station. Each port on the empty address asks for it once, one
    // after the other (the next port asks again only once the page it shares
    // has come back empty), and then the cycle reads port 4 and ends.
    struct Case {
        const char* name;
        PageOutcome outcome;
        bool otherStationFirst;
        // Reports of the empty address: one per port for a page that cannot
        // be loaded (all in the cycle's one box), none for a page that
        // merely came back empty.
        qsizetype reports;
    };
    const Case cases[] = {
        {"empty body, port 4's page first", PageOutcome::Complete, true, 0},
        {"empty body, port 4's page last", PageOutcome::Complete, false, 0},
        {"timed out", PageOutcome::TimedOut, true, 0},
        {"unreachable", PageOutcome::Unreachable, false, 0},
        {"cannot be loaded", PageOutcome::Failed, true, 3},
    };
    const QString dead = QStringLiteral("http://dead/p.html");
    const QString live = QStringLiteral("http://live/p.html");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPageLoader fresh;
        RecordingCheck seen;
        RecordingInteraccion boxes;
        AcquisitionDisplay shown;
        int ended = 0;
        const QList<PollingCycle::Port> list{{1, port(1, dead), {}},
                                             {2, port(2, dead), {}},
                                             {3, port(3, dead), {}},
                                             {4, port(4, live), {}}};
        auto run = std::make_shared<PollingCycle>(
            3, list, PollingCycle::Services{m, boxes, fresh, shown, seen, clock},
            [&](PollingCycle&) { ++ended; });
        wire(fresh, run);
        run->begin();

        const auto loadsOf = [&](const QString& url) {
            const QList<ScriptedPageLoader::Request> made = fresh.requests();
            return std::count_if(made.cbegin(), made.cend(),
                                 [&](const auto& r) { return r.url == url; });
        };
        const auto serveLive = [&] {
            for (const auto& r : fresh.pending()) {
                if (r.url == live)
                    fresh.complete(r.ticket, page(QStringLiteral("T=4.44")));
            }
        };
        if (c.otherStationFirst) {
            serveLive();
            // Port 4 waits for the ports before it.
            EXPECT_TRUE(seen.readings.isEmpty());
        }
        // The empty address is served as long as it is asked for, up to
        // more loads than ports: a cycle that kept asking would go past.
        for (int round = 0; round < 10; ++round) {
            QList<ScriptedPageLoader::Request> waiting;
            for (const auto& r : fresh.pending()) {
                if (r.url == dead)
                    waiting.append(r);
            }
            if (waiting.isEmpty())
                break;
            // One load of the address at a time, and the cycle awaits it.
            EXPECT_EQ(waiting.size(), 1) << "round " << round;
            EXPECT_EQ(ended, 0) << "the cycle ended before the load of round " << round;
            LoadedPage empty = page(QString(), c.outcome);
            if (c.outcome == PageOutcome::Failed)
                empty.error =
                    Error{1, QStringLiteral("libcurl"), QStringLiteral("Unsupported protocol")};
            for (const auto& r : waiting)
                fresh.complete(r.ticket, empty);
        }
        if (!c.otherStationFirst)
            serveLive();

        EXPECT_EQ(loadsOf(dead), 3);
        EXPECT_EQ(loadsOf(live), 1);
        EXPECT_TRUE(fresh.pending().isEmpty());
        EXPECT_EQ(ended, 1);
        EXPECT_TRUE(run->isFinished());
        ASSERT_EQ(seen.readings.size(), 1);
        EXPECT_EQ(seen.readings[0].Puert, 4);
        EXPECT_EQ(seen.readings[0].reading, QStringLiteral("4.44"));
        ASSERT_EQ(boxes.boxes.size(), c.reports > 0 ? 1 : 0);
        if (c.reports > 0) {
            EXPECT_EQ(boxes.boxes[0].type, BoxType::Notice);
            EXPECT_EQ(boxes.boxes[0].text.count(QStringLiteral("1.- Unsupported protocol")),
                      c.reports);
        }
        // A page that came back empty is a page without the identifier.
        EXPECT_EQ(shown.text(Field::lblStatus),
                  c.reports == 0 ? QStringLiteral("T= not found") : QString());
    }
}

TEST_F(PollingCycleTest, NotFoundAndBlankReadingsAreNotHandedOn)
{
    display.setText(Field::lblDato, QStringLiteral("earlier"));
    auto c = cycle({port(1, QStringLiteral("http://a/"), QStringLiteral("Q=")),
                    port(2, QStringLiteral("http://b/")), port(3, QStringLiteral("http://c/"))});
    c->begin();
    serve("http://a/", "T=1.00");
    serve("http://b/", "T=    ");
    serve("http://c/", "T=");
    EXPECT_TRUE(check.readings.isEmpty());
    EXPECT_EQ(display.text(Field::lblStatus), QStringLiteral("Q= not found"));
    EXPECT_EQ(display.text(Field::lblDato), QStringLiteral("earlier"));
    EXPECT_TRUE(ui.boxes.isEmpty());
    EXPECT_EQ(finished, 1);
}

TEST_F(PollingCycleTest, MarkersNameFormatMachineAndProduct)
{
    TPuerto p = port(1, QStringLiteral("http://a/"), QStringLiteral("T="), 1, 5);
    p.Maqui = QStringLiteral("M=");
    p.Forma = QStringLiteral("F=");
    p.Produ = QStringLiteral("P=");
    auto c = cycle({p});
    c->begin();
    serve("http://a/", "T=12.50 M=MAQ02 P=XY");
    ASSERT_EQ(check.readings.size(), 1);
    EXPECT_EQ(check.readings[0].markers.machine, QStringLiteral("MAQ02"));
    EXPECT_EQ(check.readings[0].markers.product, QStringLiteral("XY"));
    EXPECT_EQ(check.readings[0].markers.format, QString());
    EXPECT_EQ(display.text(Field::lblMaquina), QStringLiteral("MAQ02"));
    EXPECT_EQ(display.text(Field::lblProducto), QStringLiteral("XY"));
}

TEST_F(PollingCycleTest, AnErrorIsReportedWithThePortAndTheCycleGoesOn)
{
    // A start before the page's first character cannot be cut.
    TPuerto bad =
        port(7, QStringLiteral("http://user:secreto@a/p.html"), QStringLiteral("T="), -5, 4);
    auto c = cycle({bad, port(8, QStringLiteral("http://b/"))});
    c->begin();
    serve("http://user:secreto@a/p.html", "T=1.00");
    serve("http://b/", "T=2.00");
    // One box, shown at the cycle's end without holding it.
    ASSERT_EQ(ui.boxes.size(), 1);
    const RecordingInteraccion::Box& box = ui.boxes[0];
    EXPECT_EQ(box.type, BoxType::Notice);
    EXPECT_EQ(box.icono, telvar::BoxKind::Exclamation);
    EXPECT_EQ(box.duracion, 5);
    EXPECT_EQ(box.text, QStringLiteral("Telvar. bReloj_Click(3) Puerto 7\r\n"
                                       "Web Page: http://user:***@a/p.html\r\n"
                                       "Identifier:  T=\r\n"
                                       "Start at: -5\r\n"
                                       "Length: 4\r\n"
                                       "\r\n"
                                       "5.- Invalid procedure call or argument"));
    EXPECT_FALSE(box.text.contains(QStringLiteral("secreto")));
    EXPECT_EQ(readPuerts(), (QList<int>{8}));
    EXPECT_EQ(finished, 1);
}

TEST_F(PollingCycleTest, PageProblemsAndCheckErrorsAreReported)
{
    auto c = cycle({port(1, QStringLiteral("file:///etc/passwd")),
                    port(2, QStringLiteral("http://big/")), port(3, QStringLiteral("http://c/")),
                    port(4, QStringLiteral("http://d/"))});
    check.failFor = 3;
    c->begin();
    const auto tickets = loader.pending();
    LoadedPage refused = page(QString(), PageOutcome::Failed);
    refused.error = Error{1, QStringLiteral("libcurl"), QStringLiteral("Unsupported protocol")};
    LoadedPage cut = page(QStringLiteral("T=9.99 ..."), PageOutcome::Truncated);
    cut.error = Error{7, QStringLiteral("Telvar"), QStringLiteral("Page cut")};
    loader.complete(tickets[0].ticket, refused);
    loader.complete(tickets[1].ticket, cut);
    serve("http://c/", "T=3.33");
    loader.complete(tickets[3].ticket, page(QString(), PageOutcome::TimedOut));

    // The refused address and the cut page each give a report; the cut page
    // is still read. The check's error is reported too. The page that timed
    // out is an empty page: no report, only "not found". The three reports
    // share the cycle's one box, in port order, a blank line apart.
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes[0].type, BoxType::Notice);
    EXPECT_EQ(ui.boxes[0].icono, telvar::BoxKind::Exclamation);
    EXPECT_EQ(ui.boxes[0].duracion, 5);
    const QString puerto = QStringLiteral("Puerto");
    EXPECT_EQ(
        ui.boxes[0].text,
        cycleReport(3, puerto, 1, port(1, QStringLiteral("file:///etc/passwd")), *refused.error) +
            QStringLiteral("\r\n\r\n") +
            cycleReport(3, puerto, 2, port(2, QStringLiteral("http://big/")), *cut.error) +
            QStringLiteral("\r\n\r\n") +
            cycleReport(3, puerto, 3, port(3, QStringLiteral("http://c/")),
                        Error{3265, QStringLiteral("DAO"), QStringLiteral("Item not found")}));
    EXPECT_EQ(readPuerts(), (QList<int>{2, 3}));
    EXPECT_EQ(display.text(Field::lblStatus), QStringLiteral("T= not found"));
    EXPECT_EQ(finished, 1);
}

TEST_F(PollingCycleTest, APageCutAtTheBoundIsReportedOnceAndItsReadingsKeepTheirArrival)
{
    // Three ports share one page, larger than the page box shows.
    auto c = cycle({port(1, QStringLiteral("http://big/")), port(2, QStringLiteral("http://big/")),
                    port(3, QStringLiteral("http://big/"))});
    c->begin();
    const QDateTime arrival = clock.now();
    LoadedPage cut =
        page(QStringLiteral("T=1.25") + QString(200000, QLatin1Char('x')), PageOutcome::Truncated);
    cut.error = Error{7, QStringLiteral("Telvar"), QStringLiteral("Page cut")};
    loader.complete(loader.pending()[0].ticket, cut);
    clock.advance(std::chrono::minutes(5));

    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(readPuerts(), (QList<int>{1, 2, 3}));
    for (const PortReading& r : check.readings)
        EXPECT_EQ(r.arrivedAt, arrival);
    // The page box shows a bounded excerpt, saying what it left out.
    const QString shown = display.text(Field::txtSource);
    EXPECT_LT(shown.size(), 70 * 1024);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("more characters of the page are not shown]")));
}

TEST(PageExcerpt, BoundsTheTextAndItsLines)
{
    EXPECT_EQ(telvar::pageExcerpt(QStringLiteral("abc\ndef")), QStringLiteral("abc\ndef"));
    EXPECT_EQ(telvar::pageExcerpt(QStringLiteral("abcdefg"), 100, 3),
              QStringLiteral("abc\ndef\ng"));
    EXPECT_EQ(telvar::pageExcerpt(QStringLiteral("abcdefg"), 4, 100),
              QStringLiteral("abcd\n[... 3 more characters of the page are not shown]"));
}

TEST_F(PollingCycleTest, PagesArrivingWhileTheCheckHoldsAPortWaitForIt)
{
    // Port 1's report does not hold the cycle; the check of port 2 does (a
    // box of its own runs the event loop, and the other pages arrive then).
    auto c = cycle({port(1, QStringLiteral("http://a/"), QStringLiteral("T="), -5, 4),
                    port(2, QStringLiteral("http://b/")), port(3, QStringLiteral("http://c/")),
                    port(4, QStringLiteral("http://d/"))});
    QList<int> handedOnDuringCheck;
    check.onReading = [&](const PortReading& reading) {
        if (reading.Puert != 2)
            return;
        serve("http://d/", "T=4.00");
        serve("http://c/", "T=3.00");
        handedOnDuringCheck = readPuerts();
    };
    c->begin();
    serve("http://a/", "T=1.00");
    serve("http://b/", "T=2.00");
    EXPECT_EQ(handedOnDuringCheck, (QList<int>{2}));
    EXPECT_EQ(readPuerts(), (QList<int>{2, 3, 4}));
    EXPECT_EQ(finished, 1);
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("Telvar. bReloj_Click(3) Puerto 1")));
}

TEST_F(PollingCycleTest, ACancelledCycleEndsQuietly)
{
    // Port 1 cannot be cut: its report, gathered before the cancel, is
    // never shown.
    struct Case {
        const char* name;
        bool duringCheck;
        QList<int> handedOn;
    };
    for (const Case& k :
         {Case{"between pages", false, {}}, Case{"while the check holds a port", true, {2}}}) {
        SCOPED_TRACE(k.name);
        ScriptedPageLoader fresh;
        RecordingCheck seen;
        RecordingInteraccion boxes;
        int ended = 0;
        QList<PollingCycle::Port> list{
            {1, port(1, QStringLiteral("http://a/"), QStringLiteral("T="), -5, 4), {}},
            {2, port(2, QStringLiteral("http://b/")), {}},
            {3, port(3, QStringLiteral("http://c/")), {}},
        };
        auto run = std::make_shared<PollingCycle>(
            3, list, PollingCycle::Services{m, boxes, fresh, display, seen, clock},
            [&](PollingCycle&) { ++ended; });
        wire(fresh, run);
        seen.onReading = [&](const PortReading&) {
            if (k.duringCheck)
                run->cancel();
        };
        run->begin();
        const auto pending = fresh.pending();
        fresh.complete(pending[1].ticket, page(QStringLiteral("T=2.00")));
        if (!k.duringCheck)
            run->cancel();
        fresh.complete(pending[0].ticket, page(QStringLiteral("T=1.00")));
        fresh.complete(pending[2].ticket, page(QStringLiteral("T=3.00")));
        QList<int> handedOn;
        for (const PortReading& r : seen.readings)
            handedOn.append(r.Puert);
        EXPECT_EQ(handedOn, k.handedOn);
        EXPECT_TRUE(boxes.boxes.isEmpty());
        EXPECT_EQ(ended, 0);
        EXPECT_TRUE(run->isCancelled());
        // The loads still awaited were given up.
        EXPECT_FALSE(fresh.cancelled().isEmpty());
        EXPECT_TRUE(fresh.pending().isEmpty());
    }
}

// What a station gives one try of a page.
enum class Answer {
    Reading,       // a page with every port's reading
    Empty,         // a page without a byte
    TimedOut,      // no answer within the page's limit
    Refused,       // the connection refused
    ServerError,   // HTTP 500 with its error page
    HostDown,      // the connection attempt timed out
    GivenUp,       // ended by the loader with its host, without a try of its own
    GivenUpSilent, // ended by the loader with a host it found silent, untried
};

LoadedPage answer(Answer kind)
{
    switch (kind) {
    case Answer::Reading:
        return page(QStringLiteral("P1=1.00 P2=2.00 P3=3.00 P4=4.00"));
    case Answer::Empty:
        return page(QString());
    case Answer::TimedOut:
        return page(QString(), PageOutcome::TimedOut);
    case Answer::Refused: {
        LoadedPage p = page(QString(), PageOutcome::Unreachable);
        p.noAnswer = NoAnswer::Refused;
        return p;
    }
    case Answer::ServerError: {
        LoadedPage p = page(QStringLiteral("<h1>500 Internal Server Error</h1>"));
        p.httpStatus = 500;
        return p;
    }
    case Answer::HostDown: {
        LoadedPage p = page(QString(), PageOutcome::TimedOut);
        p.noAnswer = NoAnswer::HostDown;
        return p;
    }
    case Answer::GivenUp: {
        LoadedPage p = page(QString(), PageOutcome::Unreachable);
        p.noAnswer = NoAnswer::HostGivenUp;
        return p;
    }
    case Answer::GivenUpSilent: {
        LoadedPage p = page(QString(), PageOutcome::TimedOut);
        p.noAnswer = NoAnswer::HostSilent;
        return p;
    }
    }
    return {};
}

// At atMs on the cycle's clock: the oldest pending load of url gets its
// answer, or (without url) the cycle is cancelled.
struct Step {
    int atMs;
    const char* url;
    Answer answer;
};

Step cancelAt(int atMs)
{
    return {atMs, nullptr, Answer::Reading};
}

TEST_F(PollingCycleTest, AFailedPageIsAskedForAgainWithBackoffWithinTheCycle)
{
    // Port k reads urls[k - 1] with the identifier "Pk=". The cycle's clock
    // moves in steps of 50 ms, and every step makes the retries due; each
    // load and each thing the cycle shows or hands on is stamped with the
    // time it happened.
    struct Case {
        const char* name;
        std::vector<const char*> urls;
        // The Clock's time by which the cycle is to end; negative: none.
        int deadlineMs;
        std::vector<Step> steps;
        // "<ms> <url>" for each load asked for, in order.
        std::vector<const char*> loads;
        // "<ms> read <port>" for a reading handed on, "<ms> <status>" for
        // the status line.
        std::vector<const char*> events;
        int retries;
        bool finished;
    };
    const QList<Case> cases{
        {"a time-out mended by the second try holds back the port after it",
         {"http://a/", "http://b/"},
         60000,
         {{0, "http://a/", Answer::TimedOut},
          {0, "http://b/", Answer::Reading},
          {500, "http://a/", Answer::Reading}},
         {"0 http://a/", "0 http://b/", "500 http://a/"},
         {"500 read 1", "500 read 2"},
         1,
         true},
        {"refused twice, mended by the third try, each retry timed from the failure",
         {"http://a/"},
         60000,
         {{100, "http://a/", Answer::Refused},
          {700, "http://a/", Answer::Refused},
          {2800, "http://a/", Answer::Reading}},
         {"0 http://a/", "600 http://a/", "2700 http://a/"},
         {"2800 read 1"},
         2,
         true},
        {"an HTTP error status three times is handled once, after the third try",
         {"http://a/", "http://b/"},
         60000,
         {{0, "http://a/", Answer::ServerError},
          {0, "http://b/", Answer::Reading},
          {500, "http://a/", Answer::ServerError},
          {2500, "http://a/", Answer::ServerError}},
         {"0 http://a/", "0 http://b/", "500 http://a/", "2500 http://a/"},
         {"2500 P1= not found", "2500 read 2"},
         2,
         true},
        {"a host found down is not asked again, neither for a retry waiting nor for the next "
         "port on its page",
         {"http://dead/1", "http://dead/1", "http://dead/2", "http://live/"},
         60000,
         {{0, "http://dead/2", Answer::TimedOut},
          {0, "http://live/", Answer::Reading},
          {100, "http://dead/1", Answer::HostDown},
          {200, "http://dead/1", Answer::TimedOut}},
         {"0 http://dead/1", "0 http://dead/2", "0 http://live/", "100 http://dead/1"},
         {"100 P1= not found", "200 P2= not found", "200 P3= not found", "200 read 4"},
         0,
         true},
        {"a page the loader gave up with its host is not retried, the refused one is",
         {"http://h/1", "http://h/2"},
         60000,
         {{0, "http://h/1", Answer::Refused},
          {0, "http://h/2", Answer::GivenUp},
          {500, "http://h/1", Answer::Reading}},
         {"0 http://h/1", "0 http://h/2", "500 http://h/1"},
         {"500 read 1", "500 P2= not found"},
         1,
         true},
        {"pages given up with a host found silent are retried, ahead of the page that timed "
         "out on its own try",
         {"http://h/1", "http://h/2", "http://h/3"},
         60000,
         {{0, "http://h/1", Answer::TimedOut},
          {0, "http://h/2", Answer::GivenUpSilent},
          {0, "http://h/3", Answer::GivenUpSilent},
          {500, "http://h/2", Answer::Reading},
          {500, "http://h/3", Answer::Reading},
          {500, "http://h/1", Answer::Reading}},
         {"0 http://h/1", "0 http://h/2", "0 http://h/3", "500 http://h/2", "500 http://h/3",
          "500 http://h/1"},
         {"500 read 1", "500 read 2", "500 read 3"},
         3,
         true},
        {"a page given up with a host found silent is retried only while the try can end by "
         "the deadline",
         {"http://h/1", "http://h/2"},
         9000,
         {{0, "http://h/1", Answer::TimedOut},
          {0, "http://h/2", Answer::GivenUpSilent},
          {500, "http://h/2", Answer::GivenUpSilent},
          {500, "http://h/1", Answer::TimedOut}},
         {"0 http://h/1", "0 http://h/2", "500 http://h/2", "500 http://h/1"},
         {"500 P1= not found", "500 P2= not found"},
         2,
         true},
        {"a host that answered a page of the cycle keeps its other pages' retries when one "
         "page's last try is unanswered",
         {"http://h/1", "http://h/2", "http://h/3"},
         60000,
         {{0, "http://h/2", Answer::Reading},
          {0, "http://h/1", Answer::TimedOut},
          {500, "http://h/1", Answer::TimedOut},
          {1000, "http://h/3", Answer::ServerError},
          {1500, "http://h/3", Answer::ServerError},
          {2500, "http://h/1", Answer::TimedOut},
          {3500, "http://h/3", Answer::Reading}},
         {"0 http://h/1", "0 http://h/2", "0 http://h/3", "500 http://h/1", "1500 http://h/3",
          "2500 http://h/1", "3500 http://h/3"},
         {"2500 P1= not found", "2500 read 2", "3500 read 3"},
         4,
         true},
        {"once a page's last try is unanswered, its host's other pages are not retried",
         {"http://h/1", "http://h/2"},
         60000,
         {{0, "http://h/1", Answer::Refused},
          {500, "http://h/1", Answer::Refused},
          {2500, "http://h/1", Answer::Refused},
          {3000, "http://h/2", Answer::TimedOut}},
         {"0 http://h/1", "0 http://h/2", "500 http://h/1", "2500 http://h/1"},
         {"2500 P1= not found", "3000 P2= not found"},
         2,
         true},
        {"a try that could end past the deadline is not made and the page is handled at once",
         {"http://a/"},
         9000,
         {{0, "http://a/", Answer::TimedOut}, {500, "http://a/", Answer::TimedOut}},
         {"0 http://a/", "500 http://a/"},
         {"500 P1= not found"},
         1,
         true},
        {"a cycle without a deadline asks for each page once",
         {"http://a/"},
         -1,
         {{0, "http://a/", Answer::TimedOut}},
         {"0 http://a/"},
         {"0 P1= not found"},
         0,
         true},
        {"an empty page is asked for by the next port on it, never retried",
         {"http://a/", "http://a/"},
         60000,
         {{0, "http://a/", Answer::Empty}, {0, "http://a/", Answer::Reading}},
         {"0 http://a/", "0 http://a/"},
         {"0 P1= not found", "0 read 2"},
         0,
         true},
        {"cancelled while a retry waits, nothing more is asked or handled",
         {"http://a/", "http://b/"},
         60000,
         {{0, "http://a/", Answer::TimedOut}, {0, "http://b/", Answer::Reading}, cancelAt(100)},
         {"0 http://a/", "0 http://b/"},
         {},
         0,
         false},
    };
    using std::chrono::milliseconds;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPageLoader fresh;
        RecordingCheck seen;
        RecordingInteraccion boxes;
        AcquisitionDisplay shown;
        telvar::test::ManualClock cycleClock;
        int ended = 0;
        QStringList loads;
        QStringList events;
        const auto stamp = [&] { return QString::number(cycleClock.elapsed().count()) + u' '; };
        seen.onReading = [&](const PortReading& r) {
            events.append(stamp() + QStringLiteral("read %1").arg(r.Puert));
        };
        QObject::connect(&shown, &AcquisitionDisplay::textChanged, &shown,
                         [&](Field field, const QString& text) {
                             if (field == Field::lblStatus)
                                 events.append(stamp() + text);
                         });

        QList<PollingCycle::Port> list;
        for (std::size_t k = 0; k < c.urls.size(); ++k) {
            const int puert = static_cast<int>(k + 1);
            list.append({puert,
                         port(puert, QLatin1String(c.urls[k]), QStringLiteral("P%1=").arg(puert)),
                         {}});
        }
        PollingCycle::Services services{m, boxes, fresh, shown, seen, cycleClock};
        if (c.deadlineMs >= 0)
            services.deadline = milliseconds(c.deadlineMs);
        auto run =
            std::make_shared<PollingCycle>(3, list, services, [&](PollingCycle&) { ++ended; });
        wire(fresh, run);
        const auto noteLoads = [&] {
            const QList<ScriptedPageLoader::Request> made = fresh.requests();
            for (qsizetype k = loads.size(); k < made.size(); ++k)
                loads.append(stamp() + made[k].url);
        };
        const auto moveTo = [&](milliseconds until) {
            while (cycleClock.elapsed() < until) {
                cycleClock.advance(std::min(milliseconds(50), until - cycleClock.elapsed()));
                run->processDueRetries();
                noteLoads();
            }
        };
        run->begin();
        noteLoads();
        for (const Step& step : c.steps) {
            moveTo(milliseconds(step.atMs));
            if (!step.url) {
                run->cancel();
                continue;
            }
            const QString url = QLatin1String(step.url);
            const QList<ScriptedPageLoader::Request> pending = fresh.pending();
            const auto found = std::find_if(pending.cbegin(), pending.cend(),
                                            [&](const auto& r) { return r.url == url; });
            if (found == pending.cend()) {
                ADD_FAILURE() << "no pending load of " << step.url << " at " << step.atMs;
                continue;
            }
            fresh.complete(found->ticket, answer(step.answer));
            noteLoads();
        }
        // Long after the last step nothing more happens.
        moveTo(cycleClock.elapsed() + milliseconds(15000));

        QStringList expectedLoads;
        for (const char* load : c.loads)
            expectedLoads.append(QLatin1String(load));
        QStringList expectedEvents;
        for (const char* event : c.events)
            expectedEvents.append(QLatin1String(event));
        // Compared as lines, so that a failure shows them.
        const auto lines = [](const QStringList& items) { return items.join(u'\n').toStdString(); };
        EXPECT_EQ(lines(loads), lines(expectedLoads));
        EXPECT_EQ(lines(events), lines(expectedEvents));
        EXPECT_EQ(run->retries(), c.retries);
        EXPECT_EQ(ended, c.finished ? 1 : 0);
        EXPECT_EQ(run->isFinished(), c.finished);
        EXPECT_TRUE(fresh.pending().isEmpty());
        // Failures of pages give no report box, whatever their tries.
        EXPECT_TRUE(boxes.boxes.isEmpty());
    }
}

TEST_F(PollingCycleTest, ACycleWithoutPortsEndsAtOnce)
{
    auto c = cycle({});
    c->begin();
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(loader.requests().isEmpty());
}

} // namespace

// How a polling cycle tells the end of each port: its reading, or why there
// was none.
#include "acquisition/AcquisitionDisplay.h"
#include "acquisition/PollingCycle.h"
#include "acquisition/ReadingCheck.h"
#include "common/Modulo1.h"
#include "support/ManualClock.h"
#include "support/RecordingInteraccion.h"
#include "support/ScriptedPageLoader.h"

#include <gtest/gtest.h>
#include <memory>
#include <ostream>

namespace telvar {
namespace {

// Takes every reading; refuses those of port 9 as the recording's lookup
// would.
class RefusingCheck final : public ReadingCheck {
public:
    Status LabelLee(const PortReading& reading) override
    {
        if (reading.Puert == 9)
            return Error{3265, QStringLiteral("DAO"), QStringLiteral("Item not found")};
        return {};
    }
};

struct OutcomeCase {
    const char* name;
    int puert;
    qint16 inici;
    PageOutcome page;
    const char* text;
    PortOutcome::Result result;
    const char* reading;
    const char* detail;
};

void PrintTo(const OutcomeCase& c, std::ostream* os)
{
    *os << c.name;
}

using Result = PortOutcome::Result;

const OutcomeCase kCases[] = {
    {"Read", 4, 1, PageOutcome::Complete, "T=1.25 x", Result::Read, "1.25", ""},
    {"IdentifierNotFound", 4, 1, PageOutcome::Complete, "nothing", Result::NotFound, "",
     "T= not found"},
    {"EmptyPageOfASilentStation", 4, 1, PageOutcome::Unreachable, "", Result::NotFound, "",
     "T= not found"},
    {"BlankCut", 4, 1, PageOutcome::Complete, "T=    x", Result::Blank, "", ""},
    {"PageThatCannotBeLoaded", 4, 1, PageOutcome::Failed, "", Result::PageFailed, "",
     "malformed address"},
    {"CutThatCannotBeMade", 4, -10, PageOutcome::Complete, "T=1.25", Result::CutFailed, "",
     nullptr},
    {"ReadingTheCheckRefuses", 9, 1, PageOutcome::Complete, "T=7.50", Result::CheckFailed, "7.50",
     "Item not found"},
};

class PortOutcomes : public ::testing::TestWithParam<OutcomeCase> {
protected:
    PortOutcomes()
    {
        m.Idioma = 1;
        m.messageTable = MessageTable(80, 40, 2);
    }

    Modulo1 m;
    test::RecordingInteraccion ui;
    test::ScriptedPageLoader loader;
    AcquisitionDisplay display;
    RefusingCheck check;
    test::ManualClock clock;
};

TEST_P(PortOutcomes, EachPortsEndIsTold)
{
    const OutcomeCase& c = GetParam();
    TPuerto port;
    port.WebPg = QStringLiteral("http://st/1");
    port.Ident = QStringLiteral("T=");
    port.Inici = c.inici;
    port.Longi = 4;
    port.Reloj = QStringLiteral("3");
    port.Puert = c.puert;
    QList<PortOutcome> told;
    PollingCycle::Services services{m, ui, loader, display, check, clock};
    services.portHandled = [&](const PortOutcome& o) { told.append(o); };
    auto cycle = std::make_shared<PollingCycle>(3, QList<PollingCycle::Port>{{6, port, {}}},
                                                services, [](PollingCycle&) {});
    QObject::connect(&loader, &PageLoader::pageLoaded, &loader,
                     [cycle](PageLoader::Ticket ticket, const LoadedPage& page) {
                         cycle->pageLoaded(ticket, page);
                     });
    cycle->begin();
    clock.advance(std::chrono::seconds(3));
    LoadedPage page;
    page.outcome = c.page;
    page.text = QString::fromUtf8(c.text);
    if (c.page == PageOutcome::Failed)
        page.error = Error{5, QStringLiteral("Telvar"), QStringLiteral("malformed address")};
    ASSERT_EQ(loader.pending().size(), 1);
    loader.complete(loader.pending().first().ticket, page);

    ASSERT_TRUE(cycle->isFinished());
    ASSERT_EQ(told.size(), 1);
    const PortOutcome& o = told.first();
    EXPECT_EQ(o.reloj, 3);
    EXPECT_EQ(o.element, 6);
    EXPECT_EQ(o.Puert, c.puert);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.succeeded(), c.result == Result::Read);
    EXPECT_EQ(o.reading, QString::fromUtf8(c.reading));
    if (c.detail)
        EXPECT_EQ(o.detail, QString::fromUtf8(c.detail));
    else
        EXPECT_FALSE(o.detail.isEmpty());
    EXPECT_EQ(o.page, c.page);
    EXPECT_EQ(o.at, clock.now());
}

INSTANTIATE_TEST_SUITE_P(Table, PortOutcomes, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OutcomeCase>& testCase) {
                             return std::string(testCase.param.name);
                         });

TEST_F(PortOutcomes, PortsACancelLeavesAreNotTold)
{
    QList<PollingCycle::Port> ports;
    for (int puert : {1, 2}) {
        TPuerto p;
        p.WebPg = QStringLiteral("http://st/") + QString::number(puert);
        p.Ident = QStringLiteral("T=");
        p.Inici = 1;
        p.Longi = 4;
        p.Puert = puert;
        ports.append({puert, p, {}});
    }
    QList<int> told;
    PollingCycle::Services services{m, ui, loader, display, check, clock};
    services.portHandled = [&](const PortOutcome& o) { told.append(o.Puert); };
    auto cycle = std::make_shared<PollingCycle>(3, ports, services, [](PollingCycle&) {});
    QObject::connect(&loader, &PageLoader::pageLoaded, &loader,
                     [cycle](PageLoader::Ticket ticket, const LoadedPage& page) {
                         cycle->pageLoaded(ticket, page);
                     });
    cycle->begin();
    const auto pending = loader.pending();
    ASSERT_EQ(pending.size(), 2);
    LoadedPage page;
    page.outcome = PageOutcome::Complete;
    page.text = QStringLiteral("T=1.00");
    loader.complete(pending[0].ticket, page);
    cycle->cancel();
    EXPECT_EQ(told, QList<int>{1});
}

} // namespace
} // namespace telvar

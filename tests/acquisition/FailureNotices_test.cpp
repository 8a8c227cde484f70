#include "acquisition/FailureNotices.h"
#include "common/OwnTexts.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <optional>
#include <vector>

using telvar::Error;
using telvar::FailureNotices;
using telvar::PortReports;

namespace {

// A port's failure in a case: its number and the errors it met (none: it
// was well).
struct Port {
    int port;
    std::vector<long long> numbers;
    // The description of each error; "refused" unless given.
    std::vector<const char*> descriptions = {};
};

PortReports reportsOf(const Port& p)
{
    PortReports reports{p.port, {}, {}};
    for (std::size_t i = 0; i < p.numbers.size(); ++i) {
        const QString description =
            QString::fromLatin1(i < p.descriptions.size() ? p.descriptions[i] : "refused");
        reports.errors.append(Error{p.numbers[i], QStringLiteral("test"), description});
        // The report's text names the port and the error, as the cycle's do.
        reports.texts.append(
            QStringLiteral("port %1\r\n%2.- %3").arg(p.port).arg(p.numbers[i]).arg(description));
    }
    return reports;
}

// One cycle of a case: the ports it handled and the ports its box lists
// (none: no box).
struct Cycle {
    std::vector<Port> ports;
    std::vector<int> boxed;
};

struct Case {
    const char* name;
    std::vector<Cycle> cycles;
};

// The ports a box lists, by the first line of each report (a port's
// reports follow each other).
std::vector<int> portsListed(const QString& box)
{
    std::vector<int> ports;
    for (const QString& line : box.split(QStringLiteral("\r\n"))) {
        if (!line.startsWith(QStringLiteral("port ")))
            continue;
        const int port = line.mid(5).toInt();
        if (ports.empty() || ports.back() != port)
            ports.push_back(port);
    }
    return ports;
}

TEST(FailureNotices, BoxesAPortWhenItStartsFailingOrFailsOtherwise)
{
    const std::vector<int> none;
    const Case cases[] = {
        {"the same failure five cycles: one box",
         {{{{1, {1}}}, {1}},
          {{{1, {1}}}, none},
          {{{1, {1}}}, none},
          {{{1, {1}}}, none},
          {{{1, {1}}}, none}}},
        {"another error number: a new box",
         {{{{1, {1}}}, {1}}, {{{1, {1}}}, none}, {{{1, {6}}}, {1}}, {{{1, {6}}}, none}}},
        {"the same number with another description: a new box",
         {{{{1, {7}, {"page cut at 1 MiB"}}}, {1}},
          {{{1, {7}, {"page cut at 2 MiB"}}}, {1}},
          {{{1, {7}, {"page cut at 2 MiB"}}}, none}}},
        {"a second error beside the first: a new box, and again when it goes",
         {{{{1, {1}}}, {1}}, {{{1, {1, 5}}}, {1}}, {{{1, {1, 5}}}, none}, {{{1, {1}}}, {1}}}},
        {"well, then failing again: a new box",
         {{{{1, {1}}}, {1}}, {{{1, {}}}, none}, {{{1, {1}}}, {1}}, {{{1, {1}}}, none}}},
        {"eight ports failing in one cycle: one box naming all eight",
         {{{{1, {1}}, {2, {1}}, {3, {1}}, {4, {1}}, {5, {1}}, {6, {1}}, {7, {1}}, {8, {1}}},
           {1, 2, 3, 4, 5, 6, 7, 8}},
          {{{1, {1}}, {2, {1}}, {3, {1}}, {4, {1}}, {5, {1}}, {6, {1}}, {7, {1}}, {8, {1}}},
           none}}},
        {"a box lists only the ports that changed, in their order",
         {{{{1, {1}}, {2, {}}, {3, {1}}}, {1, 3}},
          {{{1, {1}}, {2, {6}}, {3, {5}}}, {2, 3}},
          {{{1, {}}, {2, {6}}, {3, {5}}}, none}}},
        {"a cycle of another clock leaves the ports it did not handle as they were",
         {{{{1, {1}}}, {1}}, {{{2, {}}}, none}, {{{1, {1}}}, none}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FailureNotices notices;
        for (std::size_t k = 0; k < c.cycles.size(); ++k) {
            SCOPED_TRACE("cycle " + std::to_string(k + 1));
            QList<PortReports> ports;
            for (const Port& p : c.cycles[k].ports)
                ports.append(reportsOf(p));
            const std::optional<QString> box = notices.cycleEnded(ports, 2);
            ASSERT_EQ(box.has_value(), !c.cycles[k].boxed.empty());
            if (box) {
                EXPECT_EQ(portsListed(*box), c.cycles[k].boxed);
            }
            for (const Port& p : c.cycles[k].ports)
                EXPECT_EQ(notices.isFailing(p.port), !p.numbers.empty()) << "port " << p.port;
        }
    }
}

TEST(FailureNotices, ABoxHoldsEachPortsReportsAndCountsThePortsBeyondItsList)
{
    FailureNotices notices;
    // A port with two reports: both, a blank line apart, as its entry.
    const std::optional<QString> two = notices.cycleEnded({reportsOf({4, {1, 5}})}, 1);
    ASSERT_TRUE(two.has_value());
    EXPECT_EQ(*two, QStringLiteral("port 4\r\n1.- refused\r\n\r\nport 4\r\n5.- refused"));

    // More failing ports than a box lists: the first ListedPorts, and a count
    // of the others in the language asked for.
    const int count = FailureNotices::ListedPorts + 7;
    for (const int idioma : {1, 2}) {
        SCOPED_TRACE(idioma);
        notices.clear();
        QList<PortReports> ports;
        std::vector<int> first;
        for (int p = 1; p <= count; ++p) {
            ports.append(reportsOf({p, {1}}));
            if (p <= FailureNotices::ListedPorts)
                first.push_back(p);
        }
        const std::optional<QString> box = notices.cycleEnded(ports, idioma);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(portsListed(*box), first);
        EXPECT_TRUE(
            box->endsWith(QStringLiteral("\r\n\r\n") +
                          telvar::ownText(telvar::OwnText::CycleFailuresMore, idioma).arg(7)))
            << box->right(120).toStdString();
        // The ports left out of the list had their box too: the next cycle
        // failing the same way shows none.
        EXPECT_FALSE(notices.cycleEnded(ports, idioma).has_value());
    }
    EXPECT_NE(telvar::ownText(telvar::OwnText::CycleFailuresMore, 1),
              telvar::ownText(telvar::OwnText::CycleFailuresMore, 2));

    // Cleared (a new start): the same failure is boxed again.
    notices.clear();
    EXPECT_TRUE(notices.cycleEnded({reportsOf({4, {1, 5}})}, 1).has_value());
    EXPECT_FALSE(notices.cycleEnded({reportsOf({4, {1, 5}})}, 1).has_value());
}

} // namespace

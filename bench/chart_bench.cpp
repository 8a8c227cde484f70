// The readings tab's cost per reading at 1000 ports per cycle: the readings
// grid's model, each port's history and the chart of the selected port, in a
// shown window (offscreen platform), readings delivered the way the cycle
// delivers them (in one turn of the event loop per page that arrives, with
// many pages arriving together). Prints, for each delivery (pages per turn),
// the cost per reading and the longest busy stretch of the window thread,
// with the selected port getting one reading per cycle. The chart's port
// starts with the history's full depth for a followed port (10,000
// readings, one a minute before the run), so the chart follows a port of
// 10,000 kept readings; then the same deliveries with the chart held on all
// of them (zoomed out, the new readings inside the view), and a row of its
// own with the longest stretch while following such a port (target: 50 ms).
// Readings carry local times, as the acquisition's clock gives them.
//
// Options: --cycles N (default 20), --ports N (default 1000).

#include "BenchFigures.h"
#include "app/widgets/ReadingChart.h"
#include "common/Modulo1.h"
#include "recording/ReadingHistory.h"
#include "recording/ReadingsModel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSplitter>
#include <QTableView>
#include <QTextStream>
#include <QTimer>

using namespace telvar;

namespace {

ReadingRow readingFor(int port, int cycle)
{
    ReadingRow row;
    row.tag = QStringLiteral("%1/%2").arg(1 + port % 10, 2).arg(port + 1, 3, 10, QLatin1Char('0'));
    row.dateTime = QStringLiteral("2026/03/02 06:00:00");
    row.Carac = QStringLiteral("DIAM");
    // A drifting station with, now and then, a reading cut one digit too far.
    row.value = 15 + 0.01 * cycle + ((cycle + port) % 37 == 0 ? 135 : 0);
    row.reading = QString::number(row.value);
    row.LimInf = 10;
    row.LimSup = 20;
    row.Marca = row.value > row.LimSup ? QStringLiteral("?") : QString();
    row.arrivedAt = QDateTime(QDate(2026, 3, 2), QTime(6, 0)).addSecs(60LL * cycle);
    return row;
}

// What the chart does while readings arrive.
enum class ChartState { Hidden, Following, HeldOnAll };

struct Figures {
    double perReadingUs = 0;
    double longestMs = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption cyclesOption(QStringLiteral("cycles"), QStringLiteral("cycles"),
                                          QStringLiteral("N"), QStringLiteral("20"));
    const QCommandLineOption portsOption(QStringLiteral("ports"), QStringLiteral("ports"),
                                         QStringLiteral("N"), QStringLiteral("1000"));
    parser.addOption(cyclesOption);
    parser.addOption(portsOption);
    parser.process(app);
    const int cycles = parser.value(cyclesOption).toInt();
    const int ports = parser.value(portsOption).toInt();
    QTextStream out(stdout);

    Modulo1 m;
    ReadingsModel model(m);
    ReadingHistory history(model);
    QSplitter window;
    auto* grid = new QTableView(&window);
    grid->setModel(&model);
    grid->verticalHeader()->hide();
    auto* chart = new ReadingChart(history, &window);
    window.resize(1200, 700);
    window.show();
    const QString selected = readingFor(7, 0).tag;
    chart->showPort(selected, QStringLiteral("DIAM"));
    // The followed port's full depth, in the minutes before the run.
    const int kept = int(ReadingHistory::kPointsPerFollowedPort);
    chart->hide();
    for (int c = -kept; c < 0; ++c)
        history.add(readingFor(7, c));
    chart->show();
    QCoreApplication::processEvents();

    out << "readings tab: " << ports << " ports per cycle, " << cycles
        << " cycles, the chart showing one port; load " << bench::loadAverage() << "\n";
    // One cycle first, so that fonts, caches and the first paint are behind.
    for (int p = 0; p < ports; ++p)
        model.addReading(readingFor(p, 0));
    QCoreApplication::processEvents();

    out << "chart | pages per turn | per reading (model, history, grid, chart) | longest busy "
           "stretch\n";
    int cycle = 1;
    double longestFollowing = 0;
    for (const ChartState state :
         {ChartState::Hidden, ChartState::Following, ChartState::HeldOnAll}) {
        chart->setVisible(state != ChartState::Hidden);
        if (state == ChartState::HeldOnAll) {
            // Zoomed out (the - key) until every kept reading is in view.
            const double oldest = double(history.points(selected).front().atMs);
            for (int i = 0; i < 40 && chart->shownFrom() > oldest; ++i) {
                QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier,
                                QStringLiteral("-"));
                QCoreApplication::sendEvent(chart, &minus);
            }
            QCoreApplication::processEvents();
        }
        for (const int perTurn : {1, 50, 1000}) {
            Figures figures;
            qint64 readings = 0;
            double spent = 0;
            for (int c = 0; c < cycles; ++c, ++cycle) {
                for (int first = 0; first < ports; first += perTurn) {
                    QElapsedTimer turn;
                    turn.start();
                    for (int p = first; p < std::min(ports, first + perTurn); ++p) {
                        model.addReading(readingFor(p, cycle));
                        ++readings;
                    }
                    // The repaints the turn asked for run before the next turn.
                    QCoreApplication::processEvents();
                    const double ms = bench::millis(turn);
                    spent += ms;
                    figures.longestMs = std::max(figures.longestMs, ms);
                }
            }
            figures.perReadingUs = spent * 1000 / double(std::max<qint64>(readings, 1));
            if (state == ChartState::Following)
                longestFollowing = std::max(longestFollowing, figures.longestMs);
            const QString shown = state == ChartState::Hidden      ? QStringLiteral("hidden")
                                  : state == ChartState::Following ? QStringLiteral("following")
                                                                   : QStringLiteral("held on all");
            out << QStringLiteral("%1 | %2 | %3 us | %4 ms\n")
                       .arg(shown, 11)
                       .arg(perTurn, 14)
                       .arg(figures.perReadingUs, 0, 'f', 1)
                       .arg(figures.longestMs, 0, 'f', 1);
            out.flush();
        }
    }
    out << QStringLiteral("window thread's longest stretch, the chart following a port of %1 "
                          "kept readings, %2 ports per cycle: %3 ms (target 50 ms)\n")
               .arg(history.points(selected).size())
               .arg(ports)
               .arg(longestFollowing, 0, 'f', 1);
    out << "points kept for the chart's port: " << history.points(selected).size()
        << ", ports in the history: " << history.portCount() << "\n";
    return 0;
}

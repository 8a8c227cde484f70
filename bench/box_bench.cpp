// Stop while a box is shown: the main window (offscreen platform) over 1000
// configured ports, half of them misconfigured (an ftp:// address, refused
// at every cycle) on clocks 1 to 5, half on a station that takes the
// connection and never answers on clocks 6 to 10, so that their cycles are
// still under way. A first round brings the cycles' box, which the person
// pauses on its strip so that it stays. Then each round starts the
// acquisition, presses the ten clock buttons and, at a moment a thread of
// its own picks (0 to 300 ms later: while the cycles handle their pages or
// after), presses Stop the way a person does: the press is posted to the
// window thread and delivered through the window system (where a modal box
// would block it). Prints, per round, the time from the press to the
// acquisition stopped (Acquisition::runningChanged(false)), and its median
// and worst against the 100 ms target, with the boxes shown at the press.
//
// Options: --rounds N (default 10), --ports N (default 1000).

#include "BenchFailures.h"
#include "BenchFigures.h"
#include "BenchInstallation.h"
#include "app/Router.h"
#include "app/widgets/Telvar.h"
#include "database/ArmaConexion.h"
#include "dialogs/widgets/GuiInteraccion.h"
#include "dialogs/widgets/MensaBox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

using namespace telvar;
using Steady = std::chrono::steady_clock;

namespace {

// Takes every connection and never answers: pages that keep their cycles
// under way until their time limit.
class SilentStation final : public QTcpServer {
public:
    SilentStation()
    {
        if (!listen(QHostAddress::LocalHost, 0))
            bench::die(QStringLiteral("silent station: ") + errorString());
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                socket->setParent(this);
        });
    }
};

// Runs the event loop until done() or ms have passed; false when the time
// ran out.
template <typename Done> bool waitFor(Done done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

int visibleBoxes()
{
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        boxes += qobject_cast<MensaBox*>(widget) && widget->isVisible() ? 1 : 0;
    return boxes;
}

// Counts the timed boxes that open (a box that takes a further notice while
// shown is not opened again).
class BoxCounter final : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !event->spontaneous() &&
            qobject_cast<MensaBox*>(watched))
            ++count;
        return false;
    }
};

struct Round {
    double startMs = 0;
    double boxAfterMs = 0;
    double stopMs = 0;
    int cyclesAtPress = 0;
    int boxesAtPress = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("rounds"),
                                          QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption portsOption(QStringLiteral("ports"), QStringLiteral("ports"),
                                         QStringLiteral("N"), QStringLiteral("1000"));
    parser.addOption(roundsOption);
    parser.addOption(portsOption);
    parser.process(app);
    const int rounds = parser.value(roundsOption).toInt();
    const int ports = parser.value(portsOption).toInt();
    if (rounds < 1 || ports < 2)
        bench::die(QStringLiteral("--rounds must be at least 1 and --ports at least 2"));

    QTemporaryDir dir;
    if (!dir.isValid())
        bench::die(QStringLiteral("no temporary directory"));
    Modulo1 m;
    bench::setUpModulo1(m, dir.path() + QLatin1Char('/'), QStringLiteral("clave"));
    if (!QDir().mkpath(m.RutaIAU))
        bench::die(QStringLiteral("cannot make ") + m.RutaIAU);
    const QString configPath = bench::createConfiguration(m);
    const QString qualitra = m.RutaApp + QStringLiteral("Qualitra.MDB");
    bench::check(EngineLayer::createFileDatabase(qualitra, m.PassBD), qualitra);
    bench::createCxpTable(*bench::open(jetConnectionString(qualitra, m.PassBD)));
    m.TipoBD = QStringLiteral("[JET4]");
    m.CadConexion = jetConnectionString(qualitra, m.PassBD);

    SilentStation silent;
    std::vector<int> rows(static_cast<std::size_t>(ports));
    for (int i = 0; i < ports; ++i)
        rows[static_cast<std::size_t>(i)] = i + 1;
    bench::replacePorts(
        *bench::open(configConnectionString(configPath, m.PassBD)), rows, [&](int puert) {
            bench::ConfigPort p;
            p.puert = puert;
            p.reloj = 1 + (puert - 1) % 10;
            p.webPg = p.reloj <= 5 ? QStringLiteral("ftp://station%1/p.html").arg(puert)
                                   : QStringLiteral("http://127.0.0.1:%1/p%2.html")
                                         .arg(silent.serverPort())
                                         .arg(puert);
            p.ident = QStringLiteral("T=");
            p.maqui = QStringLiteral("M1");
            p.produ = QStringLiteral("P1");
            p.forma = QStringLiteral("F1");
            p.carac = QStringLiteral("C1");
            return p;
        });

    GuiInteraccion gui(m, QStringLiteral("Telvar"));
    Router router(m, gui);
    router.open();
    Telvar w(m, gui, router);
    if (w.Reinicia() != ReiniciaOutcome::Done)
        bench::die(QStringLiteral("the configuration did not open"));
    w.resize(1200, 800);
    w.show();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w))
        bench::die(QStringLiteral("the window did not become active"));
    auto* cmdAbre = w.findChild<QPushButton*>(QStringLiteral("cmdAbre"));
    if (!cmdAbre)
        bench::die(QStringLiteral("no cmdAbre"));
    // Nothing of the run may hold the window: a modal box stops the bench.
    QTimer modalWatch;
    QObject::connect(&modalWatch, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            const auto* box = qobject_cast<MensaBox*>(modal);
            bench::die(QStringLiteral("a modal box holds the window:\n") +
                       (box ? box->Mensaje() : modal->objectName()));
        }
    });
    modalWatch.start(50);

    // A press as the window system delivers it, where a modal box would
    // block it.
    const auto press = [&](QPushButton* button) {
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {},
                          button->mapTo(&w, button->rect().center()));
    };
    Acquisition& acquisition = w.acquisition();
    std::atomic<bool> stopped{false};
    Steady::time_point stoppedAt;
    QObject::connect(&acquisition, &Acquisition::runningChanged, [&](bool running) {
        if (!running) {
            stoppedAt = Steady::now();
            stopped = true;
        }
    });

    std::printf("Stop while a box is shown: %d ports (%d refused at every cycle on clocks 1-5, "
                "%d on a silent station on clocks 6-10), %d rounds; load %s\n",
                ports, (ports + 1) / 2, ports / 2, rounds, qPrintable(bench::loadAverage()));
    std::printf("round | start | press after | cycles at the press | boxes at the press | press "
                "to stopped\n");
    std::mt19937 random(20260302);
    std::vector<Round> figures;
    BoxCounter opened;
    app.installEventFilter(&opened);
    for (int r = 0; r <= rounds; ++r) {
        Round round;
        QElapsedTimer timer;
        timer.start();
        press(cmdAbre);
        if (!acquisition.isRunning())
            bench::die(QStringLiteral("the acquisition did not start"));
        round.startMs = bench::millis(timer);

        timer.restart();
        for (int reloj = 1; reloj <= 10; ++reloj) {
            auto* button = w.findChild<QPushButton*>(QStringLiteral("bReloj_%1").arg(reloj));
            if (!button || !button->isEnabled())
                bench::die(QStringLiteral("clock button %1 is not enabled").arg(reloj));
            press(button);
        }
        if (r == 0) {
            if (!waitFor([&] { return gui.shownNotice() != nullptr; }, 60000))
                bench::die(QStringLiteral("no box came within a minute"));
            round.boxAfterMs = bench::millis(timer);
            QWidget* strip =
                gui.shownNotice()->findChild<QWidget*>(QStringLiteral("PlayPauseStop"));
            QTest::mouseClick(strip, Qt::LeftButton, {},
                              QPoint(strip->width() * 5 / 8, strip->height() / 2));
        }

        // The press comes at a moment of the thread's choosing, whatever the
        // window thread is doing then.
        stopped = false;
        Steady::time_point pressedAt;
        std::uniform_int_distribution<int> delay(0, 300);
        const int delayMs = delay(random);
        std::thread presser([&, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            pressedAt = Steady::now();
            QMetaObject::invokeMethod(
                &w,
                [&] {
                    round.cyclesAtPress = acquisition.cyclesRunning();
                    round.boxesAtPress = visibleBoxes();
                    press(cmdAbre);
                },
                Qt::QueuedConnection);
        });
        const bool done = waitFor([&] { return stopped.load(); }, 10000);
        presser.join();
        if (!done)
            bench::die(QStringLiteral("Stop did not stop the acquisition within 10 s"));
        round.stopMs = std::chrono::duration<double, std::milli>(stoppedAt - pressedAt).count();
        if (r == 0)
            std::printf("first | %7.1f ms | box after %7.1f ms, then paused | press to stopped "
                        "%.2f ms\n",
                        round.startMs, round.boxAfterMs, round.stopMs);
        else
            figures.push_back(round);
        if (r > 0)
            std::printf("%5d | %7.1f ms | %7d ms | %19d | %18d | %8.2f ms\n", r, round.startMs,
                        delayMs, round.cyclesAtPress, round.boxesAtPress, round.stopMs);
        std::fflush(stdout);
    }

    std::vector<double> stops;
    int withBox = 0;
    for (const Round& round : figures) {
        stops.push_back(round.stopMs);
        withBox += round.boxesAtPress > 0 ? 1 : 0;
    }
    const double worst = *std::max_element(stops.begin(), stops.end());
    std::printf("press to stopped: median %.2f ms, worst %.2f ms (target 100 ms: %s); a box shown "
                "at %d of %d presses; timed boxes opened in the whole run: %d\n",
                bench::median(stops), worst, worst <= 100 ? "met" : "MISSED", withBox, rounds,
                opened.count);
    return 0;
}

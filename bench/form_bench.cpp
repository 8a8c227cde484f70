// The port form's costs as a person meets them: a picker taking the focus
// (its query, its rows, the search for the box's key) on a large master
// table, and the preview cutting a reading out of a page at the loader's
// bound on every keystroke.
//
//   telvar_bench_form [rounds]

#include "BenchFailures.h"
#include "acquisition/PageLoader.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "demo/QualitraDemo.h"
#include "portform/MasterPickers.h"
#include "portform/PortPreview.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using namespace telvar;
using bench::check;
using bench::die;
using bench::FailOnBox;

void measure(const char* what, int rounds, const std::function<void()>& fn)
{
    fn();
    std::vector<double> micros;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        fn();
        micros.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%-52s %5d rounds   median %9.1f us   p95 %9.1f us\n", what, rounds,
                micros[micros.size() / 2],
                micros[std::min(micros.size() - 1, micros.size() * 95 / 100)]);
    std::fflush(stdout);
}

// A loader that never loads: the preview is given its page directly.
class NoLoader final : public PageLoader {
public:
    Ticket load(const QString&) override { return ++m_last; }
    void cancel(Ticket) override {}
    void deliver(Ticket ticket, const QString& text)
    {
        emit pageLoaded(ticket, LoadedPage{QString(), PageOutcome::Complete, text, 200, {}});
    }
    Ticket last() const { return m_last; }

private:
    Ticket m_last = 0;
};

void benchPickers(int rounds, int operators, int products)
{
    QTemporaryDir dir;
    Modulo1 m;
    m.PassBD = QStringLiteral("clave-demo");
    const QString qualitra = dir.filePath(QStringLiteral("Qualitra.MDB"));
    check(demo::createQualitraDemoFile(qualitra, m.PassBD), "Qualitra.MDB");
    m.TipoBD = QStringLiteral("[JET4]");
    m.CadConexion = jetConnectionString(qualitra, m.PassBD);
    m.AnchoUSU = m.AnchoEST = m.AnchoMAQ = m.AnchoFRM = m.AnchoCAR = 8;
    m.AnchoPRO = 20;
    m.Idioma = 1;
    {
        auto cn = EngineLayer::open(m.CadConexion);
        if (!cn)
            die(cn.error().description);
        QSqlDatabase db = cn.value()->database();
        db.transaction();
        for (int i = 0; i < operators; ++i) {
            if (!cn.value()
                     ->exec(QStringLiteral("insert into USU (USUCLAVE, USUDESCR, USUSSTAT, "
                                           "USUPODER, USUCONTR) values (?, ?, '0', '0000', '')"),
                            {QStringLiteral("U%1").arg(i, 6, 10, QLatin1Char('0')),
                             QStringLiteral("Operador %1").arg(i)})
                     .ok())
                die(QStringLiteral("insert USU"));
        }
        for (int i = 0; i < products; ++i) {
            const QString key = QStringLiteral("P%1").arg(i, 8, 10, QLatin1Char('0'));
            if (!cn.value()
                     ->exec(QStringLiteral("insert into PRO (PROCLAVE, PRODESC1, PRODESC2) values "
                                           "(?, ?, ?)"),
                            {key, QStringLiteral("Producto ") + key, QStringLiteral("Product")})
                     .ok() ||
                !cn.value()
                     ->exec(QStringLiteral("insert into PXM (PXMMAQUI, PXMPRODU) values "
                                           "('MAQ01', ?)"),
                            {key})
                     .ok())
                die(QStringLiteral("insert PRO/PXM"));
        }
        db.commit();
    }
    FailOnBox ui;
    MasterPickers pickers(m, ui);
    PortBoxes boxes;
    boxes.Opera = QStringLiteral("U%1").arg(operators - 1, 6, 10, QLatin1Char('0'));
    boxes.Maqui = QStringLiteral("MAQ01");
    boxes.Produ = QStringLiteral("P%1").arg(products - 1, 8, 10, QLatin1Char('0'));
    const QByteArray usu = QStringLiteral("operator picker, %1 operators, last one selected")
                               .arg(operators + 6)
                               .toLatin1();
    measure(usu.constData(), rounds, [&] {
        if (!pickers.focus(PickerTable::USU, boxes, QStringLiteral("txtOpera")).selectedRow)
            die(QStringLiteral("operator not found"));
    });
    const QByteArray pxm =
        QStringLiteral("product picker, %1 products of one machine").arg(products + 2).toLatin1();
    measure(pxm.constData(), rounds, [&] {
        if (!pickers.focus(PickerTable::PXM, boxes, QStringLiteral("txtProdu")).selectedRow)
            die(QStringLiteral("product not found"));
    });
}

void benchPreview(int rounds)
{
    NoLoader loader;
    PortPreview preview(loader, 2);
    preview.load(QStringLiteral("http://st/1.html"));
    // A page at the loader's bound with the identifier near its end.
    QString page(4 * 1024 * 1024 - 64, QLatin1Char('x'));
    page += QStringLiteral("<p>DIAM=24.988 mm</p>");
    loader.deliver(loader.last(), page);
    int keystroke = 0;
    measure("preview re-cut of a 4 MiB page, identifier at its end", rounds, [&] {
        preview.setCut(QStringLiteral("DIAM="), QString::number(1 + (keystroke++ % 2)),
                       QStringLiteral("6"));
        if (preview.view().readingLine.isEmpty())
            die(QStringLiteral("no reading"));
    });
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    benchPickers(rounds, 5000, 10000);
    benchPreview(rounds);
    return 0;
}

// Station pages: the body decoded by the charset its Content-Type (the
// input's first line) or a <meta> names, the reading and markers cut out of
// it for ports whose start and length come from the input, and the masking
// of addresses shown in reports.
#include "FuzzSupport.h"
#include "FuzzTarget.h"
#include "acquisition/CycleReport.h"
#include "acquisition/Extraction.h"
#include "acquisition/HttpPageLoader.h"
#include "acquisition/SendRequest.h"

#include <cstdlib>

TELVAR_FUZZ_TARGET(station_page)
{
    const QByteArray input = telvar::fuzz::bytes(data, size);
    const qsizetype lineEnd = input.indexOf('\n');
    const QByteArray contentType = lineEnd < 0 ? QByteArray() : input.left(lineEnd);
    const QByteArray body = lineEnd < 0 ? input : input.mid(lineEnd + 1);
    (void)telvar::pagefetch::charsetOfContentType(contentType);
    const QString page = telvar::pagefetch::decodePageText(body, contentType);

    telvar::TPuerto port;
    port.Ident = QStringLiteral("T=");
    port.Maqui = QStringLiteral("M=");
    port.Forma = QStringLiteral("<");
    port.Produ = page.left(3);
    port.Reloj = QStringLiteral("1");
    port.Puert = 1;
    for (const qint16 inici : {qint16(1), qint16(0), qint16(-3), qint16(32767)}) {
        for (const qint16 longi : {qint16(0), qint16(5), qint16(-1), qint16(32767)}) {
            port.Inici = inici;
            port.Longi = longi;
            const telvar::Extraction cut = telvar::extractReading(page, port);
            // A reading of blanks only is never handed on.
            if (cut.status == telvar::ReadingStatus::Read &&
                cut.reading.count(QLatin1Char(' ')) == cut.reading.size())
                std::abort();
        }
    }

    // An address's password never shows in a report.
    const QString url = QString::fromUtf8(input);
    const QString masked = telvar::maskUrlPassword(url);
    (void)telvar::cycleReport(1, QStringLiteral("Puerto"), 1, port,
                              telvar::Error{1, QStringLiteral("x"), masked});
    if (url.startsWith(QLatin1String("http://u:secretpw@")) &&
        masked.contains(QLatin1String("secretpw")))
        std::abort();
    return 0;
}

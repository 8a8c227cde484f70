#include "common/Modulo1.h"
#include "recording/QuarantineModel.h"

#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace telvar {
namespace {

// The reason column: why each reading is in the quarantine, in words of the
// program's language whatever was stored (the outbox keeps the path check's
// code and the path it found missing, or the data table's error).
struct ReasonCase {
    const char* name;
    int code;
    qint64 number;
    QString stored;
    QString spanish;
    QString english;
};

const ReasonCase kReasonCases[] = {
    {"FormatDirectory", 1, 0, u"/datos/FRM02"_s, u"no existe el directorio /datos/FRM02"_s,
     u"directory /datos/FRM02 does not exist"_s},
    {"MachineDirectory", 2, 0, u"/datos/FRM02/M1"_s, u"no existe el directorio /datos/FRM02/M1"_s,
     u"directory /datos/FRM02/M1 does not exist"_s},
    {"DataFile", 3, 0, u"/datos/FRM02/M1/P1.MDB"_s,
     u"no existe el archivo de datos /datos/FRM02/M1/P1.MDB"_s,
     u"data file /datos/FRM02/M1/P1.MDB does not exist"_s},
    // A row stored without its path: the entry's own fields name it.
    {"FormatDirectoryStoredWithoutPath", 1, 0, QString(), u"no existe el directorio /datos/FRM02"_s,
     u"directory /datos/FRM02 does not exist"_s},
    {"DataFileStoredWithoutPath", 3, 0, QString(),
     u"no existe el archivo de datos /datos/FRM02/M1/P1.MDB"_s,
     u"data file /datos/FRM02/M1/P1.MDB does not exist"_s},
    // The data table's refusal: its number and the engine's text, as given.
    {"RefusedByTheTable", 0, 3265, u"no such column: C9"_s, u"3265.- no such column: C9"_s,
     u"3265.- no such column: C9"_s},
    // A code this program never writes (a damaged row) is said to be one.
    {"UnknownCode", 7, 0, u"/datos/X"_s, u"motivo de código 7 desconocido: /datos/X"_s,
     u"reason of unknown code 7: /datos/X"_s},
};

QuarantinedEntry quarantined(const ReasonCase& c)
{
    QuarantinedEntry q;
    q.entry.id = 1;
    q.entry.Puert = 4;
    q.entry.engine = u"[JET4]"_s;
    q.entry.base = u"/datos/"_s;
    q.entry.Forma = u"FRM02"_s;
    q.entry.Maqui = u"M1"_s;
    q.entry.Produ = u"P1"_s;
    q.entry.Carac = u"C1"_s;
    q.entry.Valor = u"12.5"_s;
    q.entry.stamp = QDateTime(QDate(2026, 3, 5), QTime(7, 4, 9));
    q.code = static_cast<CodeErr>(c.code);
    q.reason = Error{c.number, u"Telvar"_s, c.stored};
    return q;
}

TEST(QuarantineModel, EachReasonIsShownInWordsOfEitherLanguage)
{
    Modulo1 m;
    QuarantineModel model(m);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const int reason = model.columnCount() - 1;
    for (const ReasonCase& c : kReasonCases) {
        SCOPED_TRACE(c.name);
        const QuarantinedEntry q = quarantined(c);
        EXPECT_EQ(QuarantineModel::reasonText(q, 1), c.spanish);
        EXPECT_EQ(QuarantineModel::reasonText(q, 2), c.english);
        // The list shows the same, in the language of the moment.
        model.setEntries({q});
        for (const auto& [idioma, expected] :
             {std::pair<qint16, QString>{1, c.spanish}, std::pair<qint16, QString>{2, c.english}}) {
            m.Idioma = idioma;
            EXPECT_EQ(model.index(0, reason).data().toString(), expected);
            EXPECT_EQ(model.index(0, reason).data(Qt::ToolTipRole).toString(), expected);
        }
        // Never the bare code the outbox stores.
        EXPECT_FALSE(
            QuarantineModel::reasonText(q, 1).startsWith(QString::number(c.code) + u": "_s));
    }
}

TEST(QuarantineModel, AStoredReasonIsShownOnOneLine)
{
    Modulo1 m;
    m.Idioma = 2;
    QuarantineModel model(m);
    ReasonCase c = kReasonCases[0];
    c.stored = u"/datos/FR\nM02\r\t"_s;
    model.setEntries({quarantined(c)});
    const QString shown = model.index(0, model.columnCount() - 1).data().toString();
    EXPECT_FALSE(shown.contains(u'\n'));
    EXPECT_FALSE(shown.contains(u'\r'));
    EXPECT_TRUE(shown.startsWith(u"directory /datos/FR"_s)) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(u"does not exist"_s)) << shown.toStdString();
}

} // namespace
} // namespace telvar

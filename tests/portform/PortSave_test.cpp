// Saving the port form: the conversions of its boxes, the carrying over of a
// changed operator or product to the ports of the same machine, and the
// reports of a failed save.
#include "common/TrimBlanks.h"
#include "config/ConfigDatabase.h"
#include "portform/PortSave.h"
#include "support/ConfigFixture.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

class PortSaveTest : public ::testing::Test, protected test::ConfigFixture {
protected:
    void SetUp() override
    {
        // Port 1 (machine M1, station E1), 2 (M1, E2, another product),
        // 3 (M1 with trailing blanks), 4 (M2), 5 (no machine), 6 (blank machine).
        m_path = createConfig(QStringLiteral("TLVConf.mdb"), fixtureKeyWidths(),
                              {{1, QStringLiteral("Uno"), QStringLiteral("E1"), 1},
                               {2, QStringLiteral("Dos"), QStringLiteral("E2"), 1},
                               {3, QStringLiteral("Tres"), QStringLiteral("E1"), 1},
                               {4, QStringLiteral("Cuatro"), QStringLiteral("E1"), 2},
                               {5, QStringLiteral("Cinco"), QStringLiteral("E1"), 2},
                               {6, QStringLiteral("Seis"), QStringLiteral("E1"), 2}});
        writeTLVDirec({m_path});
        config(QStringLiteral("update HTMCONFI set Opera = 'ABC', Produ = 'P1', Maqui = 'M1', "
                              "Forma = 'F1', Carac = 'C1'"));
        config(QStringLiteral("update HTMCONFI set Produ = 'P2' where Puert = 2"));
        config(QStringLiteral("update HTMCONFI set Maqui = 'M1  ' where Puert = 3"));
        config(QStringLiteral("update HTMCONFI set Maqui = 'M2' where Puert = 4"));
        config(QStringLiteral("update HTMCONFI set Maqui = NULL where Puert = 5"));
        config(QStringLiteral("update HTMCONFI set Maqui = '  ' where Puert = 6"));
        ASSERT_EQ(m_conf.Reinicia(), ReiniciaOutcome::Done);
    }

    void config(const QString& sql)
    {
        auto cn = openDatabase(m_path);
        ASSERT_TRUE(cn->exec(sql).ok()) << sql.toStdString();
    }
    // Column of every port, by port: "1=value;2=value;...", null as "<null>".
    QString columnByPort(const char* column)
    {
        auto cn = openDatabase(m_path);
        auto r = cn->exec(QStringLiteral("select Puert, ") + QLatin1String(column) +
                          QStringLiteral(" from HTMCONFI order by Puert"));
        EXPECT_TRUE(r.ok());
        QStringList parts;
        while (r && r.value().next())
            parts.append(r.value().value(0).toString() + QLatin1Char('=') +
                         (r.value().value(1).isNull() ? QStringLiteral("<null>")
                                                      : r.value().value(1).toString()));
        return parts.join(QLatin1Char(';'));
    }
    QVariant stored(int puert, const char* column)
    {
        auto cn = openDatabase(m_path);
        auto r = cn->exec(QStringLiteral("select ") + QLatin1String(column) +
                              QStringLiteral(" from HTMCONFI where Puert = ?"),
                          {puert});
        EXPECT_TRUE(r.ok());
        return r && r.value().next() ? r.value().value(0) : QVariant();
    }
    PortBoxes storedBoxes(int puert)
    {
        return PortBoxes::fromRecord(m_conf.RsConf().rowRecord(*m_conf.RsConf().rowOfPuert(puert)));
    }
    QStringList questions() const
    {
        QStringList texts;
        for (const Box& box : ui.boxes) {
            if (box.type == Box::Type::QuestionBox)
                texts.append(box.text);
        }
        return texts;
    }

    QString m_path;
    ConfigDatabase m_conf{m, ui};
    PortSave m_save{m, ui, m_conf.RsConf()};
};

TEST_F(PortSaveTest, BoxesAreConvertedAsTheyAreWritten)
{
    PortBoxes boxes = storedBoxes(1);
    boxes.Descr = QStringLiteral("  Diámetro exterior  ");
    boxes.WebPg = QStringLiteral(" http://st/1.html ");
    boxes.Ident = QStringLiteral(" T= ");
    boxes.Inici = QStringLiteral("12 cm");
    boxes.Longi = QStringLiteral("abc");
    // A picked key: padded to its width, then ": " and the description.
    boxes.Estac = QStringLiteral("E9      : Estación nueve");
    boxes.Forma = QStringLiteral("F2");
    boxes.Reloj = QStringLiteral("x");
    ASSERT_TRUE(m_save.cmdAceptar(1, boxes));
    EXPECT_EQ(stored(1, "Descr").toString(), QStringLiteral("Diámetro exterior"));
    EXPECT_EQ(stored(1, "WebPg").toString(), QStringLiteral("http://st/1.html"));
    EXPECT_EQ(stored(1, "Ident").toString(), QStringLiteral("T="));
    EXPECT_EQ(stored(1, "Inici").toInt(), 12);
    EXPECT_EQ(stored(1, "Longi").toInt(), 0);
    // The first (key width) characters, blanks kept.
    EXPECT_EQ(stored(1, "Estac").toString(), QStringLiteral("E9      "));
    EXPECT_EQ(stored(1, "Forma").toString(), QStringLiteral("F2"));
    EXPECT_EQ(stored(1, "Reloj").toInt(), 0);
    EXPECT_TRUE(questions().isEmpty());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(PortSaveTest, ANullRowSavedUnchangedStoresEmptyTextsAndZeros)
{
    config(
        QStringLiteral("update HTMCONFI set Descr = NULL, WebPg = NULL, Ident = NULL, "
                       "Inici = NULL, Longi = NULL, Estac = NULL, Maqui = NULL, Produ = NULL, "
                       "Forma = NULL, Carac = NULL, Opera = NULL, Reloj = NULL where Puert = 4"));
    ASSERT_TRUE(m_conf.RsConf().refresh().ok());
    const PortBoxes boxes = storedBoxes(4);
    EXPECT_EQ(boxes, PortBoxes{});
    ASSERT_TRUE(m_save.cmdAceptar(4, boxes));
    for (const char* text : {"Descr", "WebPg", "Ident", "Opera", "Maqui", "Carac"}) {
        EXPECT_FALSE(stored(4, text).isNull()) << text;
        EXPECT_EQ(stored(4, text).toString(), QString()) << text;
    }
    for (const char* number : {"Inici", "Longi", "Reloj"})
        EXPECT_EQ(stored(4, number), QVariant(0LL)) << number;
    EXPECT_TRUE(questions().isEmpty());
}

TEST_F(PortSaveTest, APickedKeyEqualToTheStoredOneAsksNothing)
{
    PortBoxes boxes = storedBoxes(1);
    boxes.Opera = QStringLiteral("ABC     : Ana Belén Castro");
    boxes.Produ = QStringLiteral("P1                  : Eje");
    ASSERT_TRUE(m_save.cmdAceptar(1, boxes));
    EXPECT_TRUE(questions().isEmpty());
    EXPECT_EQ(stored(1, "Opera").toString(), QStringLiteral("ABC     "));
}

TEST_F(PortSaveTest, ChangesAreCarriedToThePortsOfTheMachineAsAnswered)
{
    const struct {
        bool operatorYes;
        bool productYes;
        const char* operators;
        const char* products;
    } cases[] = {
        {true, true, "1=XYZ;2=XYZ;3=XYZ;4=ABC;5=ABC;6=ABC", "1=P7;2=P7;3=P7;4=P1;5=P1;6=P1"},
        {false, true, "1=XYZ;2=ABC;3=ABC;4=ABC;5=ABC;6=ABC", "1=P7;2=P7;3=P7;4=P1;5=P1;6=P1"},
        {true, false, "1=XYZ;2=XYZ;3=XYZ;4=ABC;5=ABC;6=ABC", "1=P7;2=P2;3=P1;4=P1;5=P1;6=P1"},
        {false, false, "1=XYZ;2=ABC;3=ABC;4=ABC;5=ABC;6=ABC", "1=P7;2=P2;3=P1;4=P1;5=P1;6=P1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.operatorYes << c.productYes);
        config(QStringLiteral("update HTMCONFI set Opera = 'ABC', Produ = 'P1'"));
        config(QStringLiteral("update HTMCONFI set Produ = 'P2' where Puert = 2"));
        ASSERT_TRUE(m_conf.RsConf().refresh().ok());
        ui.boxes.clear();
        ui.questionAnswers = {c.operatorYes, c.productYes};

        PortBoxes boxes = storedBoxes(1);
        boxes.Opera = QStringLiteral("XYZ");
        boxes.Produ = QStringLiteral("P7                  : Eje largo");
        ASSERT_TRUE(m_save.cmdAceptar(1, boxes));
        EXPECT_EQ(questions(),
                  QStringList({QStringLiteral("El Operador cambió a XYZ. ¿Desea cambiarlo en el "
                                              "resto de los puertos de la máquina M1?"),
                               QStringLiteral("El Proceso cambió  a P7. ¿Desea cambiarlo en el "
                                              "resto de los puertos de la máquina M1?")}));
        // The edited port keeps its own (cut) key; the others get it trimmed.
        QString operators = columnByPort("Opera");
        QString products = columnByPort("Produ");
        operators.replace(QStringLiteral("XYZ     "), QStringLiteral("XYZ"));
        products.replace(QStringLiteral("P7                  "), QStringLiteral("P7"));
        EXPECT_EQ(operators, QLatin1String(c.operators));
        EXPECT_EQ(products, QLatin1String(c.products));
        EXPECT_EQ(ui.mousePointer, PointerShape::Default);
        // The grid shows the carried-over values.
        if (c.operatorYes) {
            EXPECT_EQ(trimBlanks(m_conf.RsConf().row(*m_conf.RsConf().rowOfPuert(2)).Opera),
                      QStringLiteral("XYZ"));
        }
    }
}

TEST_F(PortSaveTest, TheQuestionsFollowTheLanguage)
{
    const struct {
        int idioma;
        const char* newOperator;
        const char* operatorQuestion;
        const char* productQuestion;
    } cases[] = {
        {1, "XYZ",
         "El Operador cambió a XYZ. ¿Desea cambiarlo en el resto de los puertos de la máquina M1?",
         "El Proceso cambió  a P7. ¿Desea cambiarlo en el resto de los puertos de la máquina M1?"},
        {2, "XYZ",
         "The operator changed to XYZ. Do you want to change it on the other ports of machine M1?",
         "The process changed to P7. Do you want to change it on the other ports of machine M1?"},
        // A key that looks like a place holder is shown as it is.
        {2, "%2",
         "The operator changed to %2. Do you want to change it on the other ports of machine M1?",
         "The process changed to P7. Do you want to change it on the other ports of machine M1?"},
        // A language without its own texts gets the Spanish.
        {3, "XYZ",
         "El Operador cambió a XYZ. ¿Desea cambiarlo en el resto de los puertos de la máquina M1?",
         "El Proceso cambió  a P7. ¿Desea cambiarlo en el resto de los puertos de la máquina M1?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.idioma << " " << c.newOperator);
        config(QStringLiteral("update HTMCONFI set Opera = 'ABC', Produ = 'P1'"));
        ASSERT_TRUE(m_conf.RsConf().refresh().ok());
        ui.boxes.clear();
        ui.questionAnswers = {false, false};
        m.Idioma = static_cast<qint16>(c.idioma);
        PortBoxes boxes = storedBoxes(1);
        boxes.Opera = QString::fromUtf8(c.newOperator);
        boxes.Produ = QStringLiteral("P7");
        ASSERT_TRUE(m_save.cmdAceptar(1, boxes));
        EXPECT_EQ(questions(), QStringList({QString::fromUtf8(c.operatorQuestion),
                                            QString::fromUtf8(c.productQuestion)}));
    }
}

TEST_F(PortSaveTest, AnEmptyMachineCarriesToEveryPortWithoutAMachine)
{
    ui.questionAnswers = {true};
    PortBoxes boxes = storedBoxes(5);
    boxes.Opera = QStringLiteral("NEW");
    ASSERT_TRUE(m_save.cmdAceptar(5, boxes));
    ASSERT_EQ(questions().size(), 1);
    EXPECT_TRUE(questions().first().endsWith(QStringLiteral("de la máquina ?")));
    EXPECT_EQ(columnByPort("Opera"), QStringLiteral("1=ABC;2=ABC;3=ABC;4=ABC;5=NEW;6=NEW"));
    // The machine compared is the one in the box, not the stored one.
    ui.boxes.clear();
    ui.questionAnswers = {true};
    boxes = storedBoxes(4);
    boxes.Maqui = QStringLiteral("M1");
    boxes.Opera = QStringLiteral("OTRO");
    ASSERT_TRUE(m_save.cmdAceptar(4, boxes));
    EXPECT_EQ(columnByPort("Opera"), QStringLiteral("1=OTRO;2=OTRO;3=OTRO;4=OTRO;5=NEW;6=NEW"));
}

TEST_F(PortSaveTest, AFailedSaveIsReportedAndWritesNothing)
{
    const struct {
        const char* name;
        void (*edit)(PortBoxes&);
        const char* report;
    } cases[] = {
        {"start beyond a whole number", [](PortBoxes& b) { b.Inici = QStringLiteral("1e12"); },
         "HtmlCanal. CmdAceptar.\n\n6.- Overflow: Inici"},
        {"start the acquisition would refuse",
         [](PortBoxes& b) { b.Inici = QStringLiteral("40000"); },
         "HtmlCanal. CmdAceptar.\n\n6.- Overflow: Inici takes a whole number from -32768 to 32767"},
        {"length the acquisition would refuse",
         [](PortBoxes& b) { b.Longi = QStringLiteral("-32769"); },
         "HtmlCanal. CmdAceptar.\n\n6.- Overflow: Longi"},
        {"clock beyond 10", [](PortBoxes& b) { b.Reloj = QStringLiteral("99"); },
         "HtmlCanal. CmdAceptar.\n\n6.- Overflow: Reloj"},
        {"description too long for its column",
         [](PortBoxes& b) { b.Descr = QString(400, QLatin1Char('d')); },
         "HtmlCanal. CmdAceptar.\n\n3163.- The field is too small"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui.boxes.clear();
        PortBoxes boxes = storedBoxes(2);
        boxes.Ident = QStringLiteral("changed");
        c.edit(boxes);
        EXPECT_FALSE(m_save.cmdAceptar(2, boxes));
        ASSERT_EQ(ui.boxes.size(), 1);
        EXPECT_EQ(ui.boxes[0].type, Box::Type::MensaBox);
        EXPECT_EQ(ui.boxes[0].icono, BoxKind::Exclamation);
        EXPECT_EQ(ui.boxes[0].duracion, 5);
        EXPECT_TRUE(ui.boxes[0].text.startsWith(QLatin1String(c.report)))
            << ui.boxes[0].text.toStdString();
        EXPECT_NE(stored(2, "Ident").toString(), QStringLiteral("changed"));
    }
    // A port that is no longer in the configuration.
    ui.boxes.clear();
    EXPECT_FALSE(m_save.cmdAceptar(42, storedBoxes(1)));
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("HtmlCanal. CmdAceptar.\n\n3021.- ")));
}

TEST_F(PortSaveTest, AKeyWithAnApostropheIsStoredAsTyped)
{
    ui.questionAnswers = {true};
    PortBoxes boxes = storedBoxes(1);
    boxes.Opera = QStringLiteral("O'NEIL");
    ASSERT_TRUE(m_save.cmdAceptar(1, boxes));
    EXPECT_EQ(columnByPort("Opera"),
              QStringLiteral("1=O'NEIL;2=O'NEIL;3=O'NEIL;4=ABC;5=ABC;6=ABC"));
}

} // namespace
} // namespace telvar

// The master-data pickers on the demo's SPC database: what each lists for
// its parent, in both languages, which row each selects, and what a pick
// puts into its box.
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "demo/DemoTexts.h"
#include "demo/QualitraDemo.h"
#include "portform/MasterPickers.h"
#include "support/EngineDatabase.h"
#include "support/RecordingInteraccion.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace telvar {
namespace {

using Box = test::RecordingInteraccion::Box;

QStringList strings(const std::vector<const char*>& texts)
{
    QStringList list;
    for (const char* text : texts)
        list.append(QString::fromUtf8(text));
    return list;
}

class MasterPickersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m.PassBD = QStringLiteral("Telvar26");
        m_qualitra = m_dir.filePath(QStringLiteral("Qualitra.MDB"));
        ASSERT_TRUE(demo::createQualitraDemoFile(m_qualitra, m.PassBD).ok());
        m.TipoBD = QStringLiteral("[JET4]");
        m.CadConexion = jetConnectionString(m_qualitra, m.PassBD);
        m.AnchoUSU = 8;
        m.AnchoEST = 8;
        m.AnchoMAQ = 8;
        m.AnchoPRO = 20;
        m.AnchoFRM = 8;
        m.AnchoCAR = 8;
        m.messageTable = MessageTable(200, 200, 2);
        for (const demo::DemoMessage& message : demo::demoMessages()) {
            m.messageTable.setText(message.section, message.number, 1,
                                   QString::fromUtf8(message.spanish));
            m.messageTable.setText(message.section, message.number, 2,
                                   QString::fromUtf8(message.english));
        }
        m.Idioma = 1;
    }

    // The listed rows as "key|...|description" lines.
    QStringList listed()
    {
        QStringList lines;
        const PickerModel& model = m_pickers.model();
        for (int r = 0; r < model.rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model.columnCount(); ++c)
                cells.append(model.data(model.index(r, c)).toString());
            lines.append(cells.join(QLatin1Char('|')));
        }
        return lines;
    }
    QStringList headers()
    {
        QStringList captions;
        const PickerModel& model = m_pickers.model();
        for (int c = 0; c < model.columnCount(); ++c)
            captions.append(model.headerData(c, Qt::Horizontal).toString());
        return captions;
    }

    // The chain of the demo, picker by picker, from one set of boxes.
    void checkTheChain();

    QTemporaryDir m_dir;
    std::unique_ptr<test::EngineDatabase> m_pg;
    QString m_qualitra;
    Modulo1 m;
    test::RecordingInteraccion ui;
    MasterPickers m_pickers{m, ui};
};

TEST_F(MasterPickersTest, EachPickerListsWhatItsParentAllows)
{
    checkTheChain();
}

// The same chain read from a server engine: the parent key bound to the
// LIKE, the key columns' sizes read from the server's catalogue.
TEST_F(MasterPickersTest, EachPickerListsWhatItsParentAllowsOnPostgreSql)
{
    TELVAR_REQUIRE_POSTGRES();
    QString error;
    m_pg = test::EngineDatabase::create(test::Engine::PostgreSql, &error);
    ASSERT_TRUE(m_pg) << error.toStdString();
    m_pg->describeIn(m);
    {
        auto cn = EngineLayer::open(m.CadConexion);
        ASSERT_TRUE(cn.ok()) << cn.error().description.toStdString();
        ASSERT_TRUE(demo::loadQualitraDemo(*cn.value()).ok());
    }
    checkTheChain();
    PortBoxes boxes;
    boxes.Maqui = QStringLiteral("MAQ02");
    m_pickers.focus(PickerTable::PXM, boxes, QStringLiteral("txtProdu"));
    EXPECT_EQ(m_pickers.pickedText(0), QStringLiteral("PROD-A              : Eje de transmisión"));
}

void MasterPickersTest::checkTheChain()
{
    PortBoxes boxes;
    boxes.Opera = QStringLiteral("OPER01");
    boxes.Estac = QStringLiteral("EST02   : Control final");
    boxes.Maqui = QStringLiteral("MAQ01");
    boxes.Produ = QStringLiteral("PROD-B");
    boxes.Forma = QStringLiteral("FRM02");
    boxes.Carac = QStringLiteral("TEMP");
    const struct {
        PickerTable table;
        const char* heading;
        std::vector<const char*> headers;
        std::vector<const char*> rows;
        int selected;
    } cases[] = {
        {PickerTable::USU,
         "Operador:",
         {"Clave", "Descripción"},
         {"ADMIN|Administrador", "JEFE|Jefe de calidad", "OPER01|Operador turno mañana",
          "OPER02|Operador turno tarde", "SUPER|Supervisor de planta"},
         2},
        {PickerTable::EXU,
         "Estaciones del operador OPER01: ",
         {"Clave", "Estación"},
         {"EST01|Estación de torneado", "EST02|Control final"},
         1},
        {PickerTable::MXE,
         "Máquinas de la estación EST02: ",
         {"Clave", "Máquina"},
         {"MAQ01|Torno CNC 1", "MAQ02|Prensa 2"},
         0},
        {PickerTable::PXM,
         "Productos de la máquina MAQ01: ",
         {"Clave", "Producto"},
         {"PROD-A|Eje de transmisión", "PROD-B|Buje de bronce"},
         1},
        {PickerTable::FXP,
         "Formatos del producto PROD-B: ",
         {"Clave", "Formato"},
         {"FRM01|Control dimensional", "FRM02|Peso y temperatura"},
         1},
        {PickerTable::CXF,
         "Características del formato FRM02:",
         {"Clave", "Posición", "Característica"},
         {"PESO|1|Peso (g)", "TEMP|2|Temperatura (°C)"},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(pickerCode(c.table).toStdString());
        const MasterPickers::Shown shown = m_pickers.focus(c.table, boxes, QStringLiteral("box"));
        EXPECT_EQ(shown.heading, QString::fromUtf8(c.heading));
        EXPECT_EQ(m_pickers.TablaActiva(), c.table);
        EXPECT_EQ(headers(), strings(c.headers));
        EXPECT_EQ(listed(), strings(c.rows));
        EXPECT_EQ(shown.selectedRow, c.selected);
    }
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(MasterPickersTest, APickFillsTheBoxWithThePaddedKeyAndTheDescription)
{
    PortBoxes boxes;
    boxes.Opera = QStringLiteral("OPER01");
    m_pickers.focus(PickerTable::EXU, boxes, QStringLiteral("txtEstac"));
    EXPECT_EQ(m_pickers.pickedText(0), QStringLiteral("EST01   : Estación de torneado"));
    // The product key column is 20 wide.
    boxes.Maqui = QStringLiteral("MAQ02");
    m_pickers.focus(PickerTable::PXM, boxes, QStringLiteral("txtProdu"));
    EXPECT_EQ(m_pickers.pickedText(0), QStringLiteral("PROD-A              : Eje de transmisión"));
    // The characteristic's position is shown but not copied.
    boxes.Forma = QStringLiteral("FRM01");
    m_pickers.focus(PickerTable::CXF, boxes, QStringLiteral("txtCarac"));
    EXPECT_EQ(m_pickers.pickedText(1), QStringLiteral("LARGO   : Largo (mm)"));
    EXPECT_EQ(m_pickers.pickedText(2), std::nullopt);
}

TEST_F(MasterPickersTest, TheSecondLanguageListsItsOwnDescriptions)
{
    m.Idioma = 2;
    PortBoxes boxes;
    boxes.Produ = QStringLiteral("PROD-B");
    const MasterPickers::Shown shown =
        m_pickers.focus(PickerTable::FXP, boxes, QStringLiteral("txtForma"));
    EXPECT_EQ(shown.heading, QStringLiteral("Formats of product PROD-B: "));
    EXPECT_EQ(headers(), QStringList({QStringLiteral("Key"), QStringLiteral("Format")}));
    EXPECT_EQ(listed(), QStringList({QStringLiteral("FRM01|Dimensional check"),
                                     QStringLiteral("FRM02|Weight and temperature")}));
    EXPECT_EQ(m_pickers.pickedText(1), QStringLiteral("FRM02   : Weight and temperature"));
}

TEST_F(MasterPickersTest, AKeyThatIsNotListedSelectsNoRow)
{
    PortBoxes boxes;
    // BAJA is an inactive user: never listed.
    boxes.Opera = QStringLiteral("BAJA");
    EXPECT_EQ(m_pickers.focus(PickerTable::USU, boxes, QStringLiteral("txtOpera")).selectedRow,
              std::nullopt);
    // A station that the new operator does not have.
    boxes.Opera = QStringLiteral("OPER02  : Operador turno tarde");
    boxes.Estac = QStringLiteral("EST01");
    const MasterPickers::Shown shown =
        m_pickers.focus(PickerTable::EXU, boxes, QStringLiteral("txtEstac"));
    EXPECT_EQ(listed(), QStringList({QStringLiteral("EST02|Control final")}));
    EXPECT_EQ(shown.selectedRow, std::nullopt);
    // An empty parent lists nothing.
    boxes.Opera.clear();
    EXPECT_EQ(m_pickers.focus(PickerTable::EXU, boxes, QStringLiteral("txtEstac")).selectedRow,
              std::nullopt);
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(MasterPickersTest, AParentKeyWithAnApostropheIsOnlyAKey)
{
    auto cn = EngineLayer::open(m.CadConexion);
    ASSERT_TRUE(cn.ok());
    ASSERT_TRUE(cn.value()
                    ->exec(QStringLiteral("insert into EXU (EXUUSUAR, EXUESTAC) values "
                                          "('O''NEIL', 'EST01')"))
                    .ok());
    PortBoxes boxes;
    boxes.Opera = QStringLiteral("O'NEIL");
    const MasterPickers::Shown shown =
        m_pickers.focus(PickerTable::EXU, boxes, QStringLiteral("txtEstac"));
    EXPECT_EQ(shown.heading, QStringLiteral("Estaciones del operador O'NEIL: "));
    EXPECT_EQ(listed(), QStringList({QStringLiteral("EST01|Estación de torneado")}));
    EXPECT_TRUE(ui.boxes.isEmpty());
}

TEST_F(MasterPickersTest, AFailedQueryLeavesTheGridEmptyAndIsReported)
{
    PortBoxes boxes;
    boxes.Opera = QStringLiteral("OPER01");
    m_pickers.focus(PickerTable::EXU, boxes, QStringLiteral("txtEstac"));
    ASSERT_FALSE(listed().isEmpty());
    {
        auto cn = EngineLayer::open(m.CadConexion);
        ASSERT_TRUE(cn.ok());
        ASSERT_TRUE(cn.value()->exec(QStringLiteral("drop table EXU")).ok());
    }
    m_pickers.focus(PickerTable::EXU, boxes, QStringLiteral("txtEstac"));
    EXPECT_TRUE(listed().isEmpty());
    ASSERT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(ui.boxes[0].type, Box::Type::MensaBox);
    EXPECT_TRUE(ui.boxes[0].text.startsWith(QStringLiteral("HtmlCanal. txtEstac_GotFocus.\n\n")))
        << ui.boxes[0].text.toStdString();
    EXPECT_EQ(m_pickers.pickedText(0), std::nullopt);
    // The other pickers still work.
    m_pickers.focus(PickerTable::USU, boxes, QStringLiteral("txtOpera"));
    EXPECT_EQ(listed().size(), 5);
}

TEST_F(MasterPickersTest, AnUnopenableDatabaseIsReportedOnceAPickerTakesTheFocus)
{
    m.CadConexion = jetConnectionString(m_dir.filePath(QStringLiteral("NoHay.MDB")), m.PassBD);
    m_pickers.focus(PickerTable::USU, PortBoxes{}, QStringLiteral("txtOpera"));
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(ui.boxes.size(), 1);
    EXPECT_EQ(m_pickers.pickedText(0), std::nullopt);
}

} // namespace
} // namespace telvar

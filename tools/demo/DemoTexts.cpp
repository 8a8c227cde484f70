#include "demo/DemoTexts.h"

#include <QMap>
#include <QStringList>
#include <algorithm>

namespace telvar::demo {

const std::vector<DemoMessage>& demoMessages()
{
    static const std::vector<DemoMessage> messages = {
        {0, 6, "Fecha y hora", "Date and time"},
        {0, 16, "Operador", "Operator"},
        {0, 17, "Estación", "Station"},
        {0, 18, "Máquina", "Machine"},
        {0, 19, "Producto", "Product"},
        {0, 20, "Formato", "Format"},
        {0, 21, "Característica", "Characteristic"},
        {0, 22, "Aceptar", "Accept"},
        {0, 75, "Telvar ya está en ejecución en este equipo.",
         "Telvar is already running on this computer."},
        {0, 81, "Escriba la contraseña de la base de datos:", "Type the database password:"},
        {2, 0, "Aceptar", "OK"},
        {2, 4, "Cancelar", "Cancel"},
        {2, 11, "Buscar...", "Browse..."},
        {4, 13, "Revise la instalación de los componentes de acceso a datos.",
         "Check the installation of the data access components."},
        {4, 16, "La base de datos es de sólo lectura. Quite ese atributo y vuelva a empezar.",
         "The database is read-only. Remove that attribute and start again."},
        {5, 6, "No se encuentra la base de datos.", "The database cannot be found."},
        {5, 7, "Corrija la ruta en el archivo", "Correct the path in the file"},
        {43, 13, "Base de datos de configuración", "Configuration database"},
        {43, 20, "Operador", "Operator"},
        {43, 21, "Estaciones del operador", "Stations of operator"},
        {43, 22, "Máquinas de la estación", "Machines of station"},
        {43, 23, "Productos de la máquina", "Products of machine"},
        {43, 24, "Formatos del producto", "Formats of product"},
        {43, 25, "Características del formato", "Characteristics of format"},
        {43, 26, "Puerto", "Port"},
        {43, 28, "Para salir escriba la contraseña de un configurador",
         "To exit, type a configurator's password"},
        {44, 8, "Clave", "Key"},
        {44, 9, "Descripción", "Description"},
        {44, 21, "Posición", "Position"},
        {76, 0, "Ruteador Html -> Qualitra", "Html Router -> Qualitra", "Ruteador Html -> Revisa",
         "Html Router -> Revisa"},
        {76, 1, "Puerto", "Port"},
        {76, 2, "Iniciar adquisición", "Start acquisition"},
        {76, 3, "Detener adquisición", "Stop acquisition"},
        {76, 4, "Configurar puerto", "Configure port"},
        {76, 5, "Configuración", "Configuration"},
        {76, 6, "Lecturas", "Readings"},
        {76, 7, "Puerto", "Port"},
        {76, 8, "Leer ahora el reloj", "Poll now clock"},
        {76, 9, "no existe el directorio", "directory not found"},
        {76, 10, "no existe el archivo", "file not found"},
        {76, 11, "Leyendo", "Reading"},
        {76, 12, "Grabado", "Recorded"},
        {76, 13, "Puerto", "Port"},
        {76, 14, "Descripción", "Description"},
        {76, 15, "Página web", "Web page"},
        {76, 16, "Identificador", "Identifier"},
        {76, 17, "Estación", "Station"},
        {76, 18, "Máquina", "Machine"},
        {76, 19, "Producto", "Product"},
        {76, 20, "Formato", "Format"},
        {76, 21, "Caract.", "Charact."},
        {76, 22, "Operador", "Operator"},
        {76, 23, "Reloj", "Clock"},
        {76, 24, "Minutos", "Minutes"},
        {76, 25, "Inicio", "Start"},
        {76, 26, "Long.", "Length"},
        {76, 27, "Fuera de límites", "Out of limits"},
        {76, 28, "Lectura", "Reading"},
    };
    return messages;
}

namespace {

// Characters 1 to 8 of every line: the message number, the product tag in
// characters 4 and 5, the language code, a blank. Only the tag is read.
QString prefix(int number, const char* tag, const char* language)
{
    return QStringLiteral("%1%2%3 ")
        .arg(number % 1000, 3, 10, QLatin1Char('0'))
        .arg(QLatin1String(tag), QLatin1String(language));
}

void appendGroup(QStringList& lines, int number, const char* tag, const char* spanish,
                 const char* english)
{
    lines << prefix(number, tag, "ES") + QString::fromUtf8(spanish);
    lines << prefix(number, tag, "EN") + QString::fromUtf8(english);
}

} // namespace

QString languageFileText(int language)
{
    QMap<int, QMap<int, const DemoMessage*>> bySection;
    int maxNumber = 0;
    for (const DemoMessage& message : demoMessages()) {
        bySection[message.section][message.number] = &message;
        maxNumber = std::max(maxNumber, message.number);
    }
    const int maxSection = bySection.lastKey();

    QStringList lines;
    lines << QString::number(language) << QString::number(maxSection) << QString::number(maxNumber)
          << QStringLiteral("2");
    for (int section = 0; section <= maxSection; ++section) {
        lines << QStringLiteral("%1 Sección %1").arg(section);
        const auto messages = bySection.value(section);
        if (!messages.isEmpty()) {
            // Message numbers are positions, so unused numbers below the last
            // used one are filled with empty groups.
            for (int number = 0; number <= messages.lastKey(); ++number) {
                const DemoMessage* message = messages.value(number, nullptr);
                if (!message) {
                    appendGroup(lines, number, "QL", "", "");
                    continue;
                }
                appendGroup(lines, number, "QL", message->spanish, message->english);
                if (message->replacementSpanish)
                    appendGroup(lines, number, "RV", message->replacementSpanish,
                                message->replacementEnglish);
            }
        }
        lines << QStringLiteral("END");
    }
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

} // namespace telvar::demo

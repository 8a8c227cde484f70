#include "common/OwnTexts.h"

#include <array>
#include <utility>

namespace telvar {

namespace {

struct Texts {
    OwnText id;
    const char* spanish;
    const char* english;
};

// UTF-8 text, in the order of OwnText.
constexpr Texts kTexts[] = {
    {OwnText::PreviewTitle, "Lo que lee este puerto", "What this port reads"},
    {OwnText::PreviewReadAgain, "Leer la página otra vez", "Read the page again"},
    {OwnText::PreviewNoPage, "No hay página que leer", "No web page to read"},
    {OwnText::PreviewReading, "Leyendo %1 ...", "Reading %1 ..."},
    {OwnText::PreviewPageRead, "Página leída: %1 caracteres, estado HTTP %2",
     "Page read: %1 characters, HTTP status %2"},
    {OwnText::PreviewPageCut, "Solo se leyeron los primeros %1 caracteres de la página: %2",
     "Only the first %1 characters of the page were read: %2"},
    {OwnText::PreviewTimedOut, "La página no respondió a tiempo: el puerto no leería nada",
     "The page did not answer in time: the port would read nothing"},
    {OwnText::PreviewUnreachable, "No se puede llegar a la página: el puerto no leería nada",
     "The page cannot be reached: the port would read nothing"},
    {OwnText::PreviewUnreadable, "No se puede leer la página: ", "The page cannot be read: "},
    {OwnText::PreviewBadCut, "El inicio y la longitud deben ser números de -32768 a 32767",
     "The start and the length must be numbers from -32768 to 32767"},
    {OwnText::PreviewCannotCut, "No se puede cortar la lectura: ", "The reading cannot be cut: "},
    {OwnText::PreviewBlank, "El corte está en blanco: no se grabaría nada",
     "The cut is blank: nothing would be recorded"},
    {OwnText::PreviewReadingValue, "Lectura: %1   (valor %2)", "Reading: %1   (value %2)"},
    {OwnText::PickerRowCap, " (solo las primeras %1 filas)", " (only the first %1 rows)"},
    {OwnText::FetchPageTip, "Traer la página del puerto elegido",
     "Fetch the page of the selected port"},
    {OwnText::ResendButton, "Enviar otra vez", "Send again"},
    {OwnText::ResendTip,
     "Grabar otra vez las lecturas de la lista, una vez corregida su causa (un archivo de "
     "datos, una tabla o una columna que faltaba)",
     "Record the listed readings again, once their cause (a missing data file, table or "
     "column) is mended"},
    {OwnText::OutboxStatus, "Bandeja de salida: %1 en espera, %2 en cuarentena",
     "Outbox: %1 waiting, %2 in quarantine"},
    {OwnText::OutboxNotOpen, "No se puede abrir la bandeja de salida: las lecturas no se graban",
     "Outbox cannot be opened: readings are not recorded"},
    {OwnText::OutboxFullMark, " - LLENA: las lecturas nuevas no se guardan",
     " - FULL: new readings are not kept"},
    {OwnText::TablesFailing, " - %1 tabla(s) de datos fallando", " - %1 data table(s) failing"},
    {OwnText::LogUnwritableMark, " - el registro de lecturas no grabadas no se puede escribir",
     " - the log of unrecorded readings cannot be written"},
    {OwnText::FailingSince, "%1 desde %2: %3", "%1 since %2: %3"},
    {OwnText::QuarantineReadAt, "Leída", "Read at"},
    {OwnText::QuarantinePort, "Puerto", "Port"},
    {OwnText::QuarantineTable, "Tabla de datos", "Data table"},
    {OwnText::QuarantineCharacteristic, "Característica", "Characteristic"},
    {OwnText::QuarantineValue, "Valor", "Value"},
    {OwnText::QuarantineReason, "Motivo", "Reason"},
    {OwnText::TableFailing,
     "%1: no se puede escribir ahora; sus lecturas esperan en la bandeja "
     "de salida (%2)",
     "%1: cannot be written now; its readings wait in the outbox (%2)"},
    {OwnText::TableBack, "%1: se escribe otra vez; %2 lecturas grabadas con retraso",
     "%1: written again; %2 readings recorded late"},
    {OwnText::OutboxCannotOpenBox,
     "La bandeja de salida %1 no se puede abrir: las lecturas no "
     "se graban.",
     "The outbox %1 cannot be opened: readings are not recorded."},
    {OwnText::OutboxCannotOpenCause, "la bandeja de salida no se puede abrir",
     "the outbox cannot be opened"},
    {OwnText::OutboxFullCause, "la bandeja de salida está llena (%1 lecturas)",
     "the outbox is full (%1 readings)"},
    {OwnText::OutboxFullBox,
     "%1: %2. Las lecturas nuevas no se guardan hasta que las tablas de "
     "datos tomen las que esperan.",
     "%1: %2. New readings are not kept until the data tables take the waiting ones."},
    {OwnText::LogUnwritableBox,
     "No se puede escribir ni %1 ni %2: las lecturas que no se graban "
     "solo quedan en el cuadro del registro.",
     "Neither %1 nor %2 can be written: readings that are not recorded are only listed in the "
     "log box."},
    {OwnText::OutboxFailing,
     "la bandeja de salida no toma lecturas ahora; esperan en memoria y se vuelve a probar (%1)",
     "the outbox takes no readings now; they wait in memory and it is tried again (%1)"},
    {OwnText::OutboxBack, "%1: la bandeja de salida toma lecturas otra vez",
     "%1: the outbox takes readings again"},
    {OwnText::OutboxSetAsideBox,
     "La bandeja de salida %1 estaba dañada. Se ha apartado como %2 (no se borra) y se ha "
     "hecho una nueva con lo que se pudo leer de ella: %3 lecturas en espera y %4 en "
     "cuarentena.",
     "The outbox %1 was damaged. It has been set aside as %2 (it is not deleted) and a new one "
     "made with what could be read of it: %3 readings waiting and %4 in quarantine."},
    {OwnText::OutboxSalvageIncomplete, "No todo se pudo leer: %1",
     "Not all of it could be read: %1"},
    {OwnText::OutboxHeldBox,
     "%1: la bandeja de salida no puede tomar más lecturas ahora (%2). Las lecturas nuevas no "
     "se guardan hasta que la bandeja vuelva a funcionar.",
     "%1: the outbox cannot take more readings now (%2). New readings are not kept until it "
     "works again."},
    {OwnText::OutboxEndedCause,
     "el programa terminó antes de que la bandeja de salida pudiera guardarla",
     "the program ended before the outbox could keep it"},
    {OwnText::OutboxInUseBox, "%1 La adquisición no se inicia.",
     "%1 The acquisition does not start."},
    {OwnText::OutboxUnguarded,
     "%1: el sistema de archivos no ofrece bloqueos; otro router en la misma instalación no se "
     "detendría",
     "%1: the file system offers no locks; another router on the same installation would not be "
     "stopped"},
    {OwnText::StatusColumn, "Estado", "Status"},
    {OwnText::PortStateOk, "Bien", "OK"},
    {OwnText::PortStateLate, "Atrasado", "Late"},
    {OwnText::PortStateFailing, "Fallando", "Failing"},
    {OwnText::PortStateStopped, "Detenido", "Stopped"},
    {OwnText::StatusPortClock, "Puerto %1, reloj %2 (cada %3 min)",
     "Port %1, clock %2 (every %3 min)"},
    {OwnText::StatusPortButtonClock, "Puerto %1, reloj %2 (solo con su botón)",
     "Port %1, clock %2 (by its button only)"},
    {OwnText::StatusPortNoClock, "Puerto %1, sin reloj", "Port %1, no clock"},
    {OwnText::StatusState, "Estado: %1", "Status: %1"},
    {OwnText::StatusNotAcquiring, "la adquisición está detenida", "the acquisition is stopped"},
    {OwnText::StatusLateFor, "sin lectura desde hace más de %1 min",
     "no reading for more than %1 min"},
    {OwnText::StatusLastReading, "Última lectura: %1 (%2)", "Last reading: %1 (%2)"},
    {OwnText::StatusNoReading, "Ninguna lectura todavía", "No reading yet"},
    {OwnText::StatusLastSuccess, "Último éxito: %1", "Last success: %1"},
    {OwnText::StatusFailuresInARow, "Fallos seguidos: %1", "Failures in a row: %1"},
    {OwnText::StatusLastFailure, "Último fallo: %1: %2", "Last failure: %1: %2"},
    {OwnText::StatusRecordedToday, "Grabadas hoy: %1", "Recorded today: %1"},
    {OwnText::PortPageTimedOut, "la página no llegó a tiempo", "the page did not arrive in time"},
    {OwnText::PortStationSilent, "la estación no responde", "the station does not answer"},
    {OwnText::PortBlankReading, "la lectura está en blanco", "the reading is blank"},
    {OwnText::SettingUnreadable, "%1 no se puede leer: %2", "%1 cannot be read: %2"},
    {OwnText::SettingTooLarge, "%1 tiene más de %2 bytes", "%1 is larger than %2 bytes"},
    {OwnText::SettingNotKeyValue, "%1, línea %2: se esperaba nombre=valor",
     "%1, line %2: name=value was expected"},
    {OwnText::SettingBadPort,
     "%1, línea %2: el puerto \"%3\" no es un número de 1 a 65535 (0 o nada lo apaga)",
     "%1, line %2: the port \"%3\" is not a number from 1 to 65535 (0 or nothing means off)"},
    {OwnText::SettingPortTwice, "%1, línea %2: el puerto ya se dio en la línea %3",
     "%1, line %2: the port was given already on line %3"},
    {OwnText::StatusServerStaysOff, "El servidor de estado queda apagado.",
     "The status server stays off."},
    {OwnText::StatusServerCannotListen,
     "El servidor de estado no puede escuchar en 127.0.0.1:%1: %2. La adquisición sigue; el "
     "estado se escribe en %3.",
     "The status server cannot listen on 127.0.0.1:%1: %2. The acquisition goes on; the status "
     "is written to %3."},
    {OwnText::StatusFileUnwritable, "El archivo de estado %1 no se puede escribir: %2",
     "The status file %1 cannot be written: %2"},
};

} // namespace

QString ownText(OwnText text, int idioma)
{
    for (const Texts& t : kTexts) {
        if (t.id == text)
            return QString::fromUtf8(idioma == 2 ? t.english : t.spanish);
    }
    return {};
}

} // namespace telvar

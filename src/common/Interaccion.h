#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace telvar {

// Message-box kinds by their classic icon numbers (also the timed box's
// Icono values; Plain shows no icon).
enum class BoxKind { Plain = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };

// How an input box shows what is typed: as it is, or masked (a password).
enum class InputEcho { Normal, Password };

// The screen's mouse pointer by its classic numbers.
enum class PointerShape { Default = 0, Hourglass = 11, ArrowHourglass = 13 };

// A colour as the classic RGB function gives it: red + 256 * green + 65536 * blue.
constexpr qint32 RGB(int red, int green, int blue)
{
    return red + 256 * green + 65536 * blue;
}

// The properties of the list picker, as the caller fills them before showing it.
struct ListPickerRequest {
    QString Title;
    QString Lista; // lines, each ended by a line feed
    bool OmitCancel = false;
    double XPos = 0; // twips; 0 centres
    double YPos = 0;
    double Altura = 0; // twips; used only above the design height
    qint32 ColorFondo = RGB(255, 255, 255);
};

// Everything core code needs from a person: boxes, a typed answer, a choice
// from a list and the busy pointer. The GUI implements it with dialogs; tests
// implement it with a recording fake. Every call but notice is modal: it
// returns once the person has answered (or the box has closed itself).
class Interaccion {
public:
    virtual ~Interaccion() = default;

    // A plain message box carrying the application's title.
    virtual void messageBox(const QString& text, BoxKind kind) = 0;
    // The timed message box with the icon of its kind (Plain: none),
    // duracion in seconds (0 or less: no count-down).
    virtual void mensaBox(const QString& mensaje, BoxKind icono, double duracion) = 0;
    // The timed message box, shown without waiting for it: the caller goes
    // on at once and the window under the box keeps taking presses (the
    // acquisition's reports, which must neither hold the polling nor keep
    // a person from pressing Stop). A notice that comes while an earlier
    // one is still shown joins it in the same box, whose count-down starts
    // again. Implementations whose mensaBox never waits for a person (a
    // log, a recording) may keep this default; one with a screen must not.
    virtual void notice(const QString& text, BoxKind kind, double seconds)
    {
        mensaBox(text, kind, seconds);
    }
    // A Yes/No question box (question icon, No the default button) carrying
    // the application's title; true when the person answers Yes.
    virtual bool questionBox(const QString& question) = 0;
    // An input box; std::nullopt when the person cancels.
    virtual std::optional<QString> inputBox(const QString& prompt,
                                            InputEcho echo = InputEcho::Normal) = 0;
    // The list picker; returns its Resultado ("" after Cancel or the close box).
    virtual QString superListBox(const ListPickerRequest& request) = 0;
    // The screen's mouse pointer.
    virtual void setMousePointer(PointerShape pointer) = 0;
    // One beep of the computer.
    virtual void beep() = 0;
};

} // namespace telvar

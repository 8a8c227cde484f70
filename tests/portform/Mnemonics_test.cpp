// The keyboard mnemonics of a window's captions: one each, none shared.
#include "portform/Mnemonics.h"

#include <gtest/gtest.h>

namespace telvar {
namespace {

TEST(Mnemonics, EachCaptionGetsAFreeCharacter)
{
    const struct {
        const char* why;
        std::vector<const char*> captions;
        std::vector<const char*> expected;
    } cases[] = {
        {"first letters of words first",
         {"Aceptar", "Cancelar", "Descripción:", "Página web:", "Identificador:", "Inicio:"},
         {"&Aceptar", "&Cancelar", "&Descripción:", "&Página web:", "&Identificador:", "I&nicio:"}},
        {"a later word's first letter before an inner letter",
         {"Leer", "la página otra vez"},
         {"&Leer", "la &página otra vez"}},
        {"letters compare without case", {"Operador", "operación"}, {"&Operador", "o&peración"}},
        {"a caption's own mark is kept",
         {"Aceptar", "&Grabar", "Guardar"},
         {"&Aceptar", "&Grabar", "G&uardar"}},
        {"an own mark on a taken letter gives way",
         {"&Salir", "&Siguiente"},
         {"&Salir", "S&iguiente"}},
        {"plain letters before accented ones", {"Año", "Ñu"}, {"&Año", "Ñ&u"}},
        {"an accented letter when nothing else is free", {"a", "á"}, {"&a", "&á"}},
        {"nothing free: no mnemonic", {"Ab", "ba", "AB"}, {"&Ab", "&ba", "AB"}},
        {"a plain '&' stays a plain '&'",
         {"P && ID:", "A & B", "Fin&"},
         {"&P && ID:", "&A && B", "&Fin&&"}},
        {"digits serve", {"1 2", "12"}, {"&1 2", "1&2"}},
        {"no letter at all", {":", ""}, {":", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        QStringList captions;
        for (const char* caption : c.captions)
            captions.append(QString::fromUtf8(caption));
        QStringList expected;
        for (const char* caption : c.expected)
            expected.append(QString::fromUtf8(caption));
        const QStringList marked = withMnemonics(captions);
        EXPECT_EQ(marked, expected);
        // Marking changes nothing of what the captions show.
        for (qsizetype i = 0; i < marked.size(); ++i)
            EXPECT_EQ(withoutMnemonic(marked[i]), withoutMnemonic(captions[i]));
    }
}

TEST(Mnemonics, TheMarkedCharacterIsRead)
{
    const struct {
        const char* caption;
        char16_t mnemonic; // 0: none
        const char* shows;
    } cases[] = {
        {"&Grabar", u'g', "Grabar"}, {"Ca&ncelar", u'n', "Cancelar"}, {"P && ID", 0, "P & ID"},
        {"Fin&", 0, "Fin&"},         {"A & B", 0, "A & B"},           {"Sin marca", 0, "Sin marca"},
        {"&Ñu", u'ñ', "Ñu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_EQ(mnemonicOf(QString::fromUtf8(c.caption)), QChar(c.mnemonic));
        EXPECT_EQ(withoutMnemonic(QString::fromUtf8(c.caption)), QString::fromUtf8(c.shows));
    }
}

} // namespace
} // namespace telvar

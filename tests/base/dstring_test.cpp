#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/dstring.h"
#include "base/vectores.h"

namespace {

std::vector<std::string> Split(const char* text, const char* seps, int max, bool empties) {
    DString s(text);
    Vector<DString> parts(10, 10);
    EXPECT_TRUE(s.Divide(seps, parts, max, empties));
    std::vector<std::string> out;
    for (int i = parts.Base(); i < parts.Base() + parts.Numero(); ++i) out.push_back(parts.Elemento(i).Texto());
    return out;
}

TEST(DString, EmptyStringBehavesAsEmptyText) {
    DString s;
    EXPECT_EQ(s.Longitud(), 0);
    EXPECT_TRUE(s.EsVacia());
    EXPECT_STREQ(s.Texto(), "");
    EXPECT_EQ(s.Caracter(0), 0);
    EXPECT_EQ(s.Entero(), 0);
    EXPECT_EQ(s.Compara(nullptr), 0);
    EXPECT_EQ(s.Compara(""), 0);
    EXPECT_EQ(s.Compara("a"), 1);
    EXPECT_EQ(s.BuscaCaracter('x'), -1);
    EXPECT_EQ(s.BuscaCaracter(0), 0);
    EXPECT_EQ(s.BuscaTexto(""), -1);
    s.AnadeReal(1.04);
    EXPECT_STREQ(s.Texto(), "1.0");
}

TEST(DString, BlockLayoutIsSharedWithTheHost) {
    DString s;
    s.Asigna("abcde");
    const char* p = s.Texto();
    int32_t cap, reservado;
    std::memcpy(&cap, p - 8, 4);
    std::memcpy(&reservado, p - 4, 4);
    EXPECT_EQ(cap, 18);
    EXPECT_EQ(reservado, -1);
    EXPECT_EQ(static_cast<signed char>(p[-9]), 1);
    s.PonDecimales(8);
    EXPECT_EQ(static_cast<signed char>(s.Texto()[-9]), 8);
    // Growing keeps decimales and reservado.
    s.Anade("a fairly long text that forces the block to grow");
    std::memcpy(&reservado, s.Texto() - 4, 4);
    EXPECT_EQ(reservado, -1);
    EXPECT_EQ(s.Decimales(), 8);
}

TEST(DString, GrowthRule) {
    DString s;
    s.Reserva(0);
    EXPECT_EQ(s.Capacidad(), 13);
    s.Asigna("12345678901");
    EXPECT_EQ(s.Capacidad(), 13);
    s.Asigna("123456789012");
    EXPECT_EQ(s.Capacidad(), 29);
    s.Asigna(std::string(28, 'x').c_str());
    EXPECT_EQ(s.Capacidad(), 50);
    s.Asigna("short");
    EXPECT_EQ(s.Capacidad(), 50) << "storage never shrinks";
}

TEST(DString, RealNumbersFollowTheDecimalsSetting) {
    DString s;
    s.PonDecimales(8);
    s.AnadeReal(-3.5);
    EXPECT_STREQ(s.Texto(), "-3.50000000");
    s.Asigna("");
    s.PonDecimales(-1);
    s.AnadeReal(-3.5);
    EXPECT_STREQ(s.Texto(), "-3.500000");
    DString never("x=");
    never.AnadeReal(3.14159);
    EXPECT_STREQ(never.Texto(), "x=3.1");
    s.Asigna("");
    s.PonDecimales(8);
    s.AnadeReal(6.2720658).AnadeCaracter(',').AnadeReal(-178.0);
    EXPECT_STREQ(s.Texto(), "6.27206580,-178.00000000");
}

TEST(DString, CopiesNeverTakeOverDecimals) {
    DString a("v");
    a.PonDecimales(8);
    DString copy(a);
    copy.AnadeReal(2.0);
    EXPECT_STREQ(copy.Texto(), "v2.0");
    DString target;
    target.PonDecimales(3);
    target = a;
    target.AnadeReal(2.0);
    EXPECT_STREQ(target.Texto(), "v2.000");
}

TEST(DString, IntegersAndFormatting) {
    DString s;
    s.AnadeEntero(-42).AnadeCaracter(' ').AnadeSinSigno(4294967295u).AnadeCaracter(0);
    EXPECT_STREQ(s.Texto(), "-42 4294967295");
    EXPECT_EQ(s.Formatea("%d Kb / %d Kb transferred", 12, 0), 24);
    EXPECT_STREQ(s.Texto(), "12 Kb / 0 Kb transferred");
    EXPECT_EQ(DString(" 12abc").Entero(), 12);
    EXPECT_EQ(DString("abc").Entero(), 0);
    EXPECT_EQ(DString("1000xyz").Entero(), 1000);
    EXPECT_EQ(DString("1001\r").Entero(), 1001);
    EXPECT_EQ(DString("-7").Entero(), -7);
    EXPECT_EQ(DString("99999999999").Entero(), 2147483647L) << "saturates instead of wrapping";
}

TEST(DString, FormattingNeverOverrunsItsBuffer) {
    std::string big(20000, 'q');
    DString s;
    int r = s.Formatea("%s", big.c_str());
    EXPECT_EQ(r, 9999);
    EXPECT_EQ(s.Longitud(), 9999);
    EXPECT_EQ(std::string(s.Texto()), big.substr(0, 9999));
}

TEST(DString, AssignAppendAndAliasing) {
    DString s("hello");
    s.Anade(s);
    EXPECT_STREQ(s.Texto(), "hellohello");
    s.Anade(s.Texto() + 5);
    EXPECT_STREQ(s.Texto(), "hellohellohello");
    s.Asigna(s.Texto() + 10);
    EXPECT_STREQ(s.Texto(), "hello");
    s.Asigna(static_cast<const char*>(nullptr));
    EXPECT_TRUE(s.EsVacia());
    EXPECT_GT(s.Capacidad(), 0) << "storage remains";
    s.AsignaPrimeros("abcdef", 3);
    EXPECT_STREQ(s.Texto(), "abc");
    s.AsignaPrimeros("ab", 5);
    EXPECT_STREQ(s.Texto(), "ab");
    s.Anade(static_cast<const char*>(nullptr));
    EXPECT_STREQ(s.Texto(), "ab");
}

TEST(DString, EditingInPlace) {
    DString s("  key = Value\t ");
    s.Recorta();
    EXPECT_STREQ(s.Texto(), "key = Value\t");
    s.Mayusculas();
    EXPECT_STREQ(s.Texto(), "KEY = VALUE\t");
    DString blanks("   ");
    blanks.Recorta();
    EXPECT_STREQ(blanks.Texto(), "");
    DString tab("\tx\r");
    tab.Recorta();
    EXPECT_STREQ(tab.Texto(), "\tx\r");
    DString accents("a\xF1z");
    accents.Mayusculas();
    EXPECT_STREQ(accents.Texto(), "A\xF1Z") << "only a to z change";
}

TEST(DString, ReplaceRestartsFromTheBeginning) {
    DString s("aaaa");
    EXPECT_EQ(s.Reemplaza("aa", "a", false), 3);
    EXPECT_STREQ(s.Texto(), "a");
    DString w("cat concat cat_x cat");
    EXPECT_EQ(w.Reemplaza("cat", "dog", true), 2);
    EXPECT_STREQ(w.Texto(), "dog concat cat_x dog");
    DString grow("a-b");
    EXPECT_EQ(grow.Reemplaza("-", "--", false), 1) << "a replacement containing its search text ends";
    EXPECT_STREQ(grow.Texto(), "a--b");
    DString none("abc");
    EXPECT_EQ(none.Reemplaza("", "x", false), 0);
    // Each replacement rebuilds the search text with its neighbours: the
    // work stops at the text's length plus one instead of growing for ever.
    DString endless("aab");
    EXPECT_EQ(endless.Reemplaza("ab", "bbaa", false), 4);
    // Pairs of equal length may need more passes than the text is long.
    DString sort("aaabbb");
    EXPECT_EQ(sort.Reemplaza("ab", "ba", false), 9);
    EXPECT_STREQ(sort.Texto(), "bbbaaa");
}

TEST(DString, Searching) {
    DString s("abcabc");
    EXPECT_EQ(s.BuscaCaracter('c'), 2);
    EXPECT_EQ(s.BuscaUltimoCaracter('c'), 5);
    EXPECT_EQ(s.BuscaCaracter(0), 6);
    EXPECT_EQ(s.BuscaTexto("ca"), 2);
    EXPECT_EQ(s.BuscaTexto(""), 0);
    EXPECT_EQ(s.BuscaDesde("abc", 1, false, false), 3);
    EXPECT_EQ(s.BuscaDesde("ABC", 1, false, true), 3);
    EXPECT_EQ(s.BuscaDesde("abc", 7, false, false), -1) << "a start past the end finds nothing";
    EXPECT_EQ(s.BuscaDesde(nullptr, 0, false, false), -1);
    DString words("foo bar_foo foo");
    EXPECT_EQ(words.BuscaDesde("foo", 1, true, false), 12);
}

TEST(DString, NextDatum) {
    EXPECT_EQ(DString("abc  def").SiguienteDato(" \t\n"), 5);
    EXPECT_EQ(DString("\"a b\" c").SiguienteDato(" "), 6);
    EXPECT_EQ(DString("abc").SiguienteDato(" "), -1);
    EXPECT_EQ(DString("abc   ").SiguienteDato(" "), -1);
    EXPECT_EQ(DString().SiguienteDato(" "), -1);
}

TEST(DString, Divide) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("a,,b,", ",", -1, false), (V{"a", "b"}));
    EXPECT_EQ(Split("a,,b,", ",", -1, true), (V{"a", "", "b"}));
    EXPECT_EQ(Split(",a", ",", -1, false), (V{",a"}));
    EXPECT_EQ(Split(",a", ",", -1, true), (V{"", "a"}));
    EXPECT_EQ(Split("a=b=c", "=", 2, false), (V{"a", "b=c"}));
    EXPECT_EQ(Split("a=b=c", "=", 1, false), (V{"a=b=c"}));
    EXPECT_EQ(Split("", ",", -1, false), V{});
    EXPECT_EQ(Split("VERSION=1\r\nIDMAPA=1001\r\n", "\n", -1, false), (V{"VERSION=1\r", "IDMAPA=1001\r"}));
    EXPECT_EQ(Split("\nIDMAPA=1001", "\n", -1, false), (V{"\nIDMAPA=1001"}));
}

TEST(DString, DivideWithZeroLimitRaisesPositionError) {
    DString s("a,b");
    Vector<DString> parts(10, 10);
    try {
        s.Divide(",", parts, 0, false);
        FAIL() << "expected a container error";
    } catch (const TXErrorVectoresRW& e) {
        EXPECT_EQ(e.codigo, 7);
    }
}

TEST(DString, KeyValue) {
    DString k("old"), v("old");
    EXPECT_FALSE(DString("=x").ClaveValor(k, v));
    EXPECT_FALSE(DString("abc").ClaveValor(k, v));
    EXPECT_STREQ(k.Texto(), "old");
    EXPECT_TRUE(DString("K=").ClaveValor(k, v));
    EXPECT_STREQ(k.Texto(), "K");
    EXPECT_STREQ(v.Texto(), "");
    EXPECT_TRUE(DString("A=B=C").ClaveValor(k, v));
    EXPECT_STREQ(k.Texto(), "A");
    EXPECT_STREQ(v.Texto(), "B=C");
}

TEST(DString, CellsAndSpace) {
    DString s;
    char* area = s.Espacio(100);
    std::memset(area, 'z', 100);
    area[100] = 0;
    EXPECT_EQ(s.Longitud(), 100);
    *s.Celda(3) = 'A';
    EXPECT_EQ(s.Caracter(3), 'A');
    s.Corta(2);
    EXPECT_STREQ(s.Texto(), "zz");
}

}  // namespace

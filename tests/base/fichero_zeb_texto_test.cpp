// TFicheroZEB's text modes (base/fichero_zeb_texto.cpp).
#include <gtest/gtest.h>

#include <string>

#include "base/fichero_zeb.h"
#include "support/test_support.h"

using namespace testing_support;

TEST(FileText, ItemsCommentsVoidAndLineNumbers) {
    WriteFile("items.txt", ";comment\n\n  key  value  ;note\nVOID\r\n\tlast\r\rafter cr");
    TFicheroZEB f;
    ASSERT_TRUE(f.Abre(TStringNomFitx("items.txt"), F_LECTURA | F_TEXTO));
    DString item;
    EXPECT_EQ(2, f.get_linea_texto(item));
    EXPECT_STREQ("key  value", item.Texto());
    EXPECT_EQ(3, f.get_linea_texto(item));
    EXPECT_STREQ("", item.Texto());
    EXPECT_EQ(4, f.get_linea_texto(item));  // CR LF counted once
    EXPECT_STREQ("last", item.Texto());
    EXPECT_EQ(6, f.get_linea_texto(item));  // two lone CRs are two lines
    EXPECT_STREQ("after cr", item.Texto());
    f.get_linea_texto(item);
    EXPECT_STREQ("", item.Texto());
    EXPECT_TRUE(f.Fin());
}

TEST(FileText, DataSplitOnSeparatorsAndQuotesAndHeaders) {
    WriteFile("data.dat", "42 abc  def \"a b\" tail\nnext\n");
    TFicheroZEB f;
    ASSERT_TRUE(f.Abre(TStringNomFitx("data.dat"), F_LECTURA | F_TEXTO | F_CABECERA));
    EXPECT_EQ(42, f.Cabecera());
    DString d;
    f.get_dato_texto(d);
    EXPECT_STREQ("abc  ", d.Texto());  // keeps the separators that follow it
    f.get_dato_texto(d);
    EXPECT_STREQ("def ", d.Texto());
    f.get_dato_texto(d);
    EXPECT_STREQ("\"a b\" ", d.Texto());
    f.get_dato_texto(d);
    EXPECT_STREQ("tail", d.Texto());
    EXPECT_EQ(1, f.get_linea_texto(d));  // "next" is on line 1
    EXPECT_STREQ("next", d.Texto());
    f.Cierra();

    WriteFile("header.bin", std::string("\x10\x27\x00\x00rest", 8));
    ASSERT_TRUE(f.Abre(TStringNomFitx("header.bin"), F_LECTURA | F_BINARIO | F_CABECERA));
    EXPECT_EQ(10000, f.Cabecera());
    EXPECT_EQ('r', f.SiguienteCaracter());
    f.Devuelve("XY");
    EXPECT_EQ('X', f.SiguienteCaracter());
    EXPECT_EQ('Y', f.SiguienteCaracter());
    EXPECT_EQ('e', f.SiguienteCaracter());
}

TEST(FileText, OverlongItemsAreCutNotOverrun) {
    std::string line(25000, 'x');
    WriteFile("long.txt", line + "\nshort\n");
    TFicheroZEB f;
    ASSERT_TRUE(f.Abre(TStringNomFitx("long.txt"), F_LECTURA | F_TEXTO));
    DString item;
    f.get_linea_texto(item);
    EXPECT_EQ(19999, item.Longitud());
    DString fresh;
    EXPECT_EQ(1, f.get_linea_texto(fresh));
    EXPECT_STREQ("short", fresh.Texto());
    EXPECT_LT(fresh.Capacidad(), 100) << "an item holds a block of its own size";
}


#include <gtest/gtest.h>

#include "base/dstring.h"
#include "base/vector_2d.h"
#include "base/vectores.h"

namespace {

int CodeOf(void (*f)()) {
    try {
        f();
    } catch (const TXErrorVectoresRW& e) {
        return e.codigo;
    }
    return 0;
}

struct Counted {
    static int alive;
    int value = 0;
    Counted() { ++alive; }
    Counted(const Counted& o) : value(o.value) { ++alive; }
    Counted& operator=(const Counted& o) {
        value = o.value;
        return *this;
    }
    ~Counted() { --alive; }
};
int Counted::alive = 0;

TEST(Vector, GrowthKeepsElementAddresses) {
    Vector<DString> v(10, 10);
    DString* first = nullptr;
    for (int i = 0; i < 10; ++i) {
        DString* e = v.AnadeNuevo();
        e->AnadeEntero(i);
        if (i == 0) first = e;
    }
    EXPECT_EQ(v.Capacidad(), 10);
    v.AnadeNuevo();
    EXPECT_EQ(v.Capacidad(), 23);
    EXPECT_EQ(&v.Elemento(0), first);
    EXPECT_STREQ(v.Elemento(9).Texto(), "9");
    EXPECT_EQ(v.Numero(), 11);
}

TEST(Vector, ErrorCodes) {
    EXPECT_EQ(CodeOf([] {
                  Vector<int> v(2, 0);
                  int x = 1;
                  v.Anade(&x);
                  v.Anade(&x);
                  try {
                      v.Anade(&x);
                  } catch (const TXErrorVectoresRW&) {
                      // The failed insertion leaves the container as it was.
                      EXPECT_EQ(v.Numero(), 2);
                      EXPECT_FALSE(v.Existe(2));
                      throw;
                  }
              }),
              6);
    EXPECT_EQ(CodeOf([] {
                  Vector<int> v(10, 10);
                  int x = 1;
                  v.Anade(&x);
                  v.Elemento(v.Numero());
              }),
              7);
    EXPECT_EQ(CodeOf([] {
                  Vector<int> v(10, 10);
                  v.Elemento(-1);
              }),
              7);
    EXPECT_EQ(CodeOf([] {
                  Vector<int> v(10, 10);
                  v.Anade(nullptr);
              }),
              16);
    EXPECT_EQ(CodeOf([] { CompruebaMemoria(nullptr); }), 15);
    // A negative growth step forbids growth like 0, instead of an array
    // smaller than the count.
    EXPECT_EQ(CodeOf([] {
                  Vector<int> v(1, -5);
                  int x = 1;
                  v.Anade(&x);
                  v.Anade(&x);
              }),
              6);
}

TEST(Vector, InsertionOrderAndIndependentCopies) {
    Vector<DString> v(10, 10);
    DString a("a"), b("b"), x("x");
    v.Anade(&a);
    v.Anade(&b);
    EXPECT_EQ(v.Anade(&x, 0), 0);
    EXPECT_STREQ(v.Elemento(0).Texto(), "x");
    EXPECT_STREQ(v.Elemento(1).Texto(), "a");
    EXPECT_STREQ(v.Elemento(2).Texto(), "b");
    x.Asigna("changed");
    EXPECT_STREQ(v.Elemento(0).Texto(), "x");
    EXPECT_EQ(v.Anade(&a, -5), 3) << "any negative position appends";
    DString* fresh = v.AnadeNuevo(-5);
    EXPECT_EQ(fresh, &v.Elemento(4));
    EXPECT_EQ(v.Anade(&a, 99), 5) << "a position past the end appends";
    EXPECT_FALSE(v.Existe(6));
    EXPECT_FALSE(v.Existe(-1));
}

TEST(Vector, OwnershipOnClearAndDestruction) {
    Counted::alive = 0;
    {
        Vector<Counted> v(10, 10);
        Counted c;
        v.Anade(&c);
        v.Anade(&c);
        EXPECT_EQ(Counted::alive, 3);
        v.Limpia();
        EXPECT_EQ(Counted::alive, 1);
        EXPECT_EQ(v.Numero(), 0);
        v.Anade(&c);
        EXPECT_EQ(Counted::alive, 2);
    }
    EXPECT_EQ(Counted::alive, 0);

    Counted kept;
    Counted* raw = nullptr;
    {
        VectorP<Counted> p(10, 10, false);
        (void)p;
        Vector<Counted> v(10, 10);
        raw = v.AnadeNuevo();
        raw->value = 5;
        // Limpia(false) only forgets: the element must survive.
        v.Limpia(false);
        EXPECT_EQ(raw->value, 5);
    }
    delete raw;
}

TEST(Containers, SmallFunctions) {
    EXPECT_EQ(Minimo(3, 3), 3);
    EXPECT_EQ(Minimo(2, -1), -1);
    EXPECT_EQ(Maximo(2.0, 5.0), 5.0);
    EXPECT_EQ(Maximo(7.0, 5.0), 7.0);
    unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    PonACero(block + 2, 4);
    EXPECT_EQ(block[1], 2);
    EXPECT_EQ(block[2], 0);
    EXPECT_EQ(block[5], 0);
    EXPECT_EQ(block[6], 7);
    vector2D p(1.5, -2.5);
    EXPECT_EQ(p.x, 1.5);
    EXPECT_EQ(p.y, -2.5);
    EXPECT_FALSE(DepuradorPresente()) << "tests do not run under a debugger";
}

}  // namespace

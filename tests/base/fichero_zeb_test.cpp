// Files and file names: the parts that can really break (open modes, safe
// writes with backups, chunked transfers, the text reader, name edits).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/fichero_zeb.h"
#include "platform/ficheros.h"
#include "plugin/modulo.h"
#include "support/test_support.h"

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

std::string Thrown(TFicheroZEB& f, const char* name, int mode) {
    try {
        f.Abre(TStringNomFitx(name), mode);
    } catch (const char* message) {
        return message;
    }
    return "";
}

void MakeReadOnly(const std::string& path, bool readOnly) {
#if defined(_WIN32)
    _chmod(path.c_str(), readOnly ? _S_IREAD : (_S_IREAD | _S_IWRITE));
#else
    chmod(path.c_str(), readOnly ? 0444 : 0644);
#endif
}

bool RunningAsRoot() {
#if defined(_WIN32)
    return false;
#else
    return geteuid() == 0;
#endif
}

std::string Sep() { return std::string(1, kSeparadorRuta); }

// A host progress record as plain zeroed memory (its packed text is not touched here).
struct Progress {
    alignas(8) unsigned char raw[sizeof(TProgreso)] = {};
    TProgreso& r = *reinterpret_cast<TProgreso*>(raw);
};

}  // namespace

TEST(FileModes, MisuseThrowsItsMessage) {
    TFicheroZEB f;
    EXPECT_EQ("Error en TFicheroZEB::Abre", Thrown(f, "modes.txt", F_LECTURA | F_ESCRITURA));
    EXPECT_EQ("Error en TFicheroZEB::Abre", Thrown(f, "modes.txt", F_TEXTO));
    EXPECT_EQ("", Thrown(f, "modes.txt", F_ESCRITURA));
    EXPECT_TRUE(f.Abierto());
    EXPECT_EQ("Error, fichero abierto ya en TFicheroZEB::Abre", Thrown(f, "modes.txt", F_ESCRITURA));
    f.Cierra();
    f.Cierra();  // harmless when closed
    EXPECT_FALSE(f.Abre(TStringNomFitx(("no-such-dir" + Sep() + "x").c_str()), F_LECTURA));

    TFicheroZEB binary;
    ASSERT_TRUE(binary.Abre(TStringNomFitx("modes.txt"), F_LECTURA | F_BINARIO));
    DString d;
    try {
        binary.get_dato_texto(d);
        ADD_FAILURE() << "text reading of a binary file must throw";
    } catch (const char* message) {
        EXPECT_STREQ("Error en get_dato_texto", message);
    }
}

TEST(FileModes, WritesAreBinaryAndAppendKeepsContent) {
    TFicheroZEB f;
    ASSERT_TRUE(f.Abre(TStringNomFitx("binary.txt"), F_ESCRITURA | F_BINARIO));
    ASSERT_TRUE(f.Escribe("a\nb\r\n", 5, nullptr, 0));
    f.Cierra();
    EXPECT_EQ(std::string("a\nb\r\n"), ReadFile("binary.txt"));  // no line-end translation
    ASSERT_TRUE(f.Abre(TStringNomFitx("binary.txt"), F_ANADIR));
    ASSERT_TRUE(f.Escribe("z", 1, nullptr, 0));
    f.Cierra();
    EXPECT_EQ(std::string("a\nb\r\nz"), ReadFile("binary.txt"));
    ASSERT_TRUE(f.Abre(TStringNomFitx("binary.txt"), F_LECTURA));
    EXPECT_EQ(6, f.Tamano());
    EXPECT_EQ(0, f.Posicion());  // Tamano puts the position back
    char buffer[8] = {};
    EXPECT_FALSE(f.Lee(buffer, 8, nullptr, 0));  // short read
    EXPECT_EQ(0, std::memcmp(buffer, "a\nb\r\nz", 6));
}

TEST(FileSafeWrites, TemporaryWriteKeepsABackupAndReplacesTheFile) {
    RemoveFile("data.BAK");
    RemoveFile("data.txt.$$$");
    WriteFile("data.txt", "old");
    {
        TFicheroZEB f;
        ASSERT_TRUE(f.Abre(TStringNomFitx("data.txt"), F_ESCRITURA | F_TEMPORAL));
        ASSERT_TRUE(f.Escribe("new data", 8, nullptr, 0));
        f.Cierra();
        // Closing again (the destructor) must not redo the move.
        WriteFile("data.txt.$$$", "stray");
    }
    EXPECT_EQ("new data", ReadFile("data.txt"));
    EXPECT_EQ("old", ReadFile("data.BAK"));
    EXPECT_EQ("stray", ReadFile("data.txt.$$$"));
    RemoveFile("data.txt.$$$");

    // A missing target: the temporary file simply becomes it.
    RemoveFile("fresh.txt");
    RemoveFile("fresh.BAK");
    {
        TFicheroZEB f;
        ASSERT_TRUE(f.Abre(TStringNomFitx("fresh.txt"), F_ESCRITURA | F_TEMPORAL));
        ASSERT_TRUE(f.Escribe("x", 1, nullptr, 0));
    }
    EXPECT_EQ("x", ReadFile("fresh.txt"));
    EXPECT_FALSE(FileExists("fresh.BAK"));
    EXPECT_FALSE(FileExists("fresh.txt.$$$"));
}

TEST(FileSafeWrites, AFailedOpenLeavesNoTemporaryWritePending) {
    std::string dir = FreshDir("safe-failed");
    std::string target = JoinPath(dir, "t.txt");
    TFicheroZEB f;
    // The temporary name is a folder: the open fails.
    FreshDir(JoinPath("safe-failed", "t.txt.$$$"));
    EXPECT_FALSE(f.Abre(TStringNomFitx(target.c_str()), F_ESCRITURA | F_TEMPORAL));
    EXPECT_FALSE(f.usaTemporal);
#if !defined(_WIN32)
    // A colon in a folder is no drive: the write still lands in place.
    std::string colon = FreshDir("d:x");
    TFicheroZEB g;
    std::string file = JoinPath(colon, "f.txt");
    ASSERT_TRUE(g.Abre(TStringNomFitx(file.c_str()), F_ESCRITURA | F_TEMPORAL));
    ASSERT_TRUE(g.Escribe("ok", 2, nullptr, 0));
    g.Cierra();
    EXPECT_EQ("ok", ReadFile(file));
    EXPECT_TRUE(TStringNomFitx(file.c_str()).Existe());
#endif
}

TEST(FileSafeWrites, ReadOnlyTargetIsLeftAlone) {
    if (RunningAsRoot()) GTEST_SKIP() << "every file is writable for root";
    WriteFile("locked.txt", "keep");
    MakeReadOnly("locked.txt", true);
    TFicheroZEB f;
    EXPECT_FALSE(f.Abre(TStringNomFitx("locked.txt"), F_ESCRITURA | F_TEMPORAL));
    EXPECT_FALSE(f.Abierto());
    EXPECT_FALSE(FileExists("locked.txt.$$$"));
    MakeReadOnly("locked.txt", false);
    EXPECT_EQ("keep", ReadFile("locked.txt"));
}

TEST(FileSafeWrites, CopyFlagBacksUpOnlyAnExistingFile) {
    RemoveFile("copied.txt");
    RemoveFile("copied.BAK");
    TFicheroZEB f;
    ASSERT_TRUE(f.Abre(TStringNomFitx("copied.txt"), F_ESCRITURA | F_COPIA));
    ASSERT_TRUE(f.Escribe("one", 3, nullptr, 0));
    f.Cierra();
    EXPECT_FALSE(FileExists("copied.BAK"));
    ASSERT_TRUE(f.Abre(TStringNomFitx("copied.txt"), F_ESCRITURA | F_COPIA));
    ASSERT_TRUE(f.Escribe("two", 3, nullptr, 0));
    f.Cierra();
    EXPECT_EQ("two", ReadFile("copied.txt"));
    EXPECT_EQ("one", ReadFile("copied.BAK"));
}

TEST(FileChunks, PiecesReportProgressAndStopOnCancel) {
    std::vector<char> data(70000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    Progress p;
    TFicheroZEB f;
    ASSERT_TRUE(f.Abre(TStringNomFitx("chunks.bin"), F_ESCRITURA | F_BINARIO));
    ASSERT_TRUE(f.Escribe(data.data(), 70000, &p.r, 0));
    EXPECT_EQ(70000, p.r.bytesHechos);
    EXPECT_EQ(70000, p.r.bytesTotal);
    f.Cierra();
    EXPECT_EQ(std::string(data.begin(), data.end()), ReadFile("chunks.bin"));

    Progress cancelled;
    cancelled.r.cancelar = 1;
    ASSERT_TRUE(f.Abre(TStringNomFitx("chunks.bin"), F_ESCRITURA | F_BINARIO));
    EXPECT_FALSE(f.Escribe(data.data(), 70000, &cancelled.r, 0));
    EXPECT_EQ(32000, cancelled.r.bytesHechos);
    f.Cierra();
    EXPECT_EQ(32000u, ReadFile("chunks.bin").size());

    Progress reading;
    std::vector<char> back(32000);
    ASSERT_TRUE(f.Abre(TStringNomFitx("chunks.bin"), F_LECTURA | F_BINARIO));
    ASSERT_TRUE(f.Lee(back.data(), 32000, &reading.r, 1000));
    EXPECT_EQ(32000, reading.r.bytesHechos);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
    Progress none;
    EXPECT_FALSE(f.Lee(back.data(), 10, &none.r, 0));  // at the end; a piece size below 1 still terminates
}

int gNext = 0;
int Next() { return ++gNext; }

TEST(FileTemporary, ExclusiveNamesFallbackAndRemoval) {
    std::string dir = FreshDir("temporary");
    WriteFile(JoinPath(dir, "t1.tmp"), "someone else's");
    gNext = 0;
    std::string name;
    {
        TFicheroTemporal a, b;
        ASSERT_TRUE(a.Crea(dir.c_str(), "t", ".tmp", &Next, true));
        ASSERT_TRUE(b.Crea(dir.c_str(), "t", ".tmp", &Next, true));
        // A taken name costs a number; none is ever handed out twice.
        EXPECT_EQ(JoinPath(dir, "t2.tmp"), a.Nombre().Texto());
        EXPECT_EQ(JoinPath(dir, "t3.tmp"), b.Nombre().Texto());
        EXPECT_TRUE(FileExists(a.Nombre().Texto()));
        b.Suelta();
        name = a.Nombre().Texto();
    }
    EXPECT_FALSE(FileExists(name)) << "removed with its owner";
    EXPECT_TRUE(FileExists(JoinPath(dir, "t3.tmp"))) << "a released file is not the owner's any more";
    EXPECT_EQ("someone else's", ReadFile(JoinPath(dir, "t1.tmp")));

    // A folder that refuses the file (here: it does not exist): the same
    // name in the system's temporary folder, or a failure without fallback.
    std::string missing = JoinPath(dir, "missing");
    TFicheroTemporal c, d;
    ASSERT_TRUE(c.Crea(missing.c_str(), "plivors_unit_", ".tmp", &Next, true));
    const std::string system = PlataformaCarpetaTemporal();
    EXPECT_EQ(system + "plivors_unit_4.tmp", c.Nombre().Texto());
    EXPECT_TRUE(FileExists(c.Nombre().Texto()));
    c.Borra();
    EXPECT_FALSE(FileExists(c.Nombre().Texto()));
    EXPECT_FALSE(d.Crea(missing.c_str(), "t", ".tmp", &Next, false));
}

TEST(FileNames, ExtensionsJoinsAndExistence) {
    const std::string s = Sep();
    TStringNomFitx n(("C:" + s + "a.b" + s + "file.txt").c_str());
    n.CambiaExtension("BAK");
    EXPECT_EQ("C:" + s + "a.b" + s + "file.BAK", std::string(n.Texto()));
    TStringNomFitx bare(("C:" + s + "dir.x" + s + "file").c_str());
    bare.CambiaExtension("BAK");
    EXPECT_EQ("C:" + s + "dir.x" + s + "file.BAK", std::string(bare.Texto()));
    TStringNomFitx dotted("name.old");
    dotted.CambiaExtension(".new");
    EXPECT_STREQ("name.new", dotted.Texto());
    dotted.CambiaExtension("");
    EXPECT_STREQ("name", dotted.Texto());

    TStringNomFitx joined;
    joined.Compone(("C:" + s + "maps").c_str(), "file.plvr");
    EXPECT_EQ("C:" + s + "maps" + s + "file.plvr", std::string(joined.Texto()));
    joined.Compone(("C:" + s + "maps" + s).c_str(), "file.plvr");
    EXPECT_EQ("C:" + s + "maps" + s + "file.plvr", std::string(joined.Texto()));
    joined.Compone("", "file.plvr");
    EXPECT_STREQ("file.plvr", joined.Texto());

    EXPECT_TRUE(TStringNomFitx("C:x").TieneUnidad());
    EXPECT_TRUE(TStringNomFitx("\\\\server\\share").TieneUnidad());
    EXPECT_FALSE(TStringNomFitx("x").TieneUnidad());

    WriteFile("exists.txt", "1");
    FreshDir("a-folder");
    EXPECT_TRUE(TStringNomFitx("exists.txt").Existe());
    EXPECT_FALSE(TStringNomFitx("a-folder").Existe());
    EXPECT_FALSE(TStringNomFitx("missing.txt").Existe());
    EXPECT_FALSE(TStringNomFitx("exists.txt").NoEscribible());
    EXPECT_TRUE(TStringNomFitx("missing.txt").NoEscribible());
}

TEST(FileNames, CurrentDirectoryIsAFullPath) {
    TCurrentDir now;
    std::string d = now.Texto();
    ASSERT_FALSE(d.empty());
#if defined(_WIN32)
    ASSERT_GE(d.size(), 3u);
    EXPECT_EQ(':', d[1]);
    EXPECT_EQ('\\', d[2]);
#else
    EXPECT_EQ('/', d[0]);
#endif
    // The module's own one was taken at load, in this same directory.
    EXPECT_EQ(d, std::string(DirectorioDelModulo().Texto()));
    // A name joined onto it reaches a file made here.
    WriteFile("here.txt", "h");
    TStringNomFitx full;
    full.Compone(now.Texto(), "here.txt");
    EXPECT_TRUE(full.Existe());
}

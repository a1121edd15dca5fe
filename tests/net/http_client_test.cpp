// The HTTP client against the stand-in server on loopback. Both builds run
// these: the Linux one over libcurl, the Windows one over (Wine's) WinINet;
// the same situation must give the same result and message on both.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/fichero_zeb.h"
#include "net/fallo_red.h"
#include "net/internet_zeb.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

typedef std::chrono::steady_clock Clock;

std::string Letters(int n) {
    std::string s(static_cast<size_t>(n), 'a');
    for (int i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

// A host progress record, with the text the host would read. Like a C host,
// it is plain zeroed memory (the packed text cannot be constructed in place
// on a 64-bit build without a misaligned access).
struct Progress {
    alignas(8) unsigned char raw[sizeof(TProgreso)];
    TProgreso& record;
    Progress() : record(*reinterpret_cast<TProgreso*>(raw)) {
        std::memset(raw, 0, sizeof raw);
        record.bytesTotal = -1;
    }
    // The record is byte-packed: its text pointer is read through a copy.
    CDString TextHandle() const {
        CDString t;
        std::memcpy(static_cast<void*>(&t), &record.texto, sizeof t);
        return t;
    }
    ~Progress() { TextHandle().Libera(); }
    std::string Text() const { return TextHandle().Texto(); }
    int Done() const { return __atomic_load_n(&record.bytesHechos, __ATOMIC_RELAXED); }
    void Cancel() { __atomic_store_n(&record.cancelar, static_cast<uint8_t>(1), __ATOMIC_RELAXED); }
};

// Whether body is the first n bytes of the server's letter pattern (reported
// by size: the bodies are too long to print).
::testing::AssertionResult IsLetters(const std::string& body, int n) {
    if (static_cast<int>(body.size()) != n)
        return ::testing::AssertionFailure() << body.size() << " bytes instead of " << n;
    if (body != Letters(n)) return ::testing::AssertionFailure() << "the bytes differ from the pattern";
    return ::testing::AssertionSuccess();
}

struct Result {
    bool ok;
    std::string error;
    std::string body;
    int status;
    double seconds;
    TTipoFallo kind;  // as the client reports it to the plug-in
};

// The kind and code the plug-in takes from the client are the ones a host
// reads back from the message alone.
TTipoFallo KindSeenByBoth(const TInternetZEB& client, bool ok, const CDString& error) {
    TFalloRed own = client.UltimoFallo(), read = LeeFalloRed(ok ? "" : error.Texto());
    EXPECT_EQ(static_cast<int>(own.tipo), static_cast<int>(read.tipo)) << error.Texto();
    if (read.codigo != 0) {
        EXPECT_EQ(own.codigo, read.codigo) << error.Texto();
    }
    return own.tipo;
}

Result FetchText(const std::string& url, TProgreso* progress = nullptr) {
    TInternetZEB client("", "", nullptr);
    DString body, error("untouched");
    Clock::time_point start = Clock::now();
    bool ok = client.DescargaTexto(url.c_str(), body, error, progress);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {ok, error.Texto(), body.Texto(), client.UltimoEstado(), seconds, KindSeenByBoth(client, ok, error)};
}

Result FetchFile(const std::string& url, const std::string& path, TProgreso* progress = nullptr,
                 bool readBack = true) {
    TInternetZEB client("", "", nullptr);
    DString local(path.c_str()), error("untouched");
    Clock::time_point start = Clock::now();
    bool ok = client.DescargaFichero(url.c_str(), local, error, progress);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {ok, error.Texto(), readBack ? ReadFile(path) : std::string(), client.UltimoEstado(), seconds,
            KindSeenByBoth(client, ok, error)};
}

// Restores a time-out setting when a test ends.
struct ScopedEnv {
    const char* name;
    ScopedEnv(const char* n, const std::string& value) : name(n) { SetEnv(n, value); }
    ~ScopedEnv() { UnsetEnv(name); }
};

}  // namespace

TEST(HttpBodies, TextAndFileBodiesArriveWholeWithLengthAndStatus) {
    NEED_SERVER();
    Progress p;
    Result text = FetchText(Server() + "/_test/bytes/12345", &p.record);
    ASSERT_TRUE(text.ok) << text.error;
    EXPECT_EQ("untouched", text.error);  // success leaves the message alone
    EXPECT_TRUE(IsLetters(text.body, 12345));
    EXPECT_EQ(200, text.status);
    EXPECT_EQ(12345, p.record.bytesHechos);
    EXPECT_EQ(12345, p.record.bytesTotal);
    EXPECT_EQ("12 Kb / 12 Kb transferred", p.Text());

    Progress q;
    Result file = FetchFile(Server() + "/plivors/client?cmd=map&img=1&width=640&height=480&scale=5&mocs=gdd&mo=40.41680000,-3.70380000",
                            "net_map.gif", &q.record);
    ASSERT_TRUE(file.ok) << file.error;
    ASSERT_GT(file.body.size(), 13u);
    EXPECT_EQ("GIF8", file.body.substr(0, 4));
    EXPECT_EQ(static_cast<int>(file.body.size()), q.record.bytesHechos);
    EXPECT_EQ(q.record.bytesHechos, q.record.bytesTotal);
}

TEST(HttpBodies, LengthAbsentOrZeroAndKilobyteRounding) {
    NEED_SERVER();
    Progress chunked;
    Result r = FetchText(Server() + "/_opt/nolength/_test/bytes/12345", &chunked.record);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(IsLetters(r.body, 12345));
    EXPECT_EQ(0, chunked.record.bytesTotal);
    EXPECT_EQ("12 Kb / 0 Kb transferred", chunked.Text());

    Progress empty;
    RemoveFile("net_empty.bin");
    Result e = FetchFile(Server() + "/_test/bytes/0", "net_empty.bin", &empty.record);
    ASSERT_TRUE(e.ok) << e.error;
    EXPECT_TRUE(FileExists("net_empty.bin"));
    EXPECT_EQ("", e.body);
    EXPECT_EQ("0 Kb / 0 Kb transferred", empty.Text());

    Progress p999, p1000;
    ASSERT_TRUE(FetchText(Server() + "/_test/bytes/999", &p999.record).ok);
    EXPECT_EQ("0 Kb / 0 Kb transferred", p999.Text());
    ASSERT_TRUE(FetchText(Server() + "/_test/bytes/1000", &p1000.record).ok);
    EXPECT_EQ("1 Kb / 1 Kb transferred", p1000.Text());
}

TEST(HttpBodies, ErrorPagesAreStoredLikeAnyBody) {
    NEED_SERVER();
    Result missing = FetchFile(Server() + "/download/plugins/no-such.plvr", "net_404.html");
    ASSERT_TRUE(missing.ok) << missing.error;
    EXPECT_EQ(404, missing.status);
    EXPECT_NE(std::string::npos, missing.body.find("Not Found"));

    Result failing = FetchText(Server() + "/_opt/status=500/_test/bytes/50");
    ASSERT_TRUE(failing.ok) << failing.error;
    EXPECT_EQ(500, failing.status);
    EXPECT_TRUE(IsLetters(failing.body, 50));
}

TEST(HttpProgress, AdvancesChunkByChunkWhileTheBodyArrives) {
    NEED_SERVER();
    Progress p;
    std::vector<int> seen;
    std::atomic<bool> running{true};
    std::thread watcher([&] {
        while (running.load()) {
            int d = p.Done();
            if (seen.empty() || seen.back() != d) seen.push_back(d);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    Result r = FetchText(Server() + "/_opt/trickle=1000;pause=60/_test/bytes/6000", &p.record);
    running = false;
    watcher.join();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ("6 Kb / 6 Kb transferred", p.Text());
    // Several intermediate counts, each a step up: progress is per chunk.
    int intermediate = 0;
    for (size_t i = 0; i < seen.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(seen[i], seen[i - 1]);
        }
        if (seen[i] > 0 && seen[i] < 6000) ++intermediate;
    }
    EXPECT_GE(intermediate, 3);
}

TEST(HttpCancel, StopsAfterTheChunkInProgressAndKeepsWhatArrived) {
    NEED_SERVER();
    Progress p;
    p.Cancel();  // the host asked before the first chunk came in
    RemoveFile("net_cancel.bin");
    Result r = FetchFile(Server() + "/_opt/trickle=1000;pause=30/_test/bytes/10000", "net_cancel.bin", &p.record);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Operation Canceled", r.error);
    EXPECT_EQ(TTipoFallo::kCancelado, r.kind);
    EXPECT_GT(r.body.size(), 0u);
    EXPECT_LT(r.body.size(), 10000u);
    EXPECT_EQ(static_cast<int>(r.body.size()), p.record.bytesHechos);
    EXPECT_TRUE(IsLetters(r.body, static_cast<int>(r.body.size())));
}

TEST(HttpCancel, ACancelOnceTheWholeBodyIsInStillFails) {
    NEED_SERVER();
    Progress p;
    // The body is sent at once but its end is held back 400 ms; the host
    // cancels in between, when nothing but the final read is left.
    std::thread host([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        p.Cancel();
    });
    Result r = FetchFile(Server() + "/_opt/nolength;linger=400/_test/bytes/3000", "net_cancel_end.bin", &p.record);
    host.join();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Operation Canceled", r.error);
    EXPECT_TRUE(IsLetters(r.body, 3000));
    EXPECT_EQ(3000, p.record.bytesHechos);
}

TEST(HttpFailures, UnreachableOrUnusableAddresses) {
    NEED_SERVER();
    WriteFile("net_refused.bin", "old content");
    Result refused = FetchFile("http://127.0.0.1:1/x", "net_refused.bin");
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ("Error opening URL 12029", refused.error);
    EXPECT_EQ(TTipoFallo::kConexion, refused.kind);
    EXPECT_TRUE(FileExists("net_refused.bin"));
    EXPECT_EQ("", refused.body);  // opened for writing before the request

    // Each bad address gives the code Windows gives for it.
    const struct {
        const char* url;
        const char* error;
    } bad[] = {{"xyz://127.0.0.1/x", "Error opening URL 12006"},
               {"just some words", "Error opening URL 12006"},
               {"http://no-such-host.invalid/x", "Error opening URL 12007"},
               {"http:///x", "Error opening URL 12005"}};
    for (const auto& b : bad) {
        Result r = FetchText(b.url);
        EXPECT_FALSE(r.ok) << b.url;
        EXPECT_EQ(b.error, r.error) << b.url;
    }
}

TEST(HttpFailures, ADroppedConnectionIsAReadErrorAndKeepsThePart) {
    NEED_SERVER();
    Result r = FetchFile(Server() + "/_opt/drop=5000/_test/bytes/20000", "net_dropped.bin");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Error reading HTTP 12030", r.error);
    EXPECT_LE(r.body.size(), 5000u);
    EXPECT_TRUE(IsLetters(r.body, static_cast<int>(r.body.size())));
}

TEST(HttpFailures, AServerThatStopsSendingHitsTheTimeOut) {
    NEED_SERVER();
    ScopedEnv stall("PLIVORS_STALL_TIMEOUT_MS", "1000");
    Result body = FetchFile(Server() + "/_opt/stall=8000/_test/bytes/20000", "net_stalled.bin");
    EXPECT_FALSE(body.ok);
    EXPECT_EQ("Error reading HTTP 12002", body.error);
    EXPECT_EQ(TTipoFallo::kPlazo, body.kind);
    // What came before the pause is kept, as far as the library handed it over.
    EXPECT_GT(body.body.size(), 0u);
    EXPECT_LE(body.body.size(), 10000u);
    EXPECT_TRUE(IsLetters(body.body, static_cast<int>(body.body.size())));
    EXPECT_LT(body.seconds, 6.0);

    Result headers = FetchText(Server() + "/_opt/delay=8000/_test/bytes/10");
    EXPECT_FALSE(headers.ok);
    EXPECT_EQ("Error opening URL 12002", headers.error);
    EXPECT_EQ(TTipoFallo::kPlazo, headers.kind);
    EXPECT_LT(headers.seconds, 6.0);
}

TEST(HttpFailures, LocalFileProblemsAreReportedWithThePath) {
    NEED_SERVER();
    size_t before = ServerLog().size();
    std::string path = JoinPath("no-such-folder", "x.bin");
    Result r = FetchFile(Server() + "/_test/bytes/10", path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Error opening the local file for HTTP download: \"" + path + "\"", r.error);
    EXPECT_EQ(TTipoFallo::kFicheroLocal, r.kind);
    EXPECT_EQ(before, ServerLog().size());  // nothing was fetched

#if !defined(_WIN32)
    // A device that takes no bytes: the download must not count as stored.
    Result full = FetchFile(Server() + "/_test/bytes/100000", "/dev/full", nullptr, false);
    EXPECT_FALSE(full.ok);
    EXPECT_EQ("Error writing the local file for HTTP download: \"/dev/full\"", full.error);
    EXPECT_EQ(TTipoFallo::kEscrituraLocal, full.kind);
#endif
}

TEST(HttpSession, OneSessionServesEveryRequestOfAClient) {
    NEED_SERVER();
    long before = TInternetZEB::SesionesAbiertas();
    {
        TInternetZEB client("", "", nullptr);
        EXPECT_FALSE(client.TieneSesion());
        DString body, error;
        ASSERT_TRUE(client.DescargaTexto((Server() + "/_test/bytes/10").c_str(), body, error, nullptr)) << error.Texto();
        EXPECT_TRUE(client.TieneSesion());
        ASSERT_TRUE(client.DescargaTexto((Server() + "/_test/bytes/20").c_str(), body, error, nullptr)) << error.Texto();
        EXPECT_EQ(Letters(20), body.Texto());  // emptied before each request
        // A failed request keeps the session too.
        EXPECT_FALSE(client.DescargaTexto("http://127.0.0.1:1/", body, error, nullptr));
        EXPECT_EQ(before + 1, TInternetZEB::SesionesAbiertas());
    }
    TInternetZEB other("", "", nullptr);
    DString body, error;
    ASSERT_TRUE(other.DescargaTexto((Server() + "/_test/bytes/1").c_str(), body, error, nullptr));
    EXPECT_EQ(before + 2, TInternetZEB::SesionesAbiertas());
}

TEST(HttpAuthentication, CredentialsAnswerAChallengeAndWrongOnesGiveUp) {
    NEED_SERVER();
    const std::string url = Server() + "/_opt/auth=ana:secreta/_test/bytes/30";
    // WinINet remembers credentials per server for the process, so the cases
    // run from no credentials to the right ones.
    Result interactive = FetchText(url);
    ASSERT_TRUE(interactive.ok) << interactive.error;
    EXPECT_EQ(401, interactive.status);  // no user and no window: the challenge page is the answer
    EXPECT_NE(std::string::npos, interactive.body.find("Unauthorized"));
    {
        TInternetZEB client("ana", "mala", nullptr);
        DString body, error;
        EXPECT_FALSE(client.DescargaTexto(url.c_str(), body, error, nullptr));
        EXPECT_STREQ("Error autentification 401", error.Texto());
    }
    {
        TInternetZEB client("ana", "secreta", nullptr);
        DString body, error;
        ASSERT_TRUE(client.DescargaTexto(url.c_str(), body, error, nullptr)) << error.Texto();
        EXPECT_TRUE(IsLetters(body.Texto(), 30));
        EXPECT_EQ(200, client.UltimoEstado());
    }
}

TEST(HttpProgress, CountsPastTwoGibibytesStayAtTheTop) {
    EXPECT_EQ(1500, SumaProgreso(1000, 500));
    EXPECT_EQ(INT32_MAX, SumaProgreso(INT32_MAX - 10, 1u << 20));
    EXPECT_EQ(INT32_MAX, SumaProgreso(INT32_MAX, 4000000000ul));
}

TEST(HttpTimeOuts, EnvironmentSettingsAndDefaults) {
    UnsetEnv("PLIVORS_STALL_TIMEOUT_MS");
    EXPECT_EQ(kMsSinDatosPorDefecto, MilisegundosDeEntorno("PLIVORS_STALL_TIMEOUT_MS", kMsSinDatosPorDefecto));
    ScopedEnv good("PLIVORS_STALL_TIMEOUT_MS", "250");
    EXPECT_EQ(250u, MilisegundosDeEntorno("PLIVORS_STALL_TIMEOUT_MS", kMsSinDatosPorDefecto));
    for (const char* bad : {"0", "-5", "12abc", ""}) {
        SetEnv("PLIVORS_STALL_TIMEOUT_MS", bad);
        EXPECT_EQ(kMsSinDatosPorDefecto, MilisegundosDeEntorno("PLIVORS_STALL_TIMEOUT_MS", kMsSinDatosPorDefecto))
            << bad;
    }
}

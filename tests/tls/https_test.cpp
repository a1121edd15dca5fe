// The plug-in in front of nginx ending TLS (tools/balanced-servers.sh --tls),
// as a user runs it: with the test authority trusted, maps, place names and
// downloads arrive over https; every certificate fault is refused before a
// request reaches the servers, and each fault and each mixed-up scheme is
// named by `plivors-host check`, at once rather than after a time-out.
#include <gtest/gtest.h>

#include <string>

#include "platform/http.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char kSample[] = "norte-1000.plvr";

std::string Port(const std::string& address) { return address.substr(address.rfind(':') + 1); }

// Requests the servers behind nginx have logged so far.
size_t LoggedRequests() {
    size_t n = 0;
    std::string logs = Env("PLIVORS_BALANCER_LOGS") + " ";
    for (size_t start = 0, end; (end = logs.find(' ', start)) != std::string::npos; start = end + 1)
        for (char c : ReadFile(HostPath(logs.substr(start, end - start)))) n += c == '\n' ? 1 : 0;
    return n;
}

class Https : public ::testing::Test {
protected:
    void SetUp() override {
        secure = Env("PLIVORS_BALANCER_TLS");
        if (secure.empty()) GTEST_SKIP() << "no servers behind TLS";
        const std::string source = JoinPath(JoinPath(EnvPath("PLIVORS_TEST_SOURCE"), "maps"), kSample);
        ASSERT_TRUE(WriteFile(JoinPath(EnvPath("PLIVORS_BALANCER_DOWNLOADS"), kSample), ReadFile(source)));
    }
    void TearDown() override {
        for (const char* v : {"PLIVORS_MAP_SERVER", "PLIVORS_DOWNLOAD_SERVER", "PLIVORS_STALL_TIMEOUT_MS"})
            UnsetEnv(v);
    }
    // check with maps, place names and downloads all asked of one address.
    static std::string CheckAt(const std::string& address) {
        SetEnv("PLIVORS_MAP_SERVER", address);
        SetEnv("PLIVORS_DOWNLOAD_SERVER", address);
        return RunHostCheck();
    }
    std::string secure;
};

TEST_F(Https, ZonesPlaceNamesAndDownloadsArriveOverTls) {
    const size_t before = LoggedRequests();
    std::string out = CheckAt(secure);
    EXPECT_EQ(out.substr(0, 2), "0\n") << out;
    EXPECT_TRUE(HasWords(out, "map server       " + secure + "  (from PLIVORS_MAP_SERVER)")) << out;
    EXPECT_TRUE(HasWords(out, "zone        ok") && HasWords(out, "place name  ok")) << out;
    EXPECT_TRUE(HasWords(out, "download    ok") && HasWords(out, "a map descriptor")) << out;
    EXPECT_GT(LoggedRequests(), before);
}

TEST_F(Https, EachCertificateFaultIsRefusedAndNamed) {
    struct Fault {
        const char* variable;
        unsigned long code;
        const char* words;
    };
    const Fault faults[] = {
#if defined(_WIN32)
        // WinINet reports a chain that ends at an authority it does not know so.
        {"PLIVORS_BALANCER_TLS_UNKNOWN", kErrorRevocacionFallida,
         "cannot be traced to an authority this computer trusts"},
#else
        {"PLIVORS_BALANCER_TLS_UNKNOWN", kErrorCertificadoNoValido, "is not from an authority this computer trusts"},
#endif
        {"PLIVORS_BALANCER_TLS_EXPIRED", kErrorFechaCertificado, "has expired or is not valid yet"},
        {"PLIVORS_BALANCER_TLS_ELSEWHERE", kErrorNombreCertificado, "is made for another name than 'localhost'"},
    };
    const size_t before = LoggedRequests();
    for (const Fault& f : faults) {
        const std::string address = Env(f.variable);
        ASSERT_FALSE(address.empty()) << f.variable;
        std::string out = CheckAt(address);
        EXPECT_EQ(out.substr(0, 2), "1\n") << out;
        EXPECT_TRUE(HasWords(out, "zone        FAILED") && HasWords(out, "Error opening URL " + std::to_string(f.code)))
            << out;
        EXPECT_TRUE(HasWords(out, "The certificate of localhost:" + Port(address) + " " + f.words)) << out;
        EXPECT_TRUE(HasWords(out, "download    FAILED") && HasWords(out, "3 of 3 failed")) << out;
    }
    // Refused during the handshake: not one request got through to a server.
    EXPECT_EQ(LoggedRequests(), before);
}

TEST_F(Https, MixedUpSchemesFailAtOnceWithTheirCause) {
    // A hang would end in the time-out (12002), which neither message is.
    SetEnv("PLIVORS_STALL_TIMEOUT_MS", "5000");
    std::string out = CheckAt("http://localhost:" + Port(secure));
    EXPECT_TRUE(HasWords(out, "zone        FAILED") && HasWords(out, "Error HTTP 400")) << out;
    EXPECT_TRUE(HasWords(out, "how an https server answers plain http: if it is one, write https://localhost:" +
                                  Port(secure) + " in PLIVORS_MAP_SERVER"))
        << out;

    const std::string plain = "localhost:" + Port(Env("PLIVORS_BALANCER"));
    out = CheckAt("https://" + plain);
    EXPECT_TRUE(HasWords(out, "zone        FAILED") &&
                HasWords(out, "Error opening URL " + std::to_string(kErrorCanalSeguro)))
        << out;
    EXPECT_TRUE(HasWords(out, "No secure connection could be made with " + plain +
                                  ": nothing there speaks https on that port"))
        << out;
}

}  // namespace

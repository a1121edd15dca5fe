// The server's front as an operator meets it: careless clients by the
// hundred, requests past the limits, caches in between, and a stop.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "server/server_support.h"
#include "support/test_support.h"

using namespace server_testing;
using Clock = std::chrono::steady_clock;

namespace {

int PortOf(const std::string& base) { return std::stoi(base.substr(base.rfind(':') + 1)); }

// A plain TCP connection, for what no HTTP library would send.
class Connection {
public:
    // receiveBuffer > 0 fixes the socket's receive buffer, which the kernel
    // would otherwise let grow (up to tcp_rmem's maximum, tens of MB) while
    // nothing reads it.
    explicit Connection(int port, int receiveBuffer = 0) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close();
    }
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection(Connection&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    bool open() const { return fd_ >= 0; }
    bool Send(const std::string& bytes) {
        return fd_ >= 0 && send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // What arrives within `seconds`, until the server closes (closed set).
    std::string Receive(double seconds, bool* closed = nullptr) {
        std::string got;
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        if (closed) *closed = false;
        while (fd_ >= 0 && Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
            if (poll(&p, 1, std::max(left, 1)) <= 0) continue;
            char buffer[65536];
            ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                if (closed) *closed = true;
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string Zone(const std::string& base, double lat, double lon) {
    char url[200];
    std::snprintf(url, sizeof url, "/plivors/client?cmd=map&img=1&width=300&height=200&scale=6&mocs=gdd&mo=%.7f,%.7f",
                  lat, lon);
    return base + url;
}

class Front : public ::testing::Test {
protected:
    void SetUp() override {
        maps_ = Env("PLIVORS_TEST_MAPS");
        if (maps_.empty()) GTEST_SKIP() << "no map server";
    }
    std::string maps_;
};

TEST_F(Front, IdleAndTricklingConnectionsDelayNoOne) {
    // 200 connections that never send a byte and 200 that send a header
    // line every second and never finish: the thread-per-connection server
    // had no worker left for anyone else.
    const int port = PortOf(maps_);
    std::vector<Connection> idle, trickling;
    for (int i = 0; i < 200; ++i) idle.emplace_back(port);
    for (int i = 0; i < 200; ++i) {
        trickling.emplace_back(port);
        trickling.back().Send("GET /plivors/client?cmd=map HTTP/1.1\r\nHost: x\r\n");
    }
    for (int round = 0; round < 2; ++round) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        for (Connection& c : trickling) c.Send("X-Slow: " + std::to_string(round) + "\r\n");
    }
    for (const Connection& c : idle) ASSERT_TRUE(c.open());
    const auto start = Clock::now();
    Answer a = Get(Zone(maps_, 41.1234567, -2.7654321));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body.compare(0, 4, "GIF8"), 0);
    EXPECT_LT(seconds, 5.0) << "a new zone waited behind 400 careless connections";

    // A render whose client left still fills the cache: the next client
    // is served from it.
    {
        Connection gone(port);
        ASSERT_TRUE(gone.Send("GET " + Zone("", 41.7654321, -2.1234567) + " HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    const std::string line = Zone("", 41.7654321, -2.1234567);
    for (int i = 0; i < 100 && ReadFile(Env("PLIVORS_TEST_MAPS_LOG")).find(line + " (rendered)") == std::string::npos;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Get(maps_ + line).status, 200);
    EXPECT_NE(ReadFile(Env("PLIVORS_TEST_MAPS_LOG")).find(line + " (cached)"), std::string::npos);
}

TEST_F(Front, LimitsOfRequestsAndConnections) {
    // Short timeouts, so that the test need not wait the real ones out.
    OwnServer server({"--request-timeout", "2", "--idle-timeout", "3", "--send-timeout", "2"}, "PLIVORS_TEST_STAND_IN_BINARY");
    ASSERT_FALSE(server.base().empty()) << server.output();
    EXPECT_EQ(Get(server.base() + "/" + std::string(8100, 'a')).status, 404) << "a long line within 8 KB is served";
    EXPECT_EQ(Get(server.base() + "/" + std::string(8300, 'a')).status, 414);
    EXPECT_EQ(Get(server.base() + "/" + std::string(200000, 'a')).status, 414);
    EXPECT_EQ(Get(server.base() + "/x", {"X-Big: " + std::string(30000, 'b')}).status, 404);
    EXPECT_EQ(Get(server.base() + "/x", {"X-Big: " + std::string(33000, 'b')}).status, 431);
    EXPECT_EQ(Get(server.base() + "/x", {"X-Big: " + std::string(200000, 'b')}).status, 431);
    Answer refused = Get(server.base() + "/x", {"X-Big: " + std::string(33000, 'b')});
    EXPECT_EQ(refused.Field("Cache-Control"), "no-store");

    // A request that has not arrived whole 2 s after its first byte is
    // dropped, however busy its client is; an idle connection after 3 s;
    // a connection that keeps asking is kept.
    // A client that takes nothing of a 60 MB answer is dropped: what it
    // finds when it finally reads is far less than the whole (its own
    // buffer held small, so that what it finds is what the server sent).
    Connection deaf(server.port(), 64 * 1024), slow(server.port()), idle(server.port()), busy(server.port());
    ASSERT_TRUE(deaf.Send("GET /_test/bytes/60000000 HTTP/1.1\r\nHost: x\r\n\r\n"));
    const auto start = Clock::now();
    bool closed = false;
    slow.Send("GET /plivors/client?cmd=prox&mo=40,-3 HTTP/1.1\r\n");
    std::thread feed([&slow] {
        for (int i = 0; i < 8; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            slow.Send("X-Slow: " + std::to_string(i) + "\r\n");
        }
    });
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(busy.Send("GET /_test/bytes/3 HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_NE(busy.Receive(0.3).find("\r\n\r\nabc"), std::string::npos) << "keep-alive request " << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    slow.Receive(1.0, &closed);
    feed.join();
    const double slowSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(closed) << "the trickling request was not dropped";
    idle.Receive(2.0, &closed);
    const double idleSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(closed) << "the idle connection was kept";
    EXPECT_GT(slowSeconds, 1.8);
    const std::string heard = deaf.Receive(3.0, &closed);
    EXPECT_TRUE(closed);
    EXPECT_LT(heard.size(), 30000000u) << "the server waited for a client that reads nothing";
    EXPECT_GT(idleSeconds, 2.8);
    EXPECT_LT(idleSeconds, 5.5);
}

TEST_F(Front, AnswersACacheCanKeepAndRevalidate) {
    const std::string zone = Zone(maps_, 40.55, -3.55);
    Answer first = Get(zone);
    ASSERT_EQ(first.status, 200);
    const std::string tag = first.Field("ETag");
    EXPECT_EQ(first.Field("Cache-Control"), "public, max-age=86400");
    ASSERT_EQ(tag.size() > 2 && tag.front() == '"' && tag.back() == '"', true) << tag;
    Answer again = Get(zone);
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(again.Field("ETag"), tag) << "the tag is the answer's, not the moment's";
    Answer same = Get(zone, {"If-None-Match: \"other\", " + tag});
    EXPECT_EQ(same.status, 304);
    EXPECT_TRUE(same.body.empty());
    EXPECT_EQ(same.Field("ETag"), tag);
    EXPECT_EQ(Get(zone, {"If-None-Match: \"other\""}).status, 200);
    Answer head = Get(zone, {}, true);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    EXPECT_EQ(head.Field("Content-Length"), std::to_string(first.body.size()));
    EXPECT_EQ(head.Field("ETag"), tag);
    Answer place = Get(maps_ + "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=40.4168,-3.7038");
    EXPECT_EQ(Get(maps_ + "/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=40.4168,-3.7038",
                  {"If-None-Match: " + place.Field("ETag")})
                  .status,
              304);
    // Errors are never stored.
    for (const char* bad : {"/plivors/client?cmd=map&scale=99", "/nowhere", "/download/plugins/none.plvr"}) {
        Answer a = Get(maps_ + bad);
        EXPECT_GE(a.status, 400) << bad;
        EXPECT_EQ(a.Field("Cache-Control"), "no-store") << bad;
        EXPECT_TRUE(a.Field("ETag").empty()) << bad;
    }

    // Downloads: the file's time and tag; a change of the file is a new answer.
    const std::string folder = Env("PLIVORS_TEST_MAPS_LOG").substr(0, Env("PLIVORS_TEST_MAPS_LOG").rfind('/')) +
                               "/downloads";
    ASSERT_TRUE(testing_support::WriteFile(folder + "/cache-test.plvr", "first"));
    const std::string url = maps_ + "/download/plugins/cache-test.plvr";
    Answer file = Get(url);
    EXPECT_EQ(file.body, "first");
    EXPECT_FALSE(file.Field("Last-Modified").empty());
    EXPECT_EQ(Get(url, {"If-Modified-Since: " + file.Field("Last-Modified")}).status, 304);
    EXPECT_EQ(Get(url, {"If-None-Match: " + file.Field("ETag")}).status, 304);
    EXPECT_EQ(Get(url, {"If-Modified-Since: Sat, 01 Jan 2000 00:00:00 GMT"}).status, 200);
    ASSERT_TRUE(testing_support::WriteFile(folder + "/cache-test.plvr", "second, longer"));
    Answer changed = Get(url, {"If-None-Match: " + file.Field("ETag")});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.body, "second, longer");
    // An encoded NUL once cut the name short and served the file before it.
    EXPECT_EQ(Get(url + "%00.txt").status, 404);
    EXPECT_EQ(Get(maps_ + "/download/plugins/cache-test%2eplvr").body, "second, longer");
}

TEST_F(Front, SigtermStopsAfterTheAnswersInFlight) {
    OwnServer server({}, "PLIVORS_TEST_STAND_IN_BINARY");
    ASSERT_FALSE(server.base().empty()) << server.output();
    Connection idle(server.port());
    Answer late;
    std::thread client([&] { late = Get(server.base() + "/_opt/delay=1500/_test/bytes/100"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto start = Clock::now();
    kill(server.pid(), SIGTERM);
    const int status = server.WaitExit(10);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client.join();
    EXPECT_EQ(status, 0) << server.output();
    EXPECT_LT(seconds, 4.0);
    EXPECT_EQ(late.status, 200) << "the answer in flight was lost";
    EXPECT_EQ(late.body.size(), 100u);
    EXPECT_NE(server.output().find("stopping on SIGTERM; answers in flight: 1"), std::string::npos) << server.output();
    EXPECT_NE(server.output().find("plivors-stand-in stopped"), std::string::npos);
}

}  // namespace

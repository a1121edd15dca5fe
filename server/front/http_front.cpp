#include "server/front/http_front.h"

#include <sys/resource.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "server/front/request_reading.h"
#include "server/front/writer.h"
#include "server/markup.h"

namespace front {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

class Session;

// A plain answer leaves in pieces of at most this size, so that the send
// timeout measures progress rather than the whole transfer.
const size_t kLargestPiece = 1 << 20;
// After the last answer of a connection, what the client still sends is
// read and dropped for this long, so that closing with unread bytes does
// not reset the connection before the client has read its answer.
const int kLingerSeconds = 2;

// The answer as a Beast message: for HEAD the header of the whole answer
// without its body; no body at all where the status allows none.
Message ToMessage(const Answer& answer, bool head, bool keepAlive, int idleSeconds) {
    Message m;
    // A status HTTP cannot carry (Beast refuses it) is the service's fault.
    const int status = answer.status >= 100 && answer.status <= 999 ? answer.status : 500;
    m.result(static_cast<unsigned>(status));
    const bool bodiless = status == 304 || status == 204 || status < 200;
    if (!bodiless) {
        if (!answer.type.empty()) m.set(http::field::content_type, answer.type);
        m.body() = {answer.body->data(), answer.body->size()};
    }
    for (const auto& f : answer.fields) m.insert(f.first, f.second);
    m.keep_alive(keepAlive);
    if (keepAlive) m.set(http::field::keep_alive, "timeout=" + std::to_string(idleSeconds));
    m.prepare_payload();
    if (head) m.body() = {};
    return m;
}

}  // namespace

struct Server::Shared : std::enable_shared_from_this<Server::Shared> {
    net::io_context io;
    tcp::acceptor acceptor{io};
    net::signal_set signals{io, SIGINT, SIGTERM};
    net::steady_timer deadline{io};  // of the stop
    net::steady_timer retry{io};     // of accepting, when descriptors run out
    Limits limits;
    Handler handler;
    std::atomic<bool> stopping{false};
    std::atomic<size_t> open{0}, busy{0};
    std::mutex mutex;
    std::list<std::weak_ptr<Session>> sessions;

    void Accept();
    void Stop(int signal);
    void Left();  // a session ended
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, std::shared_ptr<Server::Shared> shared)
        : stream_(std::move(socket)), shared_(std::move(shared)) {
        buffer_.max_size(shared_->limits.requestLine + shared_->limits.headers + 4096);
        ++shared_->open;
    }
    ~Session() {
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->sessions.erase(place_);
        }
        if (busy_) --shared_->busy;
        --shared_->open;
        shared_->Left();
    }

    void Start() {
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            place_ = shared_->sessions.insert(shared_->sessions.end(), weak_from_this());
        }
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->Next(); });
    }

    // On stop: an idle connection closes now, a busy one after its answer.
    void Stop() {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            if (self->idle_) self->stream_.socket().cancel();
        });
    }

private:
    void SetBusy(bool busy) {
        if (busy == busy_) return;
        busy_ = busy;
        if (busy) ++shared_->busy;
        else --shared_->busy;
    }

    void Next() {
        SetBusy(false);
        if (shared_->stopping) return Close();
        if (buffer_.size() > 0) {  // a pipelined request has begun already
            firstByte_ = Clock::now();
            return ReadHeader();
        }
        // Waiting for the first byte of a request: the idle timeout.
        buffer_.shrink_to_fit();
        idle_ = true;
        stream_.expires_after(std::chrono::seconds(shared_->limits.idleSeconds));
        stream_.async_read_some(buffer_.prepare(512), [self = shared_from_this()](beast::error_code ec, size_t n) {
            self->idle_ = false;
            if (ec) return self->Close();
            self->buffer_.commit(n);
            self->firstByte_ = Clock::now();
            self->ReadHeader();
        });
    }

    void ReadHeader() {
        SetBusy(true);
        parser_.emplace();
        Prepare(*parser_, shared_->limits);
        stream_.expires_at(firstByte_ + std::chrono::seconds(shared_->limits.requestSeconds));
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = shared_from_this()](beast::error_code ec, size_t n) { self->OnHeader(ec, n); });
    }

    void OnHeader(beast::error_code ec, size_t headerBytes) {
        const int verdict = Verdict(*parser_, ec, headerBytes, shared_->limits);
        if (verdict < 0) return Close();
        if (verdict > 0) return Refuse(verdict);
        if (parser_->is_done()) return Dispatch();
        http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
            const int verdict = ec ? Verdict(*self->parser_, ec, 0, self->shared_->limits) : 0;
            if (verdict < 0) return self->Close();
            if (verdict > 0) return self->Refuse(verdict);
            self->Dispatch();
        });
    }

    void Dispatch() {
        stream_.expires_never();  // nothing to read or write while the service works
        keepAlive_ = parser_->get().keep_alive();
        Request request = ToRequest(*parser_);
        parser_.reset();
        head_ = request.head();
        if (request.method != "GET" && !head_) {
            Answer refusal = Page(405, "only GET and HEAD are served");
            refusal.fields.emplace_back("Allow", "GET, HEAD");
            return Send(std::move(refusal));
        }
        // The reply comes back to this connection's strand, from whichever
        // thread answered; until then the server counts it as work in flight.
        auto guard = net::make_work_guard(stream_.get_executor());
        Reply reply = [self = shared_from_this(), guard](Answer answer) {
            net::post(self->stream_.get_executor(),
                      [self, answer = std::move(answer)]() mutable { self->Send(std::move(answer)); });
        };
        try {
            shared_->handler(std::move(request), std::move(reply));
        } catch (const std::exception& e) {
            // A service that fails before it answers: a 500, not the end of
            // this thread and of every connection it serves.
            keepAlive_ = false;
            Send(Page(500, std::string("the server failed: ") + e.what()));
        }
    }

    static Answer Page(int status, const std::string& why) {
        Answer a;
        a.Set(status, markup::HtmlPage(status, std::string(http::obsolete_reason(http::int_to_status(status))), why),
              "text/html");
        a.fields.emplace_back("Cache-Control", "no-store");
        return a;
    }

    // A request the front cannot pass on: answered and the connection closed.
    void Refuse(int status) {
        SetBusy(true);
        keepAlive_ = false;
        head_ = false;
        const char* why = status == 414   ? "the request line is too long"
                          : status == 431 ? "the header fields are too long"
                          : status == 413 ? "the request body is too long"
                                          : "the request is malformed";
        Send(Page(status, why));
    }

    void Send(Answer answer) {
        answer_ = std::move(answer);
        if (shared_->stopping) keepAlive_ = false;
        message_ = ToMessage(answer_, head_, keepAlive_, shared_->limits.idleSeconds);
        const std::chrono::seconds timeout(shared_->limits.sendSeconds);
        if (answer_.writer) {
            return answer_.writer->Write(stream_, message_, head_, timeout, [self = shared_from_this()](bool whole) {
                whole ? self->Done() : self->Close();
            });
        }
        serializer_.emplace(message_);
        WriteSome();
    }

    void WriteSome() {
        serializer_->limit(kLargestPiece);
        stream_.expires_after(std::chrono::seconds(shared_->limits.sendSeconds));
        http::async_write_some(stream_, *serializer_, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) return self->Close();
            if (!self->serializer_->is_done()) return self->WriteSome();
            self->serializer_.reset();
            self->Done();
        });
    }

    void Done() {
        message_ = Message();
        answer_ = Answer();
        if (!keepAlive_ || shared_->stopping) return Linger();
        Next();
    }

    // Closes after the answer: no more writes, and what the client still
    // sends is read and dropped until it closes too or time runs out.
    void Linger() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (ec) return Close();
        buffer_.clear();
        stream_.expires_after(std::chrono::seconds(kLingerSeconds));
        Drain();
    }

    void Drain() {
        stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) return self->Close();
            self->Drain();
        });
    }

    void Close() {
        SetBusy(false);
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
        stream_.close();
    }

    beast::tcp_stream stream_;
    std::shared_ptr<Server::Shared> shared_;
    std::list<std::weak_ptr<Session>>::iterator place_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Clock::time_point firstByte_;
    bool idle_ = false, busy_ = false, keepAlive_ = false, head_ = false;
    // The answer being sent: its body stays with answer_.
    Answer answer_;
    Message message_;
    std::optional<http::response_serializer<http::span_body<const char>>> serializer_;
};

}  // namespace

void Server::Shared::Accept() {
    acceptor.async_accept(net::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors (or a connection reset before it was taken):
            // try again shortly rather than spin.
            retry.expires_after(std::chrono::milliseconds(50));
            retry.async_wait([this](beast::error_code e) {
                if (!e) Accept();
            });
            return;
        }
        beast::error_code ignored;
        // Header and body may leave in separate writes: without this, Nagle's
        // algorithm holds the second for the client's delayed acknowledgement.
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Session>(std::move(socket), shared_from_this())->Start();
        Accept();
    });
}

void Server::Shared::Stop(int signal) {
    if (stopping.exchange(true)) return;
    std::printf("%s stopping on %s; answers in flight: %zu\n", program_invocation_short_name,
                signal == SIGTERM ? "SIGTERM" : "SIGINT", busy.load());
    std::fflush(stdout);
    beast::error_code ignored;
    acceptor.close(ignored);
    retry.cancel();
    std::vector<std::shared_ptr<Session>> all;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& weak : sessions)
            if (auto s = weak.lock()) all.push_back(std::move(s));
    }
    for (auto& s : all) s->Stop();
    all.clear();
    Left();
}

void Server::Shared::Left() {
    if (!stopping || io.stopped()) return;
    net::post(io, [self = shared_from_this()] {
        if (self->open == 0) self->deadline.cancel();
    });
}

Server::Server(const std::string& address, int port, const Limits& limits) : shared_(std::make_shared<Shared>()) {
    shared_->limits = limits;
    beast::error_code ec;
    auto ip = net::ip::make_address(address, ec);
    if (ec) throw std::runtime_error("cannot bind " + address + ": not an address");
    tcp::endpoint where(ip, static_cast<unsigned short>(port));
    tcp::acceptor& a = shared_->acceptor;
    a.open(where.protocol(), ec);
    if (!ec) a.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) a.bind(where, ec);
    if (ec) throw std::runtime_error(port == 0 ? "cannot bind " + address
                                               : "cannot bind " + address + " port " + std::to_string(port));
    a.listen(net::socket_base::max_listen_connections, ec);
    if (ec) throw std::runtime_error("cannot listen on " + address + " port " + std::to_string(port));
}

Server::~Server() = default;

int Server::port() const { return shared_->acceptor.local_endpoint().port(); }
size_t Server::connections() const { return shared_->open; }
size_t Server::busy() const { return shared_->busy; }

void Server::Run(Handler handler, int threads, int stopSeconds) {
    Shared& s = *shared_;
    s.handler = std::move(handler);
    s.Accept();
    s.signals.async_wait([&s, stopSeconds](beast::error_code ec, int signal) {
        if (ec) return;
        s.deadline.expires_after(std::chrono::seconds(stopSeconds));
        s.deadline.async_wait([&s](beast::error_code e) {
            if (!e) s.io.stop();  // answers still in flight after the grace time are abandoned
        });
        s.Stop(signal);
    });
    std::vector<std::thread> more;
    for (int i = 1; i < threads; ++i) more.emplace_back([&s] { s.io.run(); });
    s.io.run();
    for (auto& t : more) t.join();
}

long RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<long>(limit.rlim_cur);
}

}  // namespace front

#include "server/stand_in/shaped_writer.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace stand_in {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
using Milliseconds = std::chrono::milliseconds;

// The header goes out with the first piece of the body; the body goes in
// pieces of at most this size, so that the send timeout measures progress.
const size_t kLargestPiece = 1 << 20;

class Shaped : public front::Writer, public std::enable_shared_from_this<Shaped> {
public:
    explicit Shaped(const Delivery& delivery) : d_(delivery) {}

    void Write(beast::tcp_stream& stream, front::Message& message, bool head, std::chrono::seconds sendTimeout,
               std::function<void(bool)> done) override {
        stream_ = &stream;
        timeout_ = sendTimeout;
        done_ = std::move(done);
        timer_.emplace(stream.get_executor());
        const unsigned status = message.result_int();
        const bool bodiless = status < 200 || status == 204 || status == 304;  // as the front made it
        if (d_.chunked && !bodiless) message.chunked(true);
        std::ostringstream header;
        header << message.base();
        header_ = header.str();
        body_ = message.body().data();
        size_ = message.body().size();
        stop_ = d_.drop >= 0 ? std::min(size_, static_cast<size_t>(d_.drop)) : size_;
        lastChunk_ = d_.chunked && !bodiless && !head;
        After(d_.delayMs, [self = shared_from_this()] { self->Piece(); });
    }

private:
    template <class Then>
    void After(int ms, Then then) {
        if (ms <= 0) return then();
        timer_->expires_after(Milliseconds(ms));
        timer_->async_wait([then = std::move(then)](beast::error_code) { then(); });
    }

    // Once: the connection goes on, or closes.
    void Complete(bool whole) {
        auto done = std::move(done_);
        done_ = nullptr;
        done(whole);
    }

    void Piece() {
        if (offset_ >= stop_ && headSent_) return Finish();
        size_t n = std::min(stop_ - offset_, kLargestPiece);
        if (d_.piece > 0) n = std::min(n, d_.piece);
        const size_t middle = size_ / 2;
        if (d_.stallMs > 0 && !stalled_) {
            if (offset_ >= middle) {
                if (!headSent_) return Send(0);  // the pause comes after the head
                stalled_ = true;
                return After(d_.stallMs, [self = shared_from_this(), n] { self->Send(n); });
            }
            if (offset_ + n > middle) n = middle - offset_;
        }
        Send(n);
    }

    void Send(size_t n) {
        std::vector<net::const_buffer> out;
        if (!headSent_) out.push_back(net::buffer(header_));
        if (n > 0) {
            if (d_.chunked) {
                char size[24];
                chunkHead_.assign(size, static_cast<size_t>(std::snprintf(size, sizeof size, "%zx\r\n", n)));
                out.push_back(net::buffer(chunkHead_));
            }
            out.push_back(net::buffer(body_ + offset_, n));
            if (d_.chunked) out.push_back(net::buffer("\r\n", 2));
        }
        stream_->expires_after(timeout_);
        net::async_write(*stream_, out, [self = shared_from_this(), n](beast::error_code ec, size_t) {
            if (ec) return self->Complete(false);
            self->headSent_ = true;
            self->offset_ += n;
            const bool more = n > 0 && self->d_.piece > 0 && self->offset_ < self->stop_;
            self->After(more ? self->d_.pauseMs : 0, [self] { self->Piece(); });
        });
    }

    // The body has gone as far as it should.
    void Finish() {
        if (stop_ < size_) return Complete(false);  // cut short on purpose
        if (!lastChunk_) return Complete(true);
        After(d_.lingerMs, [self = shared_from_this()] {
            self->stream_->expires_after(self->timeout_);
            net::async_write(*self->stream_, net::buffer("0\r\n\r\n", 5),
                             [self](beast::error_code ec, size_t) { self->Complete(!ec); });
        });
    }

    const Delivery d_;
    beast::tcp_stream* stream_ = nullptr;
    std::chrono::seconds timeout_{30};
    std::function<void(bool)> done_;
    std::optional<net::steady_timer> timer_;
    std::string header_, chunkHead_;
    const char* body_ = nullptr;
    size_t size_ = 0, stop_ = 0, offset_ = 0;
    bool stalled_ = false, headSent_ = false, lastChunk_ = false;
};

}  // namespace

std::shared_ptr<front::Writer> ShapedWriter(const Delivery& delivery) { return std::make_shared<Shaped>(delivery); }

}  // namespace stand_in

// The HTTP front of both servers: Boost.Beast on Boost.Asio, every
// connection asynchronous, so that idle or slow clients hold no thread and
// a new request is read and answered whatever else is open. The service
// behind it answers through a Reply (server/front/answer.h).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "server/front/answer.h"

namespace front {

struct Limits {
    int requestSeconds = 10;  // a request arrives whole within this of its first byte
    int idleSeconds = 30;     // an idle keep-alive connection closes after this
    int sendSeconds = 30;     // a client that takes nothing of its answer for this long is dropped
    size_t requestLine = 8 * 1024;  // longer: 414
    size_t headers = 32 * 1024;     // all header fields together; longer: 431
    size_t body = 1024 * 1024;      // longer: 413
};

class Server {
public:
    // Binds ADDRESS:port (0 picks a free port) and listens with the
    // system's backlog; throws std::runtime_error saying why it cannot.
    // Connections wait in the backlog until Run.
    Server(const std::string& address, int port, const Limits& limits);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int port() const;
    // Serves with handler on `threads` threads until SIGTERM or SIGINT, then
    // stops accepting, closes idle connections, finishes the answers in
    // flight (for at most stopSeconds) and returns. Replies that come later
    // are dropped: destroy what might still reply before the Server.
    void Run(Handler handler, int threads, int stopSeconds = 5);
    // Connections open now, answers being prepared or sent now.
    size_t connections() const;
    size_t busy() const;

    struct Shared;  // what the server and its connections share

private:
    std::shared_ptr<Shared> shared_;
};

// Raises the soft limit of open descriptors to the hard one, so that
// connections are bounded by the system's limit; returns the new limit.
long RaiseDescriptorLimit();

}  // namespace front

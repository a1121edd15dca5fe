// The street database: a PostgreSQL/PostGIS server reached by a libpq
// connection URL (postgresql://user@host:port/dbname, or key=value words).
// Connections for lookups are pooled and made again after the server went
// away; Mapnik's own connections for drawing are its business.
#pragma once

#include <libpq-fe.h>

#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace database {

// What a use of the database can fail with, told apart by type.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// No connection: unreachable, or gone away mid-query. Requests that need
// the database answer 503.
struct Unavailable : Failure {
    using Failure::Failure;
};
// The server refused a statement (an error of SQL, a missing table); the
// connection still works.
struct StatementFailed : Failure {
    using Failure::Failure;
};

// The URL's connection words (host, port, dbname, user, password, ...), as
// libpq reads them; throws std::invalid_argument with libpq's reason.
std::map<std::string, std::string> ParseUrl(const std::string& url);
// The URL for messages: the password, if any, left out.
std::string Printable(const std::string& url);

struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;
struct ConnectionDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using Connection = std::unique_ptr<PGconn, ConnectionDeleter>;

// A connection made within timeoutSeconds; throws Unavailable with libpq's reason.
Connection Connect(const std::string& url, int timeoutSeconds = 5);
// Runs sql with text parameters; throws Unavailable when the connection
// broke, StatementFailed when the statement failed.
Result Execute(PGconn* c, const std::string& sql, const std::vector<std::string>& parameters = {});

class Database {
public:
    explicit Database(std::string url) : url_(std::move(url)) {}
    const std::string& url() const { return url_; }

    // Whether the last use reached the server (for status pages), without
    // waiting on the network.
    bool Connected() const;
    // Asks the server now (libpq's ping, a second at most).
    bool Reachable() const;
    // Whether a failure of this database's use, here or in Mapnik's PostGIS
    // datasource, says the connection is gone or cannot be made (rather than
    // that a statement failed); remembered for Connected. Asks nothing.
    bool Lost(const std::exception_ptr& failure) const;

    // Runs sql on a pooled connection; a connection found broken is
    // replaced once, so that the first query after the server came back
    // succeeds. Throws Unavailable or StatementFailed.
    Result Query(const std::string& sql, const std::vector<std::string>& parameters);

private:
    Connection Take();
    void Give(Connection c);

    std::string url_;
    mutable std::mutex mutex_;
    std::vector<Connection> idle_;
    mutable bool connected_ = false;
};

}  // namespace database

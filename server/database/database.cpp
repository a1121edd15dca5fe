#include "server/database/database.h"

#include <cstdlib>

namespace database {
namespace {

// libpq's messages end in a newline and may run over several lines.
std::string OneLine(std::string why) {
    for (char& c : why)
        if (c == '\n' || c == '\t') c = ' ';
    while (!why.empty() && why.back() == ' ') why.pop_back();
    size_t twice;
    while ((twice = why.find("  ")) != std::string::npos) why.erase(twice, 1);
    return why;
}

}  // namespace

std::map<std::string, std::string> ParseUrl(const std::string& url) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
    if (options == nullptr) {
        std::string why = OneLine(error != nullptr ? error : "out of memory");
        PQfreemem(error);
        throw std::invalid_argument("bad database URL: " + why);
    }
    std::map<std::string, std::string> words;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o)
        if (o->val != nullptr && *o->val != '\0') words[o->keyword] = o->val;
    PQconninfoFree(options);
    return words;
}

std::string Printable(const std::string& url) {
    std::map<std::string, std::string> words;
    try {
        words = ParseUrl(url);
    } catch (const std::invalid_argument&) {
        return "(a malformed URL)";
    }
    if (words.count("password") == 0) return url;
    std::string text;
    for (const auto& w : words)
        if (w.first != "password") text += (text.empty() ? "" : " ") + w.first + "=" + w.second;
    return text;
}

Connection Connect(const std::string& url, int timeoutSeconds) {
    std::string timeout = std::to_string(timeoutSeconds);
    const char* keywords[] = {"dbname", "connect_timeout", "application_name", nullptr};
    const char* values[] = {url.c_str(), timeout.c_str(), "plivors-server", nullptr};
    Connection c(PQconnectdbParams(keywords, values, 1));  // 1: dbname may be a URL
    if (c == nullptr) throw Unavailable("out of memory");
    if (PQstatus(c.get()) != CONNECTION_OK) {
        std::string why = OneLine(PQerrorMessage(c.get()));
        throw Unavailable("cannot connect to the database " + Printable(url) + ": " + why);
    }
    return c;
}

Result Execute(PGconn* c, const std::string& sql, const std::vector<std::string>& parameters) {
    std::vector<const char*> values;
    for (const std::string& p : parameters) values.push_back(p.c_str());
    Result r(PQexecParams(c, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
    ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        std::string why = OneLine(PQerrorMessage(c));
        if (why.empty()) why = "the query failed";
        if (PQstatus(c) == CONNECTION_BAD) throw Unavailable(why);
        throw StatementFailed(why);
    }
    return r;
}

bool Database::Connected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

bool Database::Reachable() const {
    const char* keywords[] = {"dbname", "connect_timeout", nullptr};
    const char* values[] = {url_.c_str(), "1", nullptr};
    bool up = PQpingParams(keywords, values, 1) == PQPING_OK;
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = up;
    return up;
}

namespace {

// How libpq words a connection that broke or could not be made, and how
// Mapnik's PostGIS datasource words a connection it could not get: its
// exceptions carry no type or SQLSTATE, only this text.
bool SaysLost(const std::string& text) {
    static const char* const words[] = {
        "server closed the connection unexpectedly", "no connection to the server", "could not send data to server",
        "could not receive data from server", "connection to server", "could not connect to server",
        "terminating connection due to administrator command", "the database system is shutting down",
        "the database system is starting up", "the database system is in recovery mode",
        "Postgis Plugin: Null connection", "Postgis Plugin: bad connection", "Bad connection"};
    for (const char* w : words)
        if (text.find(w) != std::string::npos) return true;
    return false;
}

}  // namespace

bool Database::Lost(const std::exception_ptr& failure) const {
    bool lost = false;
    try {
        std::rethrow_exception(failure);
    } catch (const Unavailable&) {
        lost = true;
    } catch (const StatementFailed&) {
    } catch (const std::exception& e) {
        lost = SaysLost(e.what());
    } catch (...) {
    }
    if (lost) {
        std::lock_guard<std::mutex> lock(mutex_);
        connected_ = false;
    }
    return lost;
}

Connection Database::Take() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_.empty()) {
            Connection c = std::move(idle_.back());
            idle_.pop_back();
            return c;
        }
    }
    return Connect(url_, 2);
}

void Database::Give(Connection c) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() < 16) idle_.push_back(std::move(c));
}

Result Database::Query(const std::string& sql, const std::vector<std::string>& parameters) {
    for (int attempt = 0;; ++attempt) {
        Connection c;
        try {
            c = Take();
            Result r = Execute(c.get(), sql, parameters);
            Give(std::move(c));
            std::lock_guard<std::mutex> lock(mutex_);
            connected_ = true;
            return r;
        } catch (const StatementFailed&) {
            Give(std::move(c));  // the query was at fault, not the connection
            std::lock_guard<std::mutex> lock(mutex_);
            connected_ = true;
            throw;
        } catch (const Unavailable&) {
            // A pooled connection the server dropped fails its first query:
            // try once more on a new one before calling the database gone.
            if (c != nullptr && attempt == 0) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            connected_ = false;
            throw;
        }
    }
}

}  // namespace database

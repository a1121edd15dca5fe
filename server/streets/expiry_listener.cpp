#include "server/streets/expiry_listener.h"

#include <poll.h>

#include <chrono>
#include <cstdlib>

#include "server/database/database.h"
#include "server/streets/update.h"

namespace streets {

ExpiryListener::ExpiryListener(std::string url, Heard heard) : url_(std::move(url)), heard_(std::move(heard)) {
    thread_ = std::thread([this] { Run(); });
}

ExpiryListener::~ExpiryListener() {
    stopping_ = true;
    thread_.join();
}

void ExpiryListener::Run() {
    while (!stopping_) {
        try {
            Listen();
        } catch (const database::Failure&) {
            // gone, or the table unreadable: tried again in a second
        }
        for (int i = 0; i < 10 && !stopping_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Until the connection breaks or the server stops: every notice read, and
// with it everything not heard yet (notices carry no areas, and several
// updates may come between two looks).
void ExpiryListener::Listen() {
    database::Connection c = database::Connect(url_, 4);
    database::Execute(c.get(), std::string("LISTEN ") + kExpiryChannel);
    CatchUp(c.get());
    while (!stopping_) {
        pollfd p{PQsocket(c.get()), POLLIN, 0};
        if (poll(&p, 1, 250) <= 0) continue;
        if (PQconsumeInput(c.get()) == 0 || PQstatus(c.get()) != CONNECTION_OK)
            throw database::Unavailable(PQerrorMessage(c.get()));
        bool noticed = false;
        while (PGnotify* n = PQnotifies(c.get())) {
            noticed = true;
            PQfreemem(n);
        }
        if (noticed) CatchUp(c.get());
    }
}

void ExpiryListener::CatchUp(PGconn* c) {
    database::Result exists = database::Execute(c, "SELECT to_regclass($1) IS NOT NULL", {kExpiryTable});
    if (PQgetvalue(exists.get(), 0, 0)[0] != 't') return;  // never updated
    database::Result r = database::Execute(
        c, std::string("SELECT seq, zoom, x, y FROM ") + kExpiryTable + " WHERE seq > $1 ORDER BY seq",
        {std::to_string(last_)});
    std::vector<ExpiredTile> tiles;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        const uint64_t update = std::strtoull(PQgetvalue(r.get(), i, 0), nullptr, 10);
        if (!tiles.empty() && tiles.front().update != update) {
            heard_(tiles.front().update, tiles);
            tiles.clear();
        }
        tiles.push_back({update, std::atoi(PQgetvalue(r.get(), i, 1)), std::atoi(PQgetvalue(r.get(), i, 2)),
                         std::atoi(PQgetvalue(r.get(), i, 3))});
        last_ = update;
    }
    if (!tiles.empty()) heard_(tiles.front().update, tiles);
}

}  // namespace streets

// What the last import brought in, kept beside its data (the table
// plivors_import of the schema), for the operator's status: the file, when,
// the area its data covers and how much of each kind.
#pragma once

#include <libpq-fe.h>

#include <optional>
#include <string>

#include "server/database/database.h"

namespace streets {

struct ImportRecord {
    std::string file, time;             // time: UTC, ISO 8601
    double west = 0, south = 0, east = 0, north = 0;  // degrees
    std::string roads, buildings, places, addresses;  // counts ("?" when unknown)
};

// Writes the record into schema (an escaped identifier), its extent and time
// found there and then. Throws database::Failure.
void WriteImportRecord(PGconn* c, const std::string& schema, const ImportRecord& counts);

// The live data's record; nothing for data imported before records were
// kept. Throws database::Failure when the database cannot answer.
std::optional<ImportRecord> ReadImportRecord(database::Database& db);

}  // namespace streets

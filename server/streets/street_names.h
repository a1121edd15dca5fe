// Place names on the street from the imported OpenStreetMap data: the
// nearest named street within 100 m (with the house number of an address
// point within 30 m), the neighbourhood and the town, each found by a
// nearest-neighbour search on a spatial index.
#pragma once

#include <optional>
#include <string>

#include "server/database/database.h"
#include "server/gazetteer/gazetteer.h"
#include "server/streets/import_record.h"

namespace streets {

struct StreetPlace {
    std::string street, number, area, town;  // UTF-8 Latin forms; number, area, town may be empty
    double metres = 0;                        // to the street
};

class StreetNames {
public:
    StreetNames(database::Database& db, const gazetteer::Gazetteer& places) : db_(db), places_(places) {}

    // The street place of lat/lon, or nothing when no named street lies
    // within 100 m. Throws database::Failure.
    std::optional<StreetPlace> Find(double lat, double lon) const;
    // Its phrase for the proximity page (named entities, at most 255
    // letters once the plug-in has read them), or nothing.
    std::optional<std::string> Phrase(double lat, double lon) const;
    // What the last import brought in (ReadImportRecord). Throws
    // database::Failure.
    std::optional<ImportRecord> Imported() const { return ReadImportRecord(db_); }

private:
    database::Database& db_;
    const gazetteer::Gazetteer& places_;
};

// "Street number, area, town" in at most 255 Latin-1 letters: the last
// parts give way first.
std::string Words(const StreetPlace& p);

}  // namespace streets

// What the PostgreSQL queue store is told by config.xml.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmo::pgstore {

struct PgSettings {
    std::string connection;            // a libpq connection string, without a password
    std::string host;                  // this gateway host's name in the rows
    std::uint32_t leaseSeconds = 120;  // how long a take holds a message for this host
    std::size_t connections = 4;       // connections the service keeps to the database
    std::string journalFolder;         // the local journal's folder, ending in "/"; "" for none
};

}  // namespace velmo::pgstore

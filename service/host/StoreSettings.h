// The queue store config.xml chooses: the attributes of
// /velmo/configuration/queue that name it.
//
//   store       "folders" (the default: the queue folders under the root)
//               or "postgresql"
//   connection  a libpq connection string or "service=NAME"; required for
//               postgresql, and never with a password in it; without a
//               connect_timeout of its own it gets 10 seconds
//   passfile    a password file in libpq's format (readable by the service
//               alone), where the database asks for a password
//   host        this gateway's name in the shared store (default: the
//               machine's name); letters, digits, '.', '_' and '-', at most 64
//   lease       how long a host holds a message it took (default 2m; 10s to 1h)
#pragma once

#include "service/pgstore/PgSettings.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace velmo::host {

struct StoreAttributes {
    std::optional<std::string> store, connection, passfile, host, lease;
};

struct StoreChoice {
    bool postgres = false;
    pgstore::PgSettings settings;  // for postgres: the connection string with the passfile in it
    std::string connection;        // as written, for /CHECK
    std::string passfile;
};

// The choice the attributes make, or nullopt with one text per fault in
// problems (each complete, without the element's place). A text from the
// file appears in a problem escaped and cut to 60 bytes.
std::optional<StoreChoice> ReadStoreChoice(const StoreAttributes& attributes, std::vector<std::string>& problems);

// This machine's name, as the default host.
std::string MachineName();

// velmosvc /CHECK's lines on the store (none for the folders): for PostgreSQL whether it can be
// reached and the tables used (their version, the rights), as "problem:",
// "warning:" and plain lines on out. False when the service could not use
// the store now.
bool CheckStore(const StoreChoice& choice, std::FILE* out);

}  // namespace velmo::host

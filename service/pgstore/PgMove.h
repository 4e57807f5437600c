// Moving a queue between the folders under a root and the PostgreSQL
// tables, for velmosvc /MOVE while no service uses either.
//
// Each message goes on its own: its copy is written durably at the other
// side first, and only then removed from where it stood, so a move that is
// killed leaves every message at one side or at both; run again, it
// finishes without writing any message twice (a row that stands already
// is kept, a file that stands already is written over with the same
// message).
//
// Into the database the folders go sent and failed first, so a message a
// crash left both queued and finished stays finished (as the service's
// own recovery would); a received message's ".offer" mark becomes
// awaiting_handlers; a file of bad/ (or one that does not read) becomes a
// bad row keeping its bytes, with the id of its name or, for any other
// name, one made from the name. Out of the database every row goes into
// its folder as "{ID}.velmo", with its mark where the handlers still wait.
#pragma once

#include "service/pgstore/PgConnection.h"

#include <cstdio>
#include <string>

namespace velmo::pgstore {

// Moves every message of the folders under root (ending in "/") into the
// tables, as queued or received by host. One line per folder on out, and
// one per message that could not be moved. True when every one was.
bool MoveIntoDatabase(PgConnection& conn, const std::string& root, const std::string& host, std::FILE* out);

// Moves every row of the tables into the folders under root. Refused
// (false, nothing moved) while any host's lease on a message runs: every
// host must be stopped first. True when every message was moved.
bool MoveOutOfDatabase(PgConnection& conn, const std::string& root, std::FILE* out);

}  // namespace velmo::pgstore

// One connection to PostgreSQL through libpq, and the statements run on it.
//
// A connection is made on first use and made again after it broke: every
// Exec first makes sure it stands, so a database that went away and came
// back is used again without a restart. Statements carry their values as
// parameters, never inside the SQL text. A connection is used by one thread
// at a time (PgPool hands them out).
//
// Failures are results, never exceptions: a statement that did not run
// gives a null result and the reason in words (libpq's, with its control
// characters escaped, so it can go into a log line as it stands).
#pragma once

#include <libpq-fe.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::pgstore {

struct PgResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
struct PgConnFree {
    void operator()(PGconn* c) const { PQfinish(c); }
};
// A statement's result; null when it failed.
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// One parameter of a statement: text, bytes (bytea, sent as binary) or NULL.
struct PgParam {
    std::string value;
    bool null = false;
    bool binary = false;

    static PgParam Text(std::string v) { return {std::move(v), false, false}; }
    static PgParam Bytes(const std::vector<unsigned char>& v) { return {std::string(v.begin(), v.end()), false, true}; }
    static PgParam Null() { return {{}, true, false}; }
    // Text, or NULL when v is nullopt.
    static PgParam Maybe(const std::optional<std::string>& v) { return v ? Text(*v) : Null(); }
};

// The outcome of a statement that failed: why (escaped), and whether the
// connection itself broke (the database away or restarted) rather than the
// statement being refused.
struct PgFailure {
    std::string why;
    bool connectionLost = false;
    // The database could not be reached at all (no connection could be
    // made), rather than a connection that stood breaking.
    bool unreachable = false;
    std::string sqlState;  // the five-character SQLSTATE, when the server gave one
};

class PgConnection {
public:
    // conninfo: a libpq connection string ("service=velmo",
    // "host=/run/postgresql dbname=velmo"). Nothing is connected yet.
    explicit PgConnection(std::string conninfo) : conninfo_(std::move(conninfo)) {}
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Connects when there is no usable connection. True when there is one;
    // false with failure set when the database cannot be reached.
    bool Ensure(PgFailure& failure);
    // Runs one statement with its parameters ($1, $2, ...), or without
    // parameters any number of statements (the last one's result); results
    // come in text form (BytesOf reads a bytea cell).
    // A result of PGRES_COMMAND_OK or PGRES_TUPLES_OK; null with failure set
    // otherwise. A lost connection is closed, to be made again next time.
    PgResult Exec(std::string_view sql, const std::vector<PgParam>& params, PgFailure& failure);
    // The same without parameters, for statements such as BEGIN and COMMIT.
    PgResult Exec(std::string_view sql, PgFailure& failure) { return Exec(sql, {}, failure); }
    // The libpq connection, null when none stands (for LISTEN's socket).
    PGconn* Native() const { return conn_.get(); }
    // Closes the connection; the next Ensure makes a new one.
    void Close() { conn_.reset(); }

private:
    std::string conninfo_;
    std::unique_ptr<PGconn, PgConnFree> conn_;
};

// A transaction on one connection: BEGIN when made, ROLLBACK when it ends
// without a Commit (a failed statement inside leaves nothing behind).
class PgTransaction {
public:
    // Began() tells whether BEGIN ran; failure is set when it did not.
    PgTransaction(PgConnection& conn, PgFailure& failure) : conn_(conn), open_(conn.Exec("BEGIN", failure) != nullptr)
    {}
    ~PgTransaction()
    {
        PgFailure ignored;  // the failure that counts was set by the statement that gave up
        if (open_)
            (void)conn_.Exec("ROLLBACK", ignored);
    }
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;

    bool Began() const { return open_; }
    // True once everything since BEGIN is kept; false with failure set.
    bool Commit(PgFailure& failure)
    {
        open_ = false;
        return conn_.Exec("COMMIT", failure) != nullptr;
    }

private:
    PgConnection& conn_;
    bool open_;
};

// The text of a result's cell, "" for NULL.
std::string_view Cell(const PGresult* r, int row, int column);
// The whole number at the start of a cell's text ("42", "-1"); 0 for NULL
// or a text that does not begin with one.
std::int64_t IntegerOf(std::string_view text);
// Whether a result's cell is NULL.
bool IsNull(const PGresult* r, int row, int column);
// The bytes of a bytea cell in text form; nullopt for NULL or a cell that
// is no bytea text.
std::optional<std::vector<unsigned char>> BytesOf(const PGresult* r, int row, int column);
// The number of rows a statement changed (UPDATE, DELETE, INSERT).
long RowsChanged(const PGresult* r);

// The words of a libpq message as a log line may carry them: trailing line
// ends dropped, control characters escaped, at most 300 bytes.
std::string PgWords(const char* message);

}  // namespace velmo::pgstore

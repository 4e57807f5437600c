#include "service/pgstore/PgConnection.h"

#include "platform/Text.h"

#include <charconv>

namespace velmo::pgstore {

namespace {

constexpr std::size_t kLongestWords = 300;

}  // namespace

std::string PgWords(const char* message)
{
    std::string words = message ? message : "";
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
    if (words.size() > kLongestWords)
        words = words.substr(0, kLongestWords) + "...";
    return EscapeControls(words);
}

bool PgConnection::Ensure(PgFailure& failure)
{
    if (conn_ && PQstatus(conn_.get()) == CONNECTION_OK)
        return true;
    conn_.reset(PQconnectdb(conninfo_.c_str()));
    if (conn_ && PQstatus(conn_.get()) == CONNECTION_OK) {
        // The server's notices ("relation exists, skipping") would go to
        // standard error unescaped; what matters comes back as a failure.
        PQsetNoticeProcessor(
            conn_.get(), [](void*, const char*) {}, nullptr);
        return true;
    }
    failure.why = conn_ ? PgWords(PQerrorMessage(conn_.get())) : "out of memory";
    failure.connectionLost = true;
    failure.unreachable = true;
    failure.sqlState.clear();
    conn_.reset();
    return false;
}

PgResult PgConnection::Exec(std::string_view sql, const std::vector<PgParam>& params, PgFailure& failure)
{
    if (!Ensure(failure))
        return nullptr;
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const PgParam& p : params) {
        values.push_back(p.null ? nullptr : p.value.data());
        lengths.push_back(static_cast<int>(p.value.size()));
        formats.push_back(p.binary ? 1 : 0);
    }
    std::string text(sql);
    // Without parameters a text may hold several statements (the schema's
    // steps); with them it is one statement.
    PgResult result(params.empty() ? PQexec(conn_.get(), text.c_str())
                                   : PQexecParams(conn_.get(), text.c_str(), static_cast<int>(params.size()), nullptr,
                                                  values.data(), lengths.data(), formats.data(), 0));
    ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
    failure.sqlState = state ? state : "";
    failure.why = PgWords(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn_.get()));
    if (failure.why.empty())
        failure.why = PgWords(PQerrorMessage(conn_.get()));
    // Every error the server sends has its SQLSTATE: one without came from
    // libpq itself (the connection closed under it). Class 08 is a
    // connection exception; 57P01-57P03 the server shutting down or not yet
    // up: the connection is gone in each case.
    failure.connectionLost = PQstatus(conn_.get()) != CONNECTION_OK || failure.sqlState.empty() ||
                             failure.sqlState.rfind("08", 0) == 0 || failure.sqlState.rfind("57P", 0) == 0;
    failure.unreachable = false;
    if (failure.connectionLost)
        conn_.reset();
    return nullptr;
}

std::int64_t IntegerOf(std::string_view text)
{
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string_view Cell(const PGresult* r, int row, int column)
{
    if (PQgetisnull(r, row, column))
        return {};
    return {PQgetvalue(r, row, column), static_cast<std::size_t>(PQgetlength(r, row, column))};
}

bool IsNull(const PGresult* r, int row, int column) { return PQgetisnull(r, row, column) != 0; }

std::optional<std::vector<unsigned char>> BytesOf(const PGresult* r, int row, int column)
{
    if (PQgetisnull(r, row, column))
        return std::nullopt;
    std::size_t length = 0;
    unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, column)), &length);
    if (!bytes)
        return std::nullopt;
    std::vector<unsigned char> out(bytes, bytes + length);
    PQfreemem(bytes);
    return out;
}

long RowsChanged(const PGresult* r)
{
    const char* count = PQcmdTuples(const_cast<PGresult*>(r));
    return count ? static_cast<long>(IntegerOf(count)) : 0;
}

}  // namespace velmo::pgstore

// What the hosts sharing the database report of themselves (velmo_hosts,
// velmo_devices): each host writes its own report, and reads the others'.
#include "service/pgstore/PgStore.h"

#include "platform/Text.h"
#include "platform/Timing.h"

#include <algorithm>

namespace velmo::pgstore {

namespace {

// A host silent for this long is left out of the others' figures.
constexpr const char* kForgottenAfter = "1 day";

// A count cell; 0 for NULL.
std::uint64_t Count(std::string_view text) { return static_cast<std::uint64_t>(IntegerOf(text)); }

// "{1,2,3}" as PostgreSQL writes a bigint[].
std::vector<std::uint64_t> Counts(std::string_view array)
{
    std::vector<std::uint64_t> values;
    if (array.size() < 2 || array.front() != '{' || array.back() != '}')
        return values;
    array = array.substr(1, array.size() - 2);
    while (!array.empty()) {
        std::size_t comma = array.find(',');
        values.push_back(Count(array.substr(0, comma)));
        array = comma == std::string_view::npos ? std::string_view() : array.substr(comma + 1);
    }
    return values;
}

std::string BucketsArray(const gateway::TimeHistogram& t)
{
    std::string text = "{";
    for (std::size_t i = 0; i < t.buckets.size(); ++i)
        text += (i ? "," : "") + std::to_string(t.buckets[i]);
    return text + "}";
}

// One velmo_devices row of a report: a device (with its counts when it
// has any), or the counts of a name that is no device now.
std::vector<PgParam> DeviceRow(const std::string& host, int position, const gateway::DeviceFigures* device,
                               const std::string& name, const gateway::DeviceCounts& c)
{
    // What a modem or a device wrote may be no valid UTF-8, or hold a NUL:
    // PostgreSQL's text takes neither, and would refuse every report.
    auto text = [](const std::string& v) {
        std::string clean = Utf16ToUtf8(Utf8ToUtf16(v));
        std::erase(clean, '\0');
        return PgParam::Text(std::move(clean));
    };
    auto number = [](auto v) { return PgParam::Text(std::to_string(v)); };
    gateway::DeviceFigures none;
    const gateway::DeviceFigures& d = device ? *device : none;
    return {text(host),
            number(position),
            text(name),
            number(d.id),
            device ? text(d.state) : PgParam::Null(),
            number(d.signal),
            text(d.registration),
            text(d.op),
            text(d.lastError),
            d.nextTry.empty() ? PgParam::Null() : text(d.nextTry),
            number(d.failedStarts),
            text(d.info),
            number(c.sent),
            number(c.failed),
            number(c.received),
            number(c.delivered),
            number(c.undelivered)};
}

constexpr const char* kPutDevice =
    "INSERT INTO velmo_devices (host, position, name, id, state, signal, registration, operator, last_error, "
    "next_try, failed_starts, info, sent, failed, received, delivered, undelivered) VALUES ($1, $2, $3, $4, $5, $6, "
    "$7, $8, $9, $10::timestamptz, $11, $12, $13, $14, $15, $16, $17)";

}  // namespace

unsigned PgStore::ReportEveryMs() { return std::max<unsigned>(DesignWait(10000), 200); }

HRESULT PgStore::ReportHost(const gateway::HostFigures& figures)
{
    if (!Ready())
        return E_FAIL;
    PgFailure failure;
    bool ok = false;
    {
        PgPool::Borrowed conn = pool_.Borrow();
        PgTransaction transaction(*conn, failure);
        const gateway::TimeHistogram& t = figures.counts.deliveryTimes;
        PgResult last = transaction.Began() ? conn->Exec("SELECT instance FROM velmo_hosts WHERE host = $1 FOR UPDATE",
                                                         {PgParam::Text(settings_.host)}, failure)
                                            : nullptr;
        // The row is this process's own once it reported: another instance
        // in it since then is a second service under the same name.
        bool taken = last && PQntuples(last.get()) > 0 && Cell(last.get(), 0, 0) != instance_;
        if (taken && reported_ && !nameShared_.exchange(true))
            log_.LogEvent(EVENTLOG_ERROR_TYPE,
                          "Another velmosvc uses the queue store under this host's name '%s': each host that "
                          "shares the queue needs a name of its own (<queue host=...>), or each gives back and "
                          "takes over the messages the other holds",
                          settings_.host.c_str());
        ok = last &&
             conn->Exec("INSERT INTO velmo_hosts (host, instance, reported, queued, delivery_buckets, delivery_sum, "
                        "delivery_count) VALUES ($1, $6, now(), $2, $3::bigint[], $4, $5) ON CONFLICT (host) DO "
                        "UPDATE SET instance = EXCLUDED.instance, reported = now(), queued = EXCLUDED.queued, "
                        "delivery_buckets = EXCLUDED.delivery_buckets, delivery_sum = EXCLUDED.delivery_sum, "
                        "delivery_count = EXCLUDED.delivery_count",
                        {PgParam::Text(settings_.host), PgParam::Text(std::to_string(figures.counts.queued)),
                         PgParam::Text(BucketsArray(t)), PgParam::Text(std::to_string(t.sum)),
                         PgParam::Text(std::to_string(t.count)), PgParam::Text(instance_)},
                        failure) &&
             conn->Exec("DELETE FROM velmo_devices WHERE host = $1", {PgParam::Text(settings_.host)}, failure);
        std::map<std::string, gateway::DeviceCounts> counts = figures.counts.devices;
        int position = 0;
        for (const gateway::DeviceFigures& d : figures.devices) {
            auto c = counts.find(d.name);
            ok = ok && conn->Exec(kPutDevice,
                                  DeviceRow(settings_.host, position++, &d, d.name,
                                            c == counts.end() ? gateway::DeviceCounts{} : c->second),
                                  failure);
            if (c != counts.end())
                counts.erase(c);
        }
        for (const auto& [name, c] : counts)
            ok = ok && conn->Exec(kPutDevice, DeviceRow(settings_.host, position++, nullptr, name, c), failure);
        ok = ok && transaction.Commit(failure);
    }
    pool_.Note(ok, failure);
    // A refusal comes back at every report: it is told once, until a report is written again.
    bool refused = !ok && !failure.connectionLost;
    if (refused && !reportRefused_.exchange(true))
        log_.LogEvent(EVENTLOG_WARNING_TYPE,
                      "This host's figures cannot be written to the queue store, so other hosts do not show its "
                      "devices: %s",
                      failure.why.c_str());
    if (ok) {
        reportRefused_ = false;
        reported_ = true;
    }
    return ok ? S_OK : E_FAIL;
}

std::vector<gateway::HostFigures> PgStore::OtherHosts()
{
    std::vector<gateway::HostFigures> hosts;
    if (!Ready())
        return hosts;
    const unsigned silentAfter = 6 * ReportEveryMs();
    PgFailure failure;
    PgResult r = pool_.Exec(
        std::string("SELECT h.host, extract(epoch FROM h.reported)::bigint, h.queued, h.delivery_buckets, "
                    "h.delivery_sum, h.delivery_count, h.reported < now() - make_interval(secs => $2 / 1000.0), "
                    "d.name, d.id, d.state, d.signal, d.registration, d.operator, d.last_error, "
                    "to_char(d.next_try AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), d.failed_starts, "
                    "d.info, d.sent, d.failed, d.received, d.delivered, d.undelivered, d.position "
                    "FROM velmo_hosts h LEFT JOIN velmo_devices d ON d.host = h.host "
                    "WHERE h.host <> $1 AND h.reported > now() - interval '") +
            kForgottenAfter + "' ORDER BY h.host, d.position LIMIT " + std::to_string(kMostDeviceRows),
        {PgParam::Text(settings_.host), PgParam::Text(std::to_string(silentAfter))}, failure);
    if (!r)
        return hosts;
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        std::string host(Cell(r.get(), row, 0));
        if (hosts.empty() || hosts.back().host != host) {
            gateway::HostFigures h;
            h.host = host;
            h.reported = IntegerOf(Cell(r.get(), row, 1));
            h.counts.queued = Count(Cell(r.get(), row, 2));
            std::vector<std::uint64_t> buckets = Counts(Cell(r.get(), row, 3));
            if (buckets.size() == h.counts.deliveryTimes.buckets.size())
                std::copy(buckets.begin(), buckets.end(), h.counts.deliveryTimes.buckets.begin());
            h.counts.deliveryTimes.sum = std::strtod(std::string(Cell(r.get(), row, 4)).c_str(), nullptr);
            h.counts.deliveryTimes.count = Count(Cell(r.get(), row, 5));
            hosts.push_back(std::move(h));
        }
        if (IsNull(r.get(), row, 22))
            continue;  // a host without devices or counts
        gateway::HostFigures& h = hosts.back();
        std::string name(Cell(r.get(), row, 7));
        gateway::DeviceCounts& c = h.counts.devices[name];  // a name listed twice (removed, then added) adds up
        c.sent += Count(Cell(r.get(), row, 17));
        c.failed += Count(Cell(r.get(), row, 18));
        c.received += Count(Cell(r.get(), row, 19));
        c.delivered += Count(Cell(r.get(), row, 20));
        c.undelivered += Count(Cell(r.get(), row, 21));
        if (IsNull(r.get(), row, 9))
            continue;  // counted, but no device of the host now
        gateway::DeviceFigures d;
        bool silent = Cell(r.get(), row, 6) == "t";
        d.name = name;
        d.id = static_cast<std::int32_t>(IntegerOf(Cell(r.get(), row, 8)));
        d.state = silent && d.id ? "lost" : std::string(Cell(r.get(), row, 9));
        d.signal = static_cast<std::int32_t>(IntegerOf(Cell(r.get(), row, 10)));
        d.registration = Cell(r.get(), row, 11);
        d.op = Cell(r.get(), row, 12);
        d.lastError = Cell(r.get(), row, 13);
        d.nextTry = Cell(r.get(), row, 14);
        d.failedStarts = static_cast<std::int32_t>(IntegerOf(Cell(r.get(), row, 15)));
        d.info = Cell(r.get(), row, 16);
        h.devices.push_back(std::move(d));
    }
    return hosts;
}

}  // namespace velmo::pgstore

#include "service/host/ChosenStore.h"

#include "service/pgstore/PgStore.h"
#include "service/pgstore/PgWatch.h"

namespace velmo::host {

ChosenStore::ChosenStore(events::EventSink& log, std::u16string root) : log_(log), folders_(log, std::move(root)) {}

ChosenStore::~ChosenStore() { StopWatch(); }

HRESULT ChosenStore::UsePostgres(const pgstore::PgSettings& settings, std::string& why)
{
    postgres_ = std::make_unique<pgstore::PgStore>(log_, settings);
    active_ = postgres_.get();
    return postgres_->Open(why);
}

void ChosenStore::StartWatch(std::function<void()> wake, std::function<std::vector<GUID>()> held,
                             std::function<gateway::HostFigures()> report)
{
    if (!postgres_ || watch_)
        return;
    watch_ = std::make_unique<pgstore::PgWatch>(*postgres_, std::move(wake), std::move(held), std::move(report));
    if (!watch_->Start())
        log_.LogEvent(EVENTLOG_ERROR_TYPE, "The queue store's watch cannot start: messages other hosts queue are "
                                           "taken only when this host's devices report");
}

void ChosenStore::StopWatch()
{
    if (watch_)
        watch_->Stop();
    watch_.reset();
}

std::string ChosenStore::HostName() { return postgres_ ? postgres_->Settings().host : std::string(); }

std::vector<gateway::HostFigures> ChosenStore::OtherHosts()
{
    return postgres_ ? postgres_->OtherHosts() : std::vector<gateway::HostFigures>();
}

}  // namespace velmo::host

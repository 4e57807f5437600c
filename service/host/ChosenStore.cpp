#include "service/host/ChosenStore.h"

#include "service/pgstore/PgStore.h"

namespace velmo::host {

ChosenStore::ChosenStore(events::EventSink& log, std::u16string root) : log_(log), folders_(log, std::move(root)) {}

ChosenStore::~ChosenStore() = default;

HRESULT ChosenStore::UsePostgres(const pgstore::PgSettings& settings, std::string& why)
{
    postgres_ = std::make_unique<pgstore::PgStore>(log_, settings);
    active_ = postgres_.get();
    return postgres_->Open(why);
}

}  // namespace velmo::host

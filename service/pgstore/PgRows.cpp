#include "service/pgstore/PgRows.h"

#include "platform/SystemTime.h"
#include "platform/Text.h"

#include <cstdio>

namespace velmo::pgstore {

namespace {

// Days from 1899-12-30 (the automation date's day 0) to 1970-01-01.
constexpr double kUnixEpochAsDate = 25569.0;

std::optional<std::string> SecondsOf(const SYSTEMTIME& t)
{
    double date = 0;
    if (t.wYear == 0 || !SystemTimeToVariantTime(&t, &date))
        return std::nullopt;
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", (date - kUnixEpochAsDate) * 86400.0);
    return std::string(text);
}

PgParam TextOf(const Bstr& s)
{
    if (s.IsNull())
        return PgParam::Null();
    std::string text = Utf16ToUtf8(s.view());
    std::erase(text, '\0');
    return PgParam::Text(std::move(text));
}

}  // namespace

std::string UuidOf(const GUID& id)
{
    return GuidToUtf8(id);  // "{...}", which the uuid type reads as well
}

std::vector<PgParam> FieldsOf(const messagefile::MessageRecord& r)
{
    return {PgParam::Text(UuidOf(r.Id)),
            PgParam::Text(std::to_string(r.Status)),
            PgParam::Text(std::to_string(r.RetryCount)),
            TextOf(r.To),
            TextOf(r.From),
            TextOf(r.Body),
            TextOf(r.StatusText),
            PgParam::Maybe(SecondsOf(r.Created)),
            PgParam::Maybe(SecondsOf(r.Completed)),
            PgParam::Maybe(SecondsOf(r.Received)),
            PgParam::Maybe(SecondsOf(r.Accepted)),
            PgParam::Maybe(SecondsOf(r.Discharged)),
            PgParam::Text(std::to_string(r.ExpireAfter)),
            PgParam::Bytes(r.Serialize())};
}

const char* FolderColumn(messagefile::Folder folder)
{
    for (const messagefile::FolderName& f : messagefile::kFolders)
        if (f.folder == folder)
            return f.name;
    return "bad";
}

const messagefile::FolderName& FolderOfColumn(std::string_view name)
{
    const messagefile::FolderName* f = messagefile::FindFolder(name);
    return f ? *f : *messagefile::FindFolder("bad");
}

}  // namespace velmo::pgstore

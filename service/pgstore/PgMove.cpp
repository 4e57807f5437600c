#include "service/pgstore/PgMove.h"

#include "messagefile/MessageId.h"
#include "messagefile/MessageRecord.h"
#include "messagefile/QueueFolders.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/Text.h"
#include "service/pgstore/PgRows.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace velmo::pgstore {

using messagefile::Folder;
using messagefile::MessageRecord;
using messagefile::RecordPtr;

namespace {

constexpr const char kMark[] = ".offer";

std::string FolderPath(const std::string& root, Folder folder)
{
    return root + Utf16ToUtf8(messagefile::NameOf(folder).relative);
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files of a folder, oldest written first (so the newest stays newest
// in the listing that follows).
std::vector<FolderEntry> OldestFirst(const std::string& folder)
{
    std::vector<FolderEntry> files;
    for (FolderEntry& e : ListFolder(folder, "*.velmo"))
        if (!e.folder)
            files.push_back(std::move(e));
    std::stable_sort(files.begin(), files.end(),
                     [](const FolderEntry& a, const FolderEntry& b) { return a.written < b.written; });
    return files;
}

// One file into the tables; true once a row of its message stands.
bool InsertFile(PgConnection& conn, const std::string& folderPath, const std::string& name, Folder folder,
                const std::string& host, std::FILE* out)
{
    std::string path = folderPath + name;
    std::vector<unsigned char> bytes = ReadBytes(path);
    RecordPtr record = MessageRecord::New();
    bool reads = !bytes.empty() && SUCCEEDED(record->Deserialize(bytes.data(), bytes.size()));
    PgFailure failure;
    PgResult done;
    if (reads && folder != Folder::Bad) {
        bool awaiting = folder == Folder::Received && PathExists(folderPath + GuidToUtf8(record->Id) + kMark);
        std::vector<PgParam> values = FieldsOf(*record);
        values.push_back(PgParam::Text(FolderColumn(folder)));
        values.push_back(PgParam::Text(host));
        values.push_back(PgParam::Text(awaiting ? "true" : "false"));
        done = conn.Exec(std::string(kInsertRow) + " ON CONFLICT (id) DO NOTHING", values, failure);
    } else {
        std::string stem = name.substr(0, name.size() - 6);
        std::optional<GUID> id = messagefile::IdOfFileName(Utf8ToUtf16(name), u".velmo");
        done = conn.Exec("INSERT INTO velmo_messages (id, folder, status, file, host) VALUES (coalesce($1::uuid, "
                         "md5($2)::uuid), 'bad', 0, $3, $4) ON CONFLICT (id) DO NOTHING",
                         {id ? PgParam::Text(UuidOf(*id)) : PgParam::Null(), PgParam::Text(stem), PgParam::Bytes(bytes),
                          PgParam::Text(host)},
                         failure);
    }
    if (!done) {
        std::fprintf(out, "%s: not moved: %s\n", EscapeControls(path).c_str(), failure.why.c_str());
        return false;
    }
    if (!DeleteFileDurably(path)) {
        std::fprintf(out, "%s: moved, but the file cannot be removed\n", EscapeControls(path).c_str());
        return false;
    }
    if (reads && folder == Folder::Received)
        (void)DeleteFileDurably(folderPath + GuidToUtf8(record->Id) + kMark);  // a mark left is removed at start
    return true;
}

// One row out of the tables into its folder; true once it is there and the
// row gone.
bool WriteRow(PgConnection& conn, const PGresult* rows, int i, const std::string& root, std::FILE* out)
{
    std::string uuid(Cell(rows, i, 0)), folderName(Cell(rows, i, 1));
    std::optional<std::vector<unsigned char>> bytes = BytesOf(rows, i, 2);
    bool awaiting = Cell(rows, i, 3) == "t";
    std::optional<GUID> id = ParseGuid("{" + uuid + "}");  // PostgreSQL writes it without braces
    std::string folderPath = root + Utf16ToUtf8(FolderOfColumn(folderName).relative);
    std::string path = folderPath + (id ? GuidToUtf8(*id) : uuid) + ".velmo";
    if (!bytes || !id) {
        std::fprintf(out, "row %s: its file cannot be read from the database\n", EscapeControls(uuid).c_str());
        return false;
    }
    if (awaiting && !WriteFileDurably(folderPath + GuidToUtf8(*id) + kMark, "", 0)) {
        std::fprintf(out, "%s: the mark cannot be written\n", path.c_str());
        return false;
    }
    if (!WriteFileDurably(path, bytes->data(), bytes->size())) {
        std::fprintf(out, "%s: cannot be written\n", path.c_str());
        return false;
    }
    PgFailure failure;
    if (!conn.Exec("DELETE FROM velmo_messages WHERE id = $1", {PgParam::Text(uuid)}, failure)) {
        std::fprintf(out, "%s: written, but the row cannot be removed: %s\n", path.c_str(), failure.why.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool MoveIntoDatabase(PgConnection& conn, const std::string& root, const std::string& host, std::FILE* out)
{
    bool all = true;
    for (Folder folder : {Folder::Sent, Folder::Failed, Folder::Queued, Folder::Received, Folder::Bad}) {
        std::string path = FolderPath(root, folder);
        int moved = 0, total = 0;
        for (const FolderEntry& file : OldestFirst(path)) {
            ++total;
            if (InsertFile(conn, path, file.name, folder, host, out))
                ++moved;
            else
                all = false;
        }
        std::fprintf(out, "%s: %d of %d messages moved into the database\n", path.c_str(), moved, total);
    }
    return all;
}

bool MoveOutOfDatabase(PgConnection& conn, const std::string& root, std::FILE* out)
{
    PgFailure failure;
    PgResult held = conn.Exec("SELECT string_agg(DISTINCT lease_host, ', ') FROM velmo_messages WHERE folder = "
                              "'queued' AND lease_until > now()",
                              {}, failure);
    if (!held) {
        std::fprintf(out, "the database cannot be read: %s\n", failure.why.c_str());
        return false;
    }
    if (!IsNull(held.get(), 0, 0)) {
        std::fprintf(out, "hosts hold messages now (%s): stop every gateway host first\n",
                     EscapeControls(std::string(Cell(held.get(), 0, 0))).c_str());
        return false;
    }
    bool all = true;
    int moved = 0, total = 0;
    for (std::string after = "0";;) {
        PgResult rows = conn.Exec("SELECT id, folder, file, awaiting_handlers, listed FROM velmo_messages WHERE "
                                  "listed > $1 ORDER BY listed LIMIT 500",
                                  {PgParam::Text(after)}, failure);
        if (!rows) {
            std::fprintf(out, "the database cannot be read: %s\n", failure.why.c_str());
            return false;
        }
        int n = PQntuples(rows.get());
        for (int i = 0; i < n; ++i) {
            ++total;
            if (WriteRow(conn, rows.get(), i, root, out))
                ++moved;
            else
                all = false;
            after = std::string(Cell(rows.get(), i, 4));
        }
        if (n < 500)
            break;
    }
    std::fprintf(out, "%d of %d messages moved into the folders under %s\n", moved, total, root.c_str());
    return all;
}

}  // namespace velmo::pgstore

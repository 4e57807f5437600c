#include "service/pgstore/PgJournal.h"

#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/SysRoot.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace velmo::pgstore {

namespace {

constexpr int kNumberDigits = 12;

// The entry's number, from the front of its name; 0 for a name without one.
std::uint64_t NumberOf(const std::string& name)
{
    std::uint64_t n = 0;
    for (int i = 0; i < kNumberDigits && i < static_cast<int>(name.size()); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + static_cast<std::uint64_t>(name[i] - '0');
    }
    return n;
}

}  // namespace

PgJournal::PgJournal(std::string folder) : folder_(std::move(folder)) {}

bool PgJournal::IsKind(const std::string& kind)
{
    return kind == "finish" || kind == "update" || kind == "received" || kind == "offered";
}

bool PgJournal::Add(const std::string& kind, const std::string& id, const std::vector<unsigned char>& bytes)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (next_ == 0) {
        (void)MakeDirectories(folder_);  // there already, or the write below tells
        next_ = 1;
        for (const std::string& name : ListFileNames(folder_))
            next_ = std::max(next_, NumberOf(name) + 1);
    }
    char number[32];
    std::snprintf(number, sizeof number, "%0*llu", kNumberDigits, static_cast<unsigned long long>(next_));
    std::string path = folder_ + number + "-" + id + "." + kind;
    if (!WriteFileDurably(path, bytes.data(), bytes.size())) {
        (void)DeleteFileDurably(path);  // a copy not known to last is no entry
        return false;
    }
    ++next_;
    pending_ = true;
    return true;
}

std::vector<PgJournal::Entry> PgJournal::Entries() const
{
    std::vector<Entry> entries;
    std::vector<std::string> names = ListFileNames(folder_);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::size_t dot = name.rfind('.');
        if (NumberOf(name) == 0 || dot == std::string::npos || !IsKind(name.substr(dot + 1)))
            continue;  // a temporary file of an interrupted write, or nothing of ours
        std::ifstream in(folder_ + name, std::ios::binary);
        if (!in)
            continue;
        entries.push_back(
            {name, name.substr(dot + 1), std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {})});
    }
    pending_ = !entries.empty();
    return entries;
}

void PgJournal::Remove(const Entry& entry) { (void)DeleteFileDurably(folder_ + entry.name); }

}  // namespace velmo::pgstore

#include "smscodec/PartJoin.h"

#include <algorithm>

namespace velmo::sms {

JoinedParts JoinParts(std::vector<ReceivedPart> parts, unsigned total)
{
    std::stable_sort(parts.begin(), parts.end(),
                     [](const ReceivedPart& a, const ReceivedPart& b) { return a.sequence < b.sequence; });
    JoinedParts out;
    unsigned next = 1;
    for (ReceivedPart& p : parts) {
        if (p.sequence < next || p.sequence > total)
            continue;  // the same place twice, place 0, or beyond the count
        for (; next < p.sequence; ++next) {
            out.text += kMissingPartGap;
            out.missing.push_back(next);
        }
        out.text += p.text;
        out.files.push_back(std::move(p.file));
        next = p.sequence + 1;
    }
    for (; next <= total; ++next) {
        out.text += kMissingPartGap;
        out.missing.push_back(next);
    }
    return out;
}

bool HasAllParts(const std::vector<ReceivedPart>& parts, unsigned total)
{
    if (total == 0)
        return false;
    std::vector<bool> seen(total + 1, false);
    for (const ReceivedPart& p : parts)
        if (p.sequence >= 1 && p.sequence <= total)
            seen[p.sequence] = true;
    return std::find(seen.begin() + 1, seen.end(), false) == seen.end();
}

std::string MissingPartsNote(unsigned total, const std::vector<unsigned>& missing)
{
    if (missing.empty())
        return {};
    std::string list;
    for (unsigned n : missing)
        list += (list.empty() ? "" : ", ") + std::to_string(n);
    return "Received in " + std::to_string(total) + " parts, of which part" + (missing.size() > 1 ? "s " : " ") + list +
           " did not arrive in time; the text holds those that came";
}

}  // namespace velmo::sms

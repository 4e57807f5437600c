#include "devices/cellgate/DeliveryReports.h"

#include "devices/cellgate/DeviceFiles.h"
#include "interfaces/VelmoDevice.h"
#include "platform/File.h"
#include "platform/FolderListing.h"
#include "platform/SysRoot.h"
#include "platform/SystemTime.h"
#include "platform/Text.h"
#include "platform/Timing.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace velmo::cellgate {

namespace {

constexpr std::int64_t kDaySeconds = 86400;
constexpr unsigned kMostParts = 255;
constexpr std::size_t kLongestNumber = 40;

std::string Digits(std::string_view number)
{
    std::string out;
    for (char c : number)
        if (c >= '0' && c <= '9')
            out += c;
    return out;
}

// "2026-12-09T10:00:30Z" of seconds since 1970; "" for 0.
std::string IsoOfSeconds(std::int64_t seconds) { return IsoDate(UtcOfSeconds(seconds)); }

// The digits of a number and its "+": what a record keeps of the recipient.
std::string Dialled(std::string_view number)
{
    std::string out;
    for (char c : number)
        if ((c >= '0' && c <= '9') || c == '+')
            out += c;
    return out.substr(0, kLongestNumber);
}

std::string StatusWords(int status)
{
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(status));
    return sms::StatusMeaning(static_cast<unsigned>(status)) + " (" + code + ")";
}

std::string PartWords(std::size_t part, std::size_t parts)
{
    return parts > 1 ? " (part " + std::to_string(part) + " of " + std::to_string(parts) + ")" : "";
}

}  // namespace

SYSTEMTIME UtcOfSeconds(std::int64_t seconds)
{
    constexpr double kDaysTo1970 = 25569.0;  // from the automation date's day 0, 1899-12-30
    SYSTEMTIME t{};
    if (seconds > 0)
        (void)VariantTimeToSystemTime(static_cast<double>(seconds) / kDaySeconds + kDaysTo1970, &t);  // else unset
    return t;
}

bool SameRecipient(std::string_view reported, std::string_view sentTo)
{
    // Leading zeros are trunk or international prefixes: "0171..." is "+49171..." dialled at home.
    std::string a = Digits(reported), b = Digits(sentTo);
    a.erase(0, a.find_first_not_of('0'));
    b.erase(0, b.find_first_not_of('0'));
    if (a.empty() || b.empty())
        return false;
    if (a.size() > b.size())
        std::swap(a, b);
    return a == b || (a.size() >= 6 && b.compare(b.size() - a.size(), a.size(), a) == 0);
}

std::string DeliveryReports::Folder() const { return DeviceFile(device_, ".reports/"); }

std::size_t DeliveryReports::Load(std::uint64_t validitySeconds)
{
    if (loaded_)
        return 0;
    loaded_ = true;
    std::string folder = Folder();
    const std::int64_t keepMs = (static_cast<std::int64_t>(validitySeconds) + kDaySeconds) * 1000;
    const std::int64_t now = WallClockMs();
    std::size_t removed = 0;
    for (const FolderEntry& e : ListFolder(folder, "{*}")) {
        std::optional<GUID> id = ParseGuid(e.name);
        std::ifstream in(folder + e.name);
        Message m;
        std::string word;
        std::size_t count = 0;
        bool ok = id && in >> word >> m.to && word == "to" && m.to.size() <= kLongestNumber && in >> word >> count &&
                  word == "parts" && count >= 1 && count <= kMostParts;
        if (ok)
            m.parts.resize(count);
        std::size_t n = 0;
        Part p;
        while (ok && in >> word >> n >> p.reference >> p.sentMs >> p.status >> p.accepted >> p.discharged) {
            ok = word == "part" && n >= 1 && n <= count && p.reference >= -1 && p.reference <= 255 && p.status >= -1 &&
                 p.status <= 255;
            if (ok)
                m.parts[n - 1] = p;
        }
        std::int64_t newest = 0;
        for (const Part& part : m.parts)
            newest = std::max(newest, part.sentMs);
        if (!ok || newest == 0 || now - newest > keepMs) {
            (void)DeleteFileW(Utf8ToUtf16(folder + e.name).c_str());  // damaged or past its time: no report will come
            ++removed;
            continue;
        }
        messages_[*id] = std::move(m);
    }
    return removed;
}

bool DeliveryReports::Save(const GUID& id, const Message& m)
{
    std::ostringstream out;
    out << "to " << m.to << "\nparts " << m.parts.size() << "\n";
    for (std::size_t i = 0; i < m.parts.size(); ++i) {
        const Part& p = m.parts[i];
        if (p.reference >= 0)
            out << "part " << i + 1 << ' ' << p.reference << ' ' << p.sentMs << ' ' << p.status << ' ' << p.accepted
                << ' ' << p.discharged << "\n";
    }
    std::string text = out.str();
    std::string folder = Folder();
    return MakeDirectories(folder) && WriteFileDurably(folder + GuidToUtf8(id), text.data(), text.size());
}

bool DeliveryReports::Submitted(const GUID& id, const std::string& to, unsigned part, unsigned parts,
                                unsigned reference)
{
    if (part < 1 || part > parts || parts > kMostParts || reference > 255)
        return false;
    std::string number = Dialled(to);
    if (number.empty())
        return false;  // nothing a report could name
    Message& m = messages_[id];
    if (m.parts.size() != parts || m.to != number)
        m = Message{number, std::vector<Part>(parts)};
    m.parts[part - 1] = Part{static_cast<int>(reference), WallClockMs(), -1, 0, 0};
    return Save(id, m);
}

DeliveryReports::Taken DeliveryReports::Take(const sms::StatusReport& report)
{
    const std::string recipient = Utf16ToUtf8(report.recipient);
    const GUID* best = nullptr;
    std::size_t bestPart = 0;
    std::int64_t bestMs = -1;
    for (auto& [id, m] : messages_) {
        if (!SameRecipient(recipient, m.to))
            continue;
        for (std::size_t i = 0; i < m.parts.size(); ++i) {
            const Part& p = m.parts[i];
            bool settled = p.status >= 0 && sms::DeliveryOf(static_cast<unsigned>(p.status)) != sms::Delivery::Pending;
            if (p.reference == static_cast<int>(report.reference) && !settled && p.sentMs > bestMs) {
                best = &id;
                bestPart = i;
                bestMs = p.sentMs;
            }
        }
    }
    Taken taken;
    if (!best)
        return taken;
    taken.matched = true;
    const GUID id = *best;
    Message& m = messages_[id];
    Part& p = m.parts[bestPart];
    p.status = static_cast<int>(report.status);
    p.accepted = report.submitted.UnixSeconds();
    p.discharged = report.discharged.UnixSeconds();
    (void)Save(id, m);  // a report not kept is taken again from what the service holds: at worst it is asked anew
    taken.outcome = Judge(id, m, bestPart);
    return taken;
}

std::optional<DeliveryReports::Outcome> DeliveryReports::Judge(const GUID& id, const Message& m, std::size_t reported)
{
    Outcome out;
    out.id = id;
    const std::size_t n = m.parts.size();
    bool all = true;
    for (std::size_t i = 0; i < n; ++i) {
        const Part& p = m.parts[i];
        if (p.status < 0) {
            all = false;
            continue;
        }
        sms::Delivery d = sms::DeliveryOf(static_cast<unsigned>(p.status));
        if (d == sms::Delivery::Failed) {
            out.state = DELIVERY_FAILED;
            out.accepted = p.accepted;
            out.discharged = p.discharged;
            out.text = "\r\nNot delivered" + PartWords(i + 1, n) + ": " + StatusWords(p.status) +
                       (p.discharged ? ", reported for " + IsoOfSeconds(p.discharged) : std::string());
            return out;
        }
        if (d == sms::Delivery::Pending) {
            all = false;
            continue;
        }
        if (p.accepted && (!out.accepted || p.accepted < out.accepted))
            out.accepted = p.accepted;  // the first part the centre took
        out.discharged = std::max(out.discharged, p.discharged);
    }
    if (all) {
        out.state = DELIVERY_DONE;
        std::string when = out.discharged ? " at " + IsoOfSeconds(out.discharged) : std::string();
        out.text = n > 1 ? "\r\nAll " + std::to_string(n) + " parts delivered to the phone, the last" + when
                         : "\r\nDelivered to the phone" + when;
        return out;
    }
    const Part& p = m.parts[reported];
    if (sms::DeliveryOf(static_cast<unsigned>(p.status)) != sms::Delivery::Pending)
        return std::nullopt;  // this part is delivered; the others are still to come
    out.state = DELIVERY_PENDING;
    out.accepted = out.discharged = 0;
    out.text = "\r\nNot delivered yet" + PartWords(reported + 1, n) + ": " + StatusWords(p.status) +
               "; the network tries again";
    return out;
}

void DeliveryReports::Forget(const GUID& id)
{
    messages_.erase(id);
    (void)DeleteFileW(Utf8ToUtf16(Folder() + GuidToUtf8(id)).c_str());  // a record left behind goes at its time
}

std::vector<DeliveryReports::Outcome> DeliveryReports::Unreported() const
{
    std::vector<Outcome> out;
    for (const auto& [id, m] : messages_)
        for (std::size_t i = 0; i < m.parts.size(); ++i)
            if (m.parts[i].status >= 0) {
                std::optional<Outcome> o = Judge(id, m, i);
                if (o && o->state != DELIVERY_PENDING) {
                    out.push_back(*o);
                    break;
                }
            }
    return out;
}

}  // namespace velmo::cellgate

// What a modem says it supports, read from its test commands and queries,
// and the choices the device makes from it. Pure: text in, values out; a
// reply that does not say gives the documented empty value.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::at {

// The values each field of AT+CNMI allows, from an AT+CNMI=? reply such
// as "+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)": fields[0] the mode, [1] mt
// (how new messages are indicated), then bm, ds and bfr.
struct CnmiSupport {
    std::vector<std::set<int>> fields;
    bool Allows(std::size_t field, int value) const { return field < fields.size() && fields[field].count(value); }
};
// nullopt when the reply holds no +CNMI line with a list.
std::optional<CnmiSupport> ParseCnmiTest(std::string_view reply);

enum class Notification {
    StoreAndAnnounce,  // mt 1: the modem stores a new message and announces it (+CMTI)
    Direct,            // mt 2 or 3: the modem hands it over (+CMT) and keeps no copy
    None,              // the modem announces nothing: the device lists its storage
};
// What an AT+CNMI setting ("1,2") asks for; None for mt 0, a missing mt or
// an empty setting.
Notification NotificationOf(std::string_view setting);

struct CnmiChoice {
    Notification kind = Notification::None;
    std::string setting;  // the argument of AT+CNMI, "2,1"; empty for None
};
// The supported setting nearest to the configured one: store and announce
// (mt 1) first, then direct delivery (mt 2); the mode is the configured
// one when it is 1 or 2 and allowed, else 2, else 1. None when the modem
// allows neither.
CnmiChoice ChooseCnmi(const CnmiSupport& support, std::string_view configured);

// The storages the first group of an AT+CPMS=? reply offers for reading
// ("+CPMS: ("SM","ME","MT"),(...),(...)"), upper case, without quotes, in
// the reply's order; empty when the reply names none.
std::vector<std::string> ParseStorageList(std::string_view reply);
// Of the storages offered, those the device reads received messages from:
// SM and ME, in that order; MT (both of them as one) only when neither is
// offered.
std::vector<std::string> ReceiveStorages(const std::vector<std::string>& offered);
// The first storage an AT+CPMS? reply names ("+CPMS: "SM",3,30,..."),
// upper case; empty when none.
std::string ParseCurrentStorage(std::string_view reply);

// The number an AT+CSCA? reply gives ("+CSCA: "+491710760000",145");
// empty when none.
std::string ParseServiceCentre(std::string_view reply);

// The value an identity command (AT+CGMI, AT+CGMM, AT+CGMR, AT+CGSN,
// AT+CIMI) answered: the first line that is not a final result, with a
// prefix such as "+CGMI: " and surrounding quotes and blanks removed, cut
// to kIdentityLimit characters; empty when there is none.
constexpr std::size_t kIdentityLimit = 100;
std::string ParseIdentity(std::string_view reply);

}  // namespace velmo::at

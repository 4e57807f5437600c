// Joining the parts of a concatenated message that came, in order: the
// pure half of reassembly, apart from the files the parts are kept in.
//
// A part is its place (1..total) and its text. Joined, each place gives
// its text once (a duplicate adds nothing), and a place no part came for
// gives a visible gap, so a reader sees that text is missing and where.
// Parts whose place is 0 or beyond total are not part of the message and
// are passed over.
#pragma once

#include <string>
#include <vector>

namespace velmo::sms {

struct ReceivedPart {
    unsigned sequence = 0;  // 1..total
    std::u16string text;
    std::string file;  // where it is kept; carried through for the caller
};

struct JoinedParts {
    std::u16string text;
    std::vector<unsigned> missing;   // the places no part came for, rising
    std::vector<std::string> files;  // the files of the parts used, in order
};

// What stands in the text for a missing part.
inline constexpr char16_t kMissingPartGap[] = u" [...] ";

// Never fails; total 0 gives an empty result.
JoinedParts JoinParts(std::vector<ReceivedPart> parts, unsigned total);

// True when every place from 1 to total has a part (total 0: false).
bool HasAllParts(const std::vector<ReceivedPart>& parts, unsigned total);

// The status text of a message stored without some parts: "Received in N
// parts, of which part(s) ... did not arrive in time; the text holds those
// that came". Empty when nothing is missing.
std::string MissingPartsNote(unsigned total, const std::vector<unsigned>& missing);

}  // namespace velmo::sms

#include "service/queue/StatusText.h"

#include <string>

namespace velmo::queue {

namespace {

constexpr char16_t kCutMark[] = u"[earlier status text cut]";

}  // namespace

void AppendStatusText(Bstr& text, std::u16string_view more)
{
    std::u16string joined(text.view());
    joined += more;
    if (joined.size() > kStatusTextLimit) {
        std::size_t keep = kStatusTextLimit - std::u16string_view(kCutMark).size();
        std::size_t from = joined.size() - keep;
        if (from < joined.size() && joined[from] >= 0xDC00 && joined[from] <= 0xDFFF)
            ++from;  // never half a surrogate pair
        joined = kCutMark + joined.substr(from);
    }
    text = Bstr(joined);
}

}  // namespace velmo::queue

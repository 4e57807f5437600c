#include "devices/cellgate/PartReference.h"

#include "devices/cellgate/DeviceFiles.h"
#include "platform/File.h"
#include "platform/Timing.h"

#include <fstream>

namespace velmo::cellgate {

unsigned PartReference::Next()
{
    std::string path = DeviceFile(device_, ".reference");
    if (last_ < 0) {
        std::ifstream in(path);
        int stored = -1;
        if (in >> stored && stored >= 0 && stored <= 255)
            last_ = stored;
        else
            last_ = static_cast<int>(WallClockMs() / 1000 % 256);
    }
    last_ = (last_ + 1) % 256;
    std::string text = std::to_string(last_) + "\n";
    // A count that cannot be kept only risks a repeat after the next restart.
    (void)(MakeDeviceFolder() && WriteFileDurably(path, text.data(), text.size()));
    return static_cast<unsigned>(last_);
}

}  // namespace velmo::cellgate

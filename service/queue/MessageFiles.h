// Message files in the folders under the root, read the way the service
// reads them: a file that is damaged is kept aside in bad/, one that
// cannot be read now is left for a later read, and either is logged.
#pragma once

#include "messagefile/MessageRecord.h"
#include "service/events/EventSink.h"

#include <string>

namespace velmo::queue {

// The record in the file at path (whose name within its folder is name),
// or null after logging why not: a damaged file is moved into bad/ under
// the same name, a file that could not be read (an I/O error, a lock held)
// stays where it is.
messagefile::RecordPtr LoadOrQuarantine(events::EventSink& log, const std::u16string& root, const std::u16string& path,
                                        const std::u16string& name);

// Moves the file into root's bad/ under name. A file that is gone has
// nothing to move; one that cannot be moved stays where it is, never
// deleted.
void MoveToBad(const std::u16string& root, const std::u16string& path, const std::u16string& name);

// Whether anything stands at path.
bool Exists(const std::u16string& path);

}  // namespace velmo::queue

// The message viewer's dialog: one message file shown read-only, its
// status word, the date of that status in local time, sender, recipient,
// text, retries and status text. It never changes the file.
#pragma once

#include "platform/Dialog.h"

#include <string>

namespace velmo::viewer {

// The path from the whole command line: a leading and then a trailing
// double quote are dropped when the text is longer than two characters.
std::string PathFromCommandLine(const std::string& commandLine);

// Shows the dialog for the file (modal, until Close or Esc). False when the
// file could not be read: the dialog then shows the error and empty fields.
bool ShowMessage(const std::string& path);

}  // namespace velmo::viewer

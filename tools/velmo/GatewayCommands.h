// The commands of velmo that speak to the service's gateway object: each
// takes its arguments after the command word, writes its data to out and
// its complaints to err, and gives the exit code. Every one takes --host
// [USER@]HOST (the service on another machine, over SSH) and --json (one
// JSON document on out instead of text; watch writes one object per
// line). Exit codes: 0 done, 1 the service failed or refused, 2 a usage
// error, 3 an identifier the service does not know.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace velmo::cli {

// velmo list [--folder queued|sent|failed|received|bad] [--limit N]:
// newest first, one message per line (id, status, date, the other party;
// tab-separated), or a JSON array. Without --limit, every message.
int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// velmo show ID: every field of one message.
int ShowCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// velmo status [--wait [--timeout S]] ID: the status word, its date (UTC)
// and the status text, each on its own line. --wait waits for the
// message's SENT or FAILED signal first: exit 0 for SENT, 1 for FAILED,
// 124 when S seconds pass first.
int StatusCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// velmo watch: one line per event of the gateway until ended.
int WatchCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// velmo devices: the devices, their state and what they know of their radio.
int DevicesCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velmo::cli

// The script handler: an event handler that runs the administrator's
// programs for each received message.
//
// OnIncoming runs every executable file of <root>handlers.d/ in name order,
// without a shell, with the sender in VELMO_FROM, the reception time in
// VELMO_DATE (ISO 8601, UTC) and the text in VELMO_BODY and on standard
// input. What a program that exits with 0 or 100 prints (up to 64 KiB;
// nothing or white space only means no reply) goes back to the sender with
// Reply and Send. Exit status 0 goes on to the next program, 100 ends the
// chain (velmoBreak); any other status, or a program still running after
// 30 s (then ended), is a warning event naming the program, and the chain
// goes on. When the service stops, a running program is ended at once.
#pragma once

#include "interfaces/VelmoLib.h"
#include "platform/DispatchObject.h"

#include <atomic>
#include <string>

inline constexpr CLSID CLSID_ScriptHandler = velmo::MakeGuid("{6433DA4B-AC98-4EBD-B221-FD5B217DA8F6}");

namespace velmo::scripthandler {

// "2026-12-08T05:04:31Z"
std::string IsoUtc(DATE date);

class ScriptHandler final : public DispatchObject<IDispatch> {
public:
    ScriptHandler();

    // The chain's answer for one message: velmoContinue or velmoBreak.
    LONG OnIncoming(IDispatch* message);

protected:
    HRESULT Call(const DispMember& member, std::span<Variant> args, VARIANT* result) override;
};

}  // namespace velmo::scripthandler

#pragma once

// A run with more power than its user's own, elevated or as the system or a
// service account, follows no junction that a user who is not an
// administrator made: such a junction could lead its writes into folders
// that user may not change. Where Windows does not know this protection yet
// (Windows 7 lacks even the call), and under Wine, whose call does nothing,
// the run goes on without it, and the result is false. An ordinary user's run
// is not changed.
bool guard_against_untrusted_junctions();

// Which calls of the host callback belong to the plugin being probed. Each
// probe gets a number; every thread notes, as it starts, the number of the
// probe running then (0 between probes). A call belongs to the probe when
// it comes from the thread running the probe, or from a thread started
// while this same probe ran.
#pragma once

// Around the plugin's part of a probe: from right before its entry point
// is called until effClose has returned.
void BeginProbe();
void EndProbe();
// Leaves the thread's last-error value as it found it.
bool CallBelongsToProbe();

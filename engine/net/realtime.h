// Scheduling for the threads that carry voice. They wake every 20 ms and
// work for microseconds; on a busy machine an ordinary thread can wait
// hundreds of milliseconds for a core, and the voice breaks up. Where the
// system allows it (CAP_SYS_NICE, or an RLIMIT_RTPRIO above zero as the
// audio group has on many desktops) such a thread moves to the round-robin
// real-time class at a low priority, below a sound server's; elsewhere it
// stays as it was. ONDAVOX_REALTIME=off keeps every thread ordinary.
#pragma once

namespace iax2net {

// Asks for the real-time class for the calling thread; returns whether it
// has it now.
bool enterRealtime();

// Puts the calling thread back among the ordinary ones: for a thread
// started by a real-time one to do slow work, which it would inherit.
void leaveRealtime();

} // namespace iax2net

#include "realtime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace iax2net {

namespace {

// Low in the real-time range: PulseAudio and PipeWire take 5 to 20 for
// their own threads, JACK more, and ours must not delay theirs.
constexpr int kPriority = 4;

bool allowed()
{
    const char *setting = std::getenv("ONDAVOX_REALTIME");
    return !setting || std::strcmp(setting, "off") != 0;
}

} // namespace

bool enterRealtime()
{
    if (!allowed())
        return false;
    sched_param param{};
    param.sched_priority = kPriority;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0)
        return true;
    // Without the capability the limit decides how high we may go.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == 0)
        return false;
    param.sched_priority = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, kPriority));
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

void leaveRealtime()
{
    int policy = SCHED_OTHER;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0 || policy == SCHED_OTHER)
        return;
    param.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

} // namespace iax2net

#include "engine_double.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::mutex mutex;
std::vector<EngineDouble::Call> recorded;
int initializeResult = 0;
int registerResult = 0;
iaxc_event_callback_t installed = nullptr;
std::vector<EngineDouble::Device> deviceList;
std::vector<iaxc_audio_device> deviceArray;
int currentInput = -1;
int currentOutput = -1;
int currentRing = -1;
bool callEncrypted = false;

void record(const char *function, std::vector<std::string> args = {})
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.push_back({function, std::move(args)});
}

std::string text(const char *value)
{
    return value ? std::string(value) : std::string("(null)");
}

} // namespace

namespace EngineDouble {

void reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.clear();
    initializeResult = 0;
    registerResult = 0;
    installed = nullptr;
    deviceList.clear();
    deviceArray.clear();
    currentInput = currentOutput = currentRing = -1;
    callEncrypted = false;
}

std::vector<Call> calls()
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

std::vector<std::string> functions()
{
    std::vector<std::string> names;
    for (const Call &call : calls())
        names.push_back(call.function);
    return names;
}

std::vector<Call> callsOf(const std::string &function)
{
    std::vector<Call> matching;
    for (const Call &call : calls()) {
        if (call.function == function)
            matching.push_back(call);
    }
    return matching;
}

void clearCalls()
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.clear();
}

void setInitializeResult(int result)
{
    std::lock_guard<std::mutex> lock(mutex);
    initializeResult = result;
}

void setRegisterResult(int result)
{
    std::lock_guard<std::mutex> lock(mutex);
    registerResult = result;
}

void setDevices(std::vector<Device> devices, int input, int output, int ring)
{
    std::lock_guard<std::mutex> lock(mutex);
    deviceList = std::move(devices);
    deviceArray.clear();
    for (const Device &device : deviceList)
        deviceArray.push_back({device.name.c_str(), device.capabilities, device.id});
    currentInput = input;
    currentOutput = output;
    currentRing = ring;
}

void setCallEncrypted(bool encrypted)
{
    std::lock_guard<std::mutex> lock(mutex);
    callEncrypted = encrypted;
}

int deliver(const iaxc_event &event)
{
    iaxc_event_callback_t callback;
    {
        std::lock_guard<std::mutex> lock(mutex);
        callback = installed;
    }
    if (!callback)
        return -1;
    int result = 0;
    std::thread engineThread([&] { result = callback(event); });
    engineThread.join();
    return result;
}

iaxc_event stateEvent(int state)
{
    iaxc_event event;
    std::memset(&event, 0, sizeof event);
    event.type = IAXC_EVENT_STATE;
    event.ev.call.callNo = 0;
    event.ev.call.state = state;
    event.ev.call.format = IAXC_FORMAT_GSM;
    std::strcpy(event.ev.call.remote, "999");
    std::strcpy(event.ev.call.local, "1000");
    std::strcpy(event.ev.call.local_context, "default");
    return event;
}

iaxc_event registrationEvent(int id, int reply)
{
    iaxc_event event;
    std::memset(&event, 0, sizeof event);
    event.type = IAXC_EVENT_REGISTRATION;
    event.ev.reg.id = id;
    event.ev.reg.reply = reply;
    return event;
}

iaxc_event netStatsEvent(const int v[16])
{
    iaxc_event event;
    std::memset(&event, 0, sizeof event);
    event.type = IAXC_EVENT_NETSTAT;
    iaxc_ev_netstats &n = event.ev.netstats;
    n.callNo = v[0];
    n.rtt = v[1];
    n.local = {v[2], v[3], v[4], v[5], v[6], v[7], v[8]};
    n.remote = {v[9], v[10], v[11], v[12], v[13], v[14], v[15]};
    return event;
}

} // namespace EngineDouble

extern "C" {

int iaxc_initialize(int num_calls)
{
    record("iaxc_initialize", {std::to_string(num_calls)});
    std::lock_guard<std::mutex> lock(mutex);
    return initializeResult;
}

void iaxc_shutdown(void)
{
    record("iaxc_shutdown");
}

void iaxc_set_formats(int preferred, int allowed)
{
    record("iaxc_set_formats", {std::to_string(preferred), std::to_string(allowed)});
}

void iaxc_set_silence_threshold(float thr)
{
    char value[32];
    std::snprintf(value, sizeof value, "%.1f", static_cast<double>(thr));
    record("iaxc_set_silence_threshold", {value});
}

void iaxc_set_event_callback(iaxc_event_callback_t func)
{
    record("iaxc_set_event_callback", {func ? "callback" : "(null)"});
    std::lock_guard<std::mutex> lock(mutex);
    installed = func;
}

int iaxc_start_processing_thread(void)
{
    record("iaxc_start_processing_thread");
    return 0;
}

int iaxc_stop_processing_thread(void)
{
    record("iaxc_stop_processing_thread");
    return 0;
}

int iaxc_register(const char *user, const char *pass, const char *host)
{
    record("iaxc_register", {text(user), text(pass), text(host)});
    std::lock_guard<std::mutex> lock(mutex);
    return registerResult;
}

int iaxc_unregister(int id)
{
    record("iaxc_unregister", {std::to_string(id)});
    return 0;
}

int iaxc_call(const char *dest)
{
    record("iaxc_call", {text(dest)});
    return 0;
}

void iaxc_dump_call(void)
{
    record("iaxc_dump_call");
}

void iaxc_send_dtmf(char digit)
{
    record("iaxc_send_dtmf", {std::string(1, digit)});
}

int iaxc_set_mute(int muted)
{
    record("iaxc_set_mute", {std::to_string(muted)});
    return 0;
}

int iaxc_call_is_encrypted(void)
{
    std::lock_guard<std::mutex> lock(mutex);
    return callEncrypted ? 1 : 0;
}

int iaxc_audio_devices_get(struct iaxc_audio_device **devs, int *nDevs, int *input, int *output, int *ring)
{
    record("iaxc_audio_devices_get");
    std::lock_guard<std::mutex> lock(mutex);
    *devs = deviceArray.empty() ? nullptr : deviceArray.data();
    *nDevs = static_cast<int>(deviceArray.size());
    *input = currentInput;
    *output = currentOutput;
    *ring = currentRing;
    return 0;
}

int iaxc_audio_devices_set(int input, int output, int ring)
{
    record("iaxc_audio_devices_set", {std::to_string(input), std::to_string(output), std::to_string(ring)});
    return 0;
}

int iaxc_audio_devices_refresh(void)
{
    record("iaxc_audio_devices_refresh");
    return 0;
}

int iaxc_audio_test_start(void)
{
    record("iaxc_audio_test_start");
    return 0;
}

int iaxc_audio_test_stop(void)
{
    record("iaxc_audio_test_stop");
    return 0;
}

} // extern "C"

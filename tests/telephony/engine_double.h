// A stand-in for the IAX2 engine with the same C interface. It records every
// call the program makes, answers with values the test chooses, and delivers
// events to the program's callback on a thread of its own, as the real
// engine's processing thread does.
#pragma once

#include <iaxclient.h>

#include <string>
#include <vector>

namespace EngineDouble {

struct Call
{
    std::string function;          // e.g. "iaxc_register"
    std::vector<std::string> args; // texts as passed (raw bytes), numbers in decimal
};

struct Device
{
    std::string name;
    long capabilities;
    int id;
};

// Forgets the recorded calls and goes back to the default answers:
// initialisation succeeds, registration returns 0 (refused), no devices,
// current devices -1, calls in the clear.
void reset();

std::vector<Call> calls();
// The function names of the recorded calls, in order.
std::vector<std::string> functions();
// The recorded calls of one function.
std::vector<Call> callsOf(const std::string &function);
void clearCalls();

void setInitializeResult(int result);
void setRegisterResult(int result);
void setDevices(std::vector<Device> devices, int input, int output, int ring);
// What iaxc_call_is_encrypted() answers; asking is not recorded.
void setCallEncrypted(bool encrypted);

// Runs the installed callback with the event on a new thread and waits for
// it; returns the callback's result (-1 without a callback).
int deliver(const iaxc_event &event);

iaxc_event stateEvent(int state);
iaxc_event registrationEvent(int id, int reply);
iaxc_event netStatsEvent(const int values[16]);

} // namespace EngineDouble

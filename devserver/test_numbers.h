// Numbers that always behave the same way, so that every outcome of a call
// can be tried on purpose. Every answered call echoes the caller's voice.
//
// Numbers are as the IAX2 side receives them: international numbers with
// their "00", service numbers (the echo test) as they are.
#pragma once

#include <string_view>

namespace devserver {

enum class CallScript {
    AnswerAtOnce,
    Busy,
    Congestion,
    RingUntilCancelled,
    AnswerThenHangUp,  // after ServerCoreOptions::answeredHangupMs
    RingThenAnswer,    // after ServerCoreOptions::ringBeforeAnswerMs; every other number
    ToneThenAnswer,    // PROGRESS and a ringback tone as voice before the answer (early media)
};

struct TestNumber {
    std::string_view number;
    CallScript script;
};

inline constexpr std::string_view kEchoTestNumber = "999";

inline constexpr TestNumber kTestNumbers[] = {
    {kEchoTestNumber, CallScript::AnswerAtOnce},
    {"0015550100", CallScript::Busy},
    {"0015550101", CallScript::RingUntilCancelled},
    {"0015550102", CallScript::Congestion},
    {"0015550103", CallScript::AnswerThenHangUp},
    {"0015550104", CallScript::ToneThenAnswer},
};

inline const TestNumber *findTestNumber(std::string_view number)
{
    for (const TestNumber &t : kTestNumbers) {
        if (t.number == number)
            return &t;
    }
    return nullptr;
}

inline CallScript callScriptFor(std::string_view number)
{
    const TestNumber *t = findTestNumber(number);
    return t ? t->script : CallScript::RingThenAnswer;
}

} // namespace devserver

// IAX2 numbers as the IANA "IAX Parameters" registry assigns them.
#pragma once

#include <cstdint>

namespace iax2 {

constexpr std::uint16_t kDefaultPort = 4569;
constexpr std::uint16_t kProtocolVersion = 2;
constexpr std::uint16_t kMaxCallNumber = 0x7fff;

namespace frametype {
constexpr std::uint8_t DtmfEnd = 1;
constexpr std::uint8_t Voice = 2;
constexpr std::uint8_t Video = 3;
constexpr std::uint8_t Control = 4;
constexpr std::uint8_t Null = 5;
constexpr std::uint8_t Iax = 6;
constexpr std::uint8_t Text = 7;
constexpr std::uint8_t Image = 8;
constexpr std::uint8_t Html = 9;
constexpr std::uint8_t ComfortNoise = 10;
constexpr std::uint8_t DtmfBegin = 12;
} // namespace frametype

namespace iaxcmd {
constexpr std::uint8_t New = 1;
constexpr std::uint8_t Ping = 2;
constexpr std::uint8_t Pong = 3;
constexpr std::uint8_t Ack = 4;
constexpr std::uint8_t Hangup = 5;
constexpr std::uint8_t Reject = 6;
constexpr std::uint8_t Accept = 7;
constexpr std::uint8_t AuthReq = 8;
constexpr std::uint8_t AuthRep = 9;
constexpr std::uint8_t Inval = 10;
constexpr std::uint8_t LagRq = 11;
constexpr std::uint8_t LagRp = 12;
constexpr std::uint8_t RegReq = 13;
constexpr std::uint8_t RegAuth = 14;
constexpr std::uint8_t RegAck = 15;
constexpr std::uint8_t RegRej = 16;
constexpr std::uint8_t RegRel = 17;
constexpr std::uint8_t Vnak = 18;
constexpr std::uint8_t TxCnt = 23;
constexpr std::uint8_t TxAcc = 24;
constexpr std::uint8_t Quelch = 28;
constexpr std::uint8_t Unquelch = 29;
constexpr std::uint8_t Poke = 30;
constexpr std::uint8_t Unsupport = 33;
constexpr std::uint8_t CallToken = 40;
} // namespace iaxcmd

namespace control {
constexpr std::uint8_t Hangup = 1;
constexpr std::uint8_t Ringing = 3;
constexpr std::uint8_t Answer = 4;
constexpr std::uint8_t Busy = 5;
constexpr std::uint8_t Congestion = 8;
constexpr std::uint8_t Progress = 14;
constexpr std::uint8_t Proceeding = 15;
constexpr std::uint8_t Hold = 16;
constexpr std::uint8_t Unhold = 17;
constexpr std::uint8_t SrcUpdate = 20;
// The subclass -1 (octet 0xFF): stop playing whatever indication is on.
} // namespace control

namespace ie {
constexpr std::uint8_t CalledNumber = 1;
constexpr std::uint8_t CallingNumber = 2;
constexpr std::uint8_t CallingName = 4;
constexpr std::uint8_t Username = 6;
constexpr std::uint8_t Capability = 8;
constexpr std::uint8_t Format = 9;
constexpr std::uint8_t Version = 11;
constexpr std::uint8_t AuthMethods = 14;
constexpr std::uint8_t Challenge = 15;
constexpr std::uint8_t Md5Result = 16;
constexpr std::uint8_t ApparentAddress = 18;
constexpr std::uint8_t Refresh = 19;
constexpr std::uint8_t Cause = 22;
constexpr std::uint8_t IaxUnknown = 23;
constexpr std::uint8_t DateTime = 31;
constexpr std::uint8_t CauseCode = 42;
constexpr std::uint8_t Encryption = 43;
constexpr std::uint8_t RrJitter = 46;
constexpr std::uint8_t RrLoss = 47;
constexpr std::uint8_t RrPackets = 48;
constexpr std::uint8_t RrDelay = 49;
constexpr std::uint8_t RrDropped = 50;
constexpr std::uint8_t RrOutOfOrder = 51;
constexpr std::uint8_t CallToken = 54;
} // namespace ie

namespace authmethod {
constexpr std::uint16_t Plaintext = 1;
constexpr std::uint16_t Md5 = 2;
constexpr std::uint16_t Rsa = 4;
} // namespace authmethod

// Bits of the ENCRYPTION element: the ciphers a side can do.
namespace encryption {
constexpr std::uint16_t Aes128 = 0x0001;
constexpr std::uint16_t KeyRotation = 0x8000; // new keys during the call; we never offer it
} // namespace encryption

// Q.850 cause codes carried in the CAUSECODE element.
namespace cause {
constexpr std::uint8_t UnallocatedNumber = 1;
constexpr std::uint8_t NormalClearing = 16;
constexpr std::uint8_t UserBusy = 17;
constexpr std::uint8_t NoAnswer = 19;
constexpr std::uint8_t CallRejected = 21;
constexpr std::uint8_t Congestion = 34;
constexpr std::uint8_t FacilityRejected = 29;
constexpr std::uint8_t BearerNotAvailable = 58;
constexpr std::uint8_t IncompatibleDestination = 88;
constexpr std::uint8_t NoRouteToDestination = 3;
} // namespace cause

// Media format bits (subclass of voice frames; FORMAT/CAPABILITY elements).
namespace format {
constexpr std::uint32_t Gsm = 1u << 1;
} // namespace format

} // namespace iax2

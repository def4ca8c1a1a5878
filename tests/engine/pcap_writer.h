// Writes datagrams as a classic pcap file (Ethernet, IPv4, UDP) so that an
// independent dissector can read exactly what we sent.
#pragma once

#include "session_harness.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

inline bool writePcap(const std::string &path, const std::vector<Datagram> &datagrams)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    auto u32le = [](std::vector<std::uint8_t> &b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16be = [](std::vector<std::uint8_t> &b, std::uint16_t v) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    };
    std::vector<std::uint8_t> out;
    u32le(out, 0xa1b2c3d4);
    out.push_back(2), out.push_back(0), out.push_back(4), out.push_back(0); // version 2.4
    u32le(out, 0);
    u32le(out, 0);
    u32le(out, 65535);
    u32le(out, 1); // Ethernet
    for (const auto &d : datagrams) {
        std::vector<std::uint8_t> pkt = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 0x08, 0x00};
        const std::size_t ipStart = pkt.size();
        const std::uint16_t total = static_cast<std::uint16_t>(20 + 8 + d.bytes.size());
        pkt.insert(pkt.end(), {0x45, 0});
        u16be(pkt, total);
        pkt.insert(pkt.end(), {0, 0, 0x40, 0, 64, 17, 0, 0});
        pkt.insert(pkt.end(), d.from.bytes.begin(), d.from.bytes.begin() + 4);
        pkt.insert(pkt.end(), d.to.bytes.begin(), d.to.bytes.begin() + 4);
        std::uint32_t sum = 0;
        for (std::size_t i = ipStart; i < ipStart + 20; i += 2)
            sum += (pkt[i] << 8) | pkt[i + 1];
        while (sum >> 16)
            sum = (sum & 0xffff) + (sum >> 16);
        const std::uint16_t check = static_cast<std::uint16_t>(~sum);
        pkt[ipStart + 10] = static_cast<std::uint8_t>(check >> 8);
        pkt[ipStart + 11] = static_cast<std::uint8_t>(check);
        u16be(pkt, d.from.port);
        u16be(pkt, d.to.port);
        u16be(pkt, static_cast<std::uint16_t>(8 + d.bytes.size()));
        u16be(pkt, 0); // no UDP checksum: allowed over IPv4
        pkt.insert(pkt.end(), d.bytes.begin(), d.bytes.end());

        u32le(out, static_cast<std::uint32_t>(1700000000 + d.time / 1000));
        u32le(out, static_cast<std::uint32_t>((d.time % 1000) * 1000));
        u32le(out, static_cast<std::uint32_t>(pkt.size()));
        u32le(out, static_cast<std::uint32_t>(pkt.size()));
        out.insert(out.end(), pkt.begin(), pkt.end());
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

// What a shell command (tshark reading a capture) prints on its output.
inline std::string run(const std::string &command)
{
    std::string output;
    std::FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return output;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        output.append(buf.data(), n);
    ::pclose(pipe);
    return output;
}

// The engine's protocol core and the devserver's, wired back to back in
// memory with a fake clock: no sockets, no threads, fully repeatable.
#pragma once

#include "client.h"
#include "frame.h"
#include "server_core.h"
#include "test_backend.h"

#include <functional>
#include <string>
#include <vector>

struct Datagram {
    std::uint64_t time;
    iax2::Address from;
    iax2::Address to;
    iax2::Bytes bytes;
};

// Every full frame sent to one address, in order.
inline std::vector<iax2::FullFrame> framesTo(const std::vector<Datagram> &wire, const iax2::Address &to)
{
    std::vector<iax2::FullFrame> out;
    for (const auto &d : wire)
        if (d.to == to)
            if (auto f = iax2::decodeFullFrame(d.bytes.data(), d.bytes.size()))
                out.push_back(*f);
    return out;
}

// The server's end of the latest dialog as the client has seen it, for a
// test that speaks as the server: its call numbers and its next OSeqno.
struct ServerEnd {
    std::uint16_t serverCall = 0;
    std::uint16_t clientCall = 0;
    std::uint8_t next = 0;
};

inline ServerEnd serverEnd(const std::vector<Datagram> &wire, const iax2::Address &client)
{
    const auto frames = framesTo(wire, client);
    ServerEnd end;
    if (frames.empty())
        return end;
    end.serverCall = frames.back().sourceCall;
    end.clientCall = frames.back().destCall;
    for (const auto &f : frames)
        if (f.sourceCall == end.serverCall && !iax2::isUnsequenced(f.type, f.subclass))
            end.next = static_cast<std::uint8_t>(f.oseqno + 1);
    return end;
}

class Session {
public:
    static iax2::ClientOptions clientOptions()
    {
        iax2::ClientOptions o;
        return o;
    }

    explicit Session(iax2::ClientOptions options = clientOptions(), devserver::ServerCoreOptions serverOptions = {})
        : client(options),
          server(backend, withSecret(serverOptions), [this] { return std::int64_t(1700000000 + now / 1000); })
    {
        backend.addAccount(1, "alice", "wonderland");
        backend.addAccount(2, "broke", "nomoney");
        backend.setNoCredit(2);
    }

    // Drops datagrams for which this says true (loss, or a dead server).
    std::function<bool(const Datagram &)> drop;

    MemoryBackend backend;
    iax2::Client client;
    devserver::ServerCore server;
    std::uint64_t now = 1000;
    iax2::Address clientAddress = iax2::Address::v4(10, 0, 0, 1, 40000);
    iax2::Address serverAddress = iax2::Address::v4(10, 0, 0, 2, 4569);
    std::vector<Datagram> wire;                 // everything sent, dropped or not
    std::vector<iax2::ClientEvent> events;      // everything the client reported
    int resolveFailures = 0;                    // how many lookups to fail first

    // Runs until nothing more moves at this instant.
    void settle()
    {
        for (int round = 0; round < 100; ++round) {
            bool moved = false;
            for (auto &r : client.takeResolveRequests()) {
                moved = true;
                if (resolveFailures > 0) {
                    --resolveFailures;
                    client.resolved(now, r.ticket, std::nullopt);
                } else {
                    iax2::Address a = serverAddress;
                    a.port = r.port;
                    client.resolved(now, r.ticket, a);
                }
            }
            for (auto &t : client.takeTransmits()) {
                moved = true;
                deliver({now, clientAddress, t.to, std::move(t.bytes)}, true);
            }
            for (auto &t : server.takeTransmits()) {
                moved = true;
                deliver({now, serverAddress, t.to, std::move(t.bytes)}, false);
            }
            for (auto &e : client.takeEvents())
                events.push_back(std::move(e));
            if (!moved)
                return;
        }
    }

    // Moves the clock on in 10 ms steps, polling both sides.
    void advance(std::uint64_t ms)
    {
        const std::uint64_t end = now + ms;
        settle();
        while (now < end) {
            now = std::min(end, now + 10);
            client.poll(now);
            server.poll(now);
            settle();
        }
    }

    // Injects a datagram at the client as if it came from somewhere.
    void toClient(const iax2::Address &from, const iax2::Bytes &bytes)
    {
        wire.push_back({now, from, clientAddress, bytes});
        client.handleDatagram(now, from, bytes.data(), bytes.size());
        settle();
    }
    void toServer(const iax2::Address &from, const iax2::Bytes &bytes)
    {
        server.handleDatagram(now, from, bytes.data(), bytes.size());
        settle();
    }

    std::vector<int> states() const
    {
        std::vector<int> out;
        for (const auto &e : events)
            if (const auto *c = std::get_if<iax2::event::CallState>(&e))
                out.push_back(c->state);
        return out;
    }
    std::vector<iax2::RegistrationReply> registrationReplies() const
    {
        std::vector<iax2::RegistrationReply> out;
        for (const auto &e : events)
            if (const auto *r = std::get_if<iax2::event::Registration>(&e))
                out.push_back(r->reply);
        return out;
    }
    // "type/subclass" of every full frame one side sent, ACKs left out.
    std::vector<std::string> sentBy(const iax2::Address &side, bool withAcks = false) const
    {
        std::vector<std::string> out;
        for (const auto &d : wire) {
            if (d.from != side)
                continue;
            const auto f = iax2::decodeFullFrame(d.bytes.data(), d.bytes.size());
            if (!f || (!withAcks && f->type == 6 && f->subclass == 4))
                continue;
            out.push_back(std::to_string(f->type) + "/" + std::to_string(f->subclass));
        }
        return out;
    }

private:
    static devserver::ServerCoreOptions withSecret(devserver::ServerCoreOptions o)
    {
        o.tokenSecret = "test secret";
        return o;
    }

    void deliver(Datagram d, bool toServerSide)
    {
        wire.push_back(d);
        if (drop && drop(d))
            return;
        if (toServerSide) {
            if (d.to == serverAddress)
                server.handleDatagram(now, d.from, d.bytes.data(), d.bytes.size());
        } else if (d.to == clientAddress) {
            client.handleDatagram(now, d.from, d.bytes.data(), d.bytes.size());
        }
    }
};

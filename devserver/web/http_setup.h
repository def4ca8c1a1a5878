// What every HTTP server of the devserver sets up alike.
#pragma once

#include <httplib.h>

#include <cstddef>

namespace devserver::web {

// Workers for requests, how long an idle connection stays, and the largest
// request taken. The library's default socket options also set
// SO_REUSEPORT, which would let a second devserver share the port and take
// half of the first one's requests: only SO_REUSEADDR here.
inline void setUpServer(httplib::Server &server, std::size_t workers, std::size_t maxRequestBytes)
{
    server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    server.set_keep_alive_timeout(2);
    server.set_payload_max_length(maxRequestBytes);
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

} // namespace devserver::web

// The look shared by the service's pages.
#pragma once

#include <string>

namespace devserver::web {

std::string htmlEscape(const std::string &utf8);

// A whole page: the title, a header naming the account when there is one,
// and the content (already HTML).
std::string renderPage(const std::string &title, const std::string &content,
                       const std::string &accountEmail = {});

// "$10.00"
std::string dollars(long long cents);

} // namespace devserver::web

// The store's tables, and the upgrades that bring an older file to them.
#pragma once

#include <string>

namespace devserver {

class Connection;

// Creates the tables in an empty database, or upgrades an older one in
// place. Refuses (false, errorText set) a file written by a newer program.
bool upgradeSchema(Connection &connection, std::string *errorText);

} // namespace devserver

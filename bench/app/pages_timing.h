#pragma once

#include <string>

// Part 4 of app_startup_bench: a main window in this process, logged in to
// the devserver at web and iax, opens account pages; prints the time from
// each click until the page is shown. Returns the exit code.
int accountPageTimings(int argc, char *argv[], const std::string &web, const std::string &iax);

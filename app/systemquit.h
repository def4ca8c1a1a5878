#pragma once

// The system may end the program too: a SIGTERM from a shutdown or a
// service manager, a SIGINT from the terminal, a SIGHUP when the terminal
// goes, or the desktop session ending. Each ends the program the way Exit
// does: the call is hung up and the registration withdrawn before the
// process goes, and it exits with code 0. Call once, after the application
// object exists.
void exitOnSystemRequests();

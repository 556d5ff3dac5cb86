// Ctrl-C: the first asks the session to cancel (the module's cancel checks
// answer it, the pixel iteration stops); a second one ends the program at
// once.
#pragma once

namespace quillomark {

class Session;

void installInterruptHandler(Session *session);
bool interrupted();

} // namespace quillomark

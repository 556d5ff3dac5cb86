// SIGINT and SIGTERM (Ctrl-C, or a render farm stopping the job): the first
// raises the media library's cancel flag and asks the attached session to
// cancel, so reading, rendering and writing each stop at their next check
// and the program ends with the cancel status; a second one ends the
// program at once.
#pragma once

namespace quillomark {

class Session;

// At start-up, before any work.
void installInterruptHandler();
bool interrupted();
// Throws Cancelled once a signal came.
void throwIfInterrupted();

// Lets the signal reach `session` while the scope lives.
class InterruptScope {
public:
    explicit InterruptScope(Session &session);
    ~InterruptScope();
    InterruptScope(const InterruptScope &) = delete;
    InterruptScope &operator=(const InterruptScope &) = delete;
};

} // namespace quillomark

#include "interrupt.h"

#include "session/session.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace quillomark {

namespace {

std::atomic<Session *> gInterruptSession{nullptr};
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void onInterrupt(int)
{
    gInterrupted = 1;
    if (Session *session = gInterruptSession.load())
        session->requestCancel();
}

} // namespace

void installInterruptHandler(Session *session)
{
    gInterruptSession.store(session);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    // The second Ctrl-C gets the default action: the program ends at once.
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted()
{
    return gInterrupted != 0;
}

} // namespace quillomark

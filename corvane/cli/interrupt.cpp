#include "interrupt.h"

#include "image.h"
#include "session/session.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace quillomark {

namespace {

std::atomic<Session *> gInterruptSession{nullptr};

extern "C" void onInterrupt(int)
{
    media::cancelFlag().store(true);
    if (Session *session = gInterruptSession.load())
        session->requestCancel();
}

} // namespace

void installInterruptHandler()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onInterrupt;
    sigemptyset(&sa.sa_mask);
    // The second signal gets the default action: the program ends at once.
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool interrupted()
{
    return media::cancelFlag().load();
}

void throwIfInterrupted()
{
    if (interrupted())
        throw Cancelled();
}

InterruptScope::InterruptScope(Session &session)
{
    gInterruptSession.store(&session);
    if (interrupted()) // a signal that came before the session could hear it
        session.requestCancel();
}

InterruptScope::~InterruptScope()
{
    gInterruptSession.store(nullptr);
}

} // namespace quillomark

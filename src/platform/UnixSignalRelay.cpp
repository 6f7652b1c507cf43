#include "platform/UnixSignalRelay.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

int pipeFds[2] = {-1, -1};

void onSignal(int number)
{
    const unsigned char byte = static_cast<unsigned char>(number);
    // Only async-signal-safe calls here.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
}

} // namespace

UnixSignalRelay::UnixSignalRelay(QObject* parent)
    : QObject(parent)
{
    if (pipeFds[0] < 0) {
        if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
    }
    m_notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalRelay::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

UnixSignalRelay::~UnixSignalRelay()
{
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

void UnixSignalRelay::readSignal()
{
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        emit terminationRequested(byte);
}

} // namespace platform

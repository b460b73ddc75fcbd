#include "commands/Interrupts.h"

#include "common/FdWatch.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace regbench::commands {

namespace {
sigset_t interruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void Interrupts::block() {
    const sigset_t set = interruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Interrupts::Interrupts(std::function<void(int signal)> onSignal) : onSignal_(std::move(onSignal)) {
    const sigset_t set = interruptSignals();
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ >= 0)
        watch_ = std::make_unique<common::FdWatch>(fd_, [this] { readSignal(); });
    else // no descriptor left: the signals' default action at least ends the program
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

Interrupts::~Interrupts() {
    watch_.reset(); // before the descriptor it watches goes
    if (fd_ >= 0)
        ::close(fd_);
}

void Interrupts::readSignal() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        onSignal_(static_cast<int>(info.ssi_signo));
}

} // namespace regbench::commands

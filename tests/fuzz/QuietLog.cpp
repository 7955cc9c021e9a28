// Linked into every fuzz target: the SDK's messages go nowhere instead of to the system log. A
// run of millions of inputs would otherwise fill the log of the machine it runs on, and each
// message costs system calls (a socket, a connect and a close where no log daemon listens) that
// would be most of the time of a fast target.
#include <cstdarg>

extern "C" void vsyslog(int priority, const char* format, va_list args) {
    (void)priority, (void)format, (void)args;
}

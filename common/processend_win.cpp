// SPDX-License-Identifier: GPL-3.0-or-later
// How every program of the tool ends on Windows. Linked with --wrap=exit (CorvaneCommon.cmake),
// so that both a return from main() and a call of exit() come here.
//
// Once a worker thread that used a C++ thread_local with a destructor has ended (Qt keeps
// one for each thread that matches a QRegularExpression), the MinGW runtime's own teardown
// can wait for ever: when the DLLs detach, libstdc++ deletes its thread-exit key under
// winpthreads' key lock, whose count of readers that thread's exit left one too high. The
// program would never end after its work was done. So it ends here, once its own teardown
// has run (the functions given to atexit() and the destructors of its statics), with its C
// streams written out, without the DLLs' detach, which holds nothing the system does not
// release anyway.
#include <cstdio>
#include <cstdlib>

#include <process.h>

#include <windows.h>

extern "C" [[noreturn]] void __wrap_exit(int code)
{
    _cexit();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), UINT(code));
    ExitProcess(UINT(code)); // not reached: TerminateProcess does not return for this process
}

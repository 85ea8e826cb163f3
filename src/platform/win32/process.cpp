// Process-wide calls: current directory, at-exit list, exit, and the start-up
// services of the runtime library.
#include <csignal>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

extern "C" {
__declspec(dllimport) void __cdecl __set_app_type(int type);
__declspec(dllimport) int __cdecl __getmainargs(
    int* argc, char*** argv, char*** env, int expand_wildcards, int* startup_info);
__declspec(dllimport) char*** __cdecl __p__environ();
__declspec(dllimport) unsigned int __cdecl _controlfp(unsigned int new_value, unsigned int mask);
__declspec(dllimport) void __cdecl _cexit();
}

namespace platform {

namespace {

FaultFilter installed_filter = nullptr;

LONG WINAPI filter_trampoline(EXCEPTION_POINTERS* pointers)
{
    return installed_filter(pointers->ExceptionRecord->ExceptionCode);
}

}  // namespace

const char PATH_SEPARATOR = '\\';

uint32_t get_current_directory(uint32_t buffer_size, char* buffer)
{
    return GetCurrentDirectoryA(buffer_size, buffer);
}

int at_exit(void (*function)())
{
    return std::atexit(function);
}

void exit_process(int32_t status)
{
    std::exit(status);
}

void set_app_type(int type)
{
    __set_app_type(type);
}

void set_fault_filter(FaultFilter filter)
{
    installed_filter = filter;
    SetUnhandledExceptionFilter(filter_trampoline);
}

void reset_fpu()
{
    asm volatile("fninit");
}

uint32_t control_fp(uint32_t new_value, uint32_t mask)
{
    return _controlfp(new_value, mask);
}

void fetch_main_args()
{
    int argc = 0;
    char** argv = nullptr;
    char** env = nullptr;
    int startup_info = 0;
    __getmainargs(&argc, &argv, &env, 1, &startup_info);
    (void)__p__environ();
}

SignalHandler set_signal(int signal_number, SignalHandler handler)
{
    return std::signal(signal_number, handler);
}

void cexit_and_exit_process(int32_t status)
{
    _cexit();
    ExitProcess(static_cast<UINT>(status));
}

}  // namespace platform

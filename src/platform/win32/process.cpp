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
__declspec(dllimport) unsigned int __cdecl _controlfp(unsigned int new_value, unsigned int mask);
__declspec(dllimport) void __cdecl _cexit();
#if defined(_WIN64)
// x86_64 msvcrt exports no __p__environ, only the _environ variable itself
// (the headers' _environ is a macro that calls __p__environ). Its import slot
// holds the variable's address: what __p__environ returns on i686.
extern char*** const MSVCRT_ENVIRON_ADDRESS __asm__("__imp__environ");
#endif
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

bool is_lead_byte(uint8_t byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
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

// x86_64 keeps the x87 unit, and mingw's long double computes on it, so the
// reset means the same there. float and double use SSE instead, whose MXCSR
// FNINIT leaves alone; it starts with every exception masked and rounding to
// nearest.
void reset_fpu()
{
    asm volatile("fninit");
}

#if defined(_WIN64)

// Microsoft's x64 runtime has no precision control: a mask with _MCW_PC is an
// invalid parameter there, handed to the invalid-parameter handler, which ends
// the process by default. The precision bits are dropped; rounding is set as on
// i686.
uint32_t control_fp(uint32_t new_value, uint32_t mask)
{
    constexpr uint32_t MCW_PC = 0x30000;
    return _controlfp(new_value, mask & ~MCW_PC);
}

#else

uint32_t control_fp(uint32_t new_value, uint32_t mask)
{
    return _controlfp(new_value, mask);
}

#endif

// The exe takes no options: every run is the plain one.
const RunSettings& run_settings()
{
    static const RunSettings plain;
    return plain;
}

void keep_main_args(int, char**) { }

void fetch_main_args()
{
    int argc = 0;
    char** argv = nullptr;
    char** env = nullptr;
    int startup_info = 0;
    __getmainargs(&argc, &argv, &env, 1, &startup_info);
#if defined(_WIN64)
    char*** volatile environment = MSVCRT_ENVIRON_ADDRESS;
    (void)environment;
#else
    (void)__p__environ();
#endif
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

#include "plugin/ErrorReport.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

bool ReportError(const char* format, ...) {
    char message[kErrorMessageCapacity];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    MessageBoxA(GetActiveWindow(), message, kErrorCaption, MB_ICONERROR);
    return false;
}

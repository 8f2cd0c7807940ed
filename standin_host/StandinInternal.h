// What the parts of the stand-in library share among themselves.
#pragma once

#include <string>

namespace standin {

// Appends to Events() while the doubles log (LogHostEvents).
void LogEvent(const char* text);

// Entry points of the doubles, for the jumps from the host's functions.
struct Doubles {
    const void* aimFunction;
    const void* offsetToPoint;
    const void* characterLookup;
    const void* frameFunction;
};
// Clears every record of the doubles and the character record.
Doubles ResetDoubles();

// Instruments the module named like `dllPath` when the loader maps it, for
// as long as the object lives.
class InstrumentationScope {
public:
    explicit InstrumentationScope(const std::wstring& dllPath);
    ~InstrumentationScope();
    InstrumentationScope(const InstrumentationScope&) = delete;
    InstrumentationScope& operator=(const InstrumentationScope&) = delete;

private:
    std::wstring baseName_;
    void* cookie_ = nullptr;
    void* unregister_ = nullptr;
};

}  // namespace standin

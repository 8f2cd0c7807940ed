// The host's functions as the plugin calls them: their calling conventions
// and types, for the addresses in HostConstants.h. Windows builds only.
#pragma once

#include <cstdint>

#include "host/HostConstants.h"

#define HOST_THISCALL __thiscall
#define HOST_CDECL __cdecl

namespace host {

// this-call; ECX = host object; stack: point (3 floats), three 32-bit floats;
// the callee removes its 16 bytes of arguments. The float arguments are typed
// as raw words so that nothing on their way changes a bit (x87 loads quiet
// signalling NaNs).
using AimPointFunction = std::uint32_t(HOST_THISCALL*)(void* object, const float* point, std::uint32_t arg2,
                                                       std::uint32_t arg3, std::uint32_t arg4);

// cdecl; one signed argument, always -1; returns a character record or null.
using CharacterLookupFunction = void*(HOST_CDECL*)(std::int32_t which);

// this-call on a character record; stack: output point, input offset
// (each 3 floats); the callee removes 8 bytes; its result is ignored.
using OffsetToPointFunction = void(HOST_THISCALL*)(void* character, float* point, const float* offset);

// The function the frame call site calls: no arguments, 32-bit result.
using FrameFunction = std::uint32_t (*)();

}  // namespace host

// Status codes of the media layer: 32-bit values, negative on failure, with the numbers users
// see in "FAILED(hr=0x%x)" messages (0x80004002 is "no such interface", and so on).
#pragma once

#include <cstdint>

using HRESULT = std::int32_t;

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

namespace tarnwick::media::detail {
// Failure codes are written as unsigned hexadecimal; this gives them their signed value.
constexpr HRESULT Code(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}
}  // namespace tarnwick::media::detail

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;

constexpr HRESULT E_NOTIMPL = tarnwick::media::detail::Code(0x80004001u);
constexpr HRESULT E_NOINTERFACE = tarnwick::media::detail::Code(0x80004002u);
constexpr HRESULT E_POINTER = tarnwick::media::detail::Code(0x80004003u);
constexpr HRESULT E_ABORT = tarnwick::media::detail::Code(0x80004004u);
constexpr HRESULT E_FAIL = tarnwick::media::detail::Code(0x80004005u);
constexpr HRESULT E_UNEXPECTED = tarnwick::media::detail::Code(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = tarnwick::media::detail::Code(0x80070005u);
constexpr HRESULT E_HANDLE = tarnwick::media::detail::Code(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = tarnwick::media::detail::Code(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = tarnwick::media::detail::Code(0x80070057u);

// The media framework was not initialised on this process (MediaFrameworkInitialize).
constexpr HRESULT CO_E_NOTINITIALIZED = tarnwick::media::detail::Code(0x800401F0u);
// The framework lacks a part it needs to build a graph (a missing core element).
constexpr HRESULT REGDB_E_CLASSNOTREG = tarnwick::media::detail::Code(0x80040154u);
// The file or its folder does not exist (HRESULT_FROM_WIN32 of ERROR_FILE_NOT_FOUND).
constexpr HRESULT HRESULT_FILE_NOT_FOUND = tarnwick::media::detail::Code(0x80070002u);

// Media framework codes.
constexpr HRESULT VFW_E_NOT_FOUND = tarnwick::media::detail::Code(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_RENDER = tarnwick::media::detail::Code(0x80040218u);
constexpr HRESULT VFW_E_WRONG_STATE = tarnwick::media::detail::Code(0x80040227u);
constexpr HRESULT VFW_E_TIMEOUT = tarnwick::media::detail::Code(0x8004022Eu);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = tarnwick::media::detail::Code(0x8004022Fu);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = tarnwick::media::detail::Code(0x80040240u);
constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = tarnwick::media::detail::Code(0x80040265u);
// Success codes: a state change still under way; a file rendered without one of its streams.
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;
constexpr HRESULT VFW_S_PARTIAL_RENDER = 0x00040242;

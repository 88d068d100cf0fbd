// The package operations' status codes: Windows HRESULTs, S_OK and E_FAIL.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <winerror.h>
typedef long HRESULT;
#else
using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
#endif

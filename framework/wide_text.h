// The host's wide texts: 16-bit characters on every target. On Windows that is wchar_t, so
// callers there pass their std::wstring as it is.
#pragma once

#include <string>

namespace mv {

#if defined(_WIN32)
using WideChar = wchar_t;
#else
using WideChar = char16_t;
#endif
using WideString = std::basic_string<WideChar>;

static_assert(sizeof(WideChar) == 2, "the host's wide characters are 16-bit");

}  // namespace mv

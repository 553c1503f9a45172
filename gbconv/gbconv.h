// gbconv: rewrites percent-encoded UTF-8 text, in place, in the ANSI code page.
// The library exports one routine under the plain name "ANSIToGB" (C linkage, cdecl).
#pragma once

#ifdef _WIN32
#define GBCONV_API __declspec(dllexport)
#define GBCONV_CALL __cdecl
#else
#define GBCONV_API __attribute__((visibility("default")))
#define GBCONV_CALL
#endif

extern "C" {
// buffer: a NUL-terminated text, decoded in place. size: how many bytes at its start are cleared
// before the result is written (the text's length without terminator, as formdesk passes it).
GBCONV_API void GBCONV_CALL ANSIToGB(char* buffer, int size);
}

// The routine's type, for callers that look it up at run time.
typedef void(GBCONV_CALL* ANSIToGBProc)(char* buffer, int size);

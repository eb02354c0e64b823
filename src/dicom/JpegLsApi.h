#pragma once
// The C interface of the JPEG-LS codec library that the bridge loads by file name. Both sides
// include this header: the bridge to type the resolved entry points, the plugin to define them.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* JPEGLS_HANDLE;

// Copies up to size input bytes into buffer; returns how many (0 at the end).
typedef size_t (*JPEGLS_ReadCallback)(void* user, void* buffer, size_t size);
// Takes size decoded bytes; returns non-zero to go on.
typedef int (*JPEGLS_WriteCallback)(void* user, const void* bytes, size_t size);
// A text from the codec.
typedef void (*JPEGLS_MessageCallback)(void* user, const char* text);

// Size of the buffer JPEGLS_GetInfo fills.
#define JPEGLS_INFO_SIZE 32768

typedef JPEGLS_HANDLE (*JPEGLS_Create_t)(void);
typedef void (*JPEGLS_Destroy_t)(JPEGLS_HANDLE codec);
typedef void (*JPEGLS_SetMessageCallback_t)(JPEGLS_HANDLE codec, JPEGLS_MessageCallback callback, void* user);
typedef void (*JPEGLS_StartDecode_t)(JPEGLS_HANDLE codec, JPEGLS_ReadCallback callback, void* user);
typedef void (*JPEGLS_GetInfo_t)(JPEGLS_HANDLE codec, char* info);
typedef void (*JPEGLS_DecodeToCB_t)(JPEGLS_HANDLE codec, JPEGLS_WriteCallback callback, void* user);
typedef int (*JPEGLS_CheckOk_t)(JPEGLS_HANDLE codec);

#ifdef __cplusplus
}
#endif

/* The interface between the engine and a model player library.
 *
 * A model player library is a shared library named "VEZoduz.so" beside the
 * engine's executable (it needs its vendor's "emotedriver.so" beside it
 * too). It exports, with C linkage, zkemote_abi_version (returning
 * ZKEMOTE_ABI_VERSION) and every zkemote_N below; a library that lacks any
 * of them is not used. The engine calls them all on one thread, the thread
 * of its frame step, with an OpenGL 3.3 core context current.
 *
 * Handles are opaque: the driver handle comes from zkemote_2, a player
 * handle from zkemote_119. Texts are NUL-terminated. Numbers are floats;
 * 0 or 1 where the engine passes a fixed value. A byte result of 1 means
 * yes.
 *
 * Drawing: zkemote_256 draws into the framebuffer bound at the call, whose
 * viewport covers the layer's target. Targets hold the picture top row
 * first: OpenGL's row 0 is the picture's top row, y grows downwards, as
 * the matrices below expect. The engine puts its own OpenGL state back
 * after every call; a player keeps whatever state it needs itself.
 */
#ifndef ZORVEK_ZKEMOTE_H
#define ZORVEK_ZKEMOTE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZKEMOTE_ABI_VERSION 1

/* What the engine hands the driver. The matrices are row-major 4 x 4, for
 * row vectors (a point p becomes p * M), as Direct3D keeps them; the engine
 * writes them before it asks a player to draw. */
typedef struct ZkEmoteDevice {
    /* eglGetProcAddress: every OpenGL entry point the player uses. */
    void* (*get_proc_address)(const char* name);
    int32_t gl_major; /* the context's OpenGL version (3.3 or later) */
    int32_t gl_minor;
    float world[16];
    float view[16];
    float projection[16];
} ZkEmoteDevice;

/* zkemote_2's argument: the device and two words that are always 0. */
typedef struct ZkEmoteDriverArgs {
    ZkEmoteDevice* device;
    void* reserved1;
    void* reserved2;
} ZkEmoteDriverArgs;

int32_t zkemote_abi_version(void);

/* The driver. */
void* zkemote_2(ZkEmoteDriverArgs* args);     /* create; null = failure */
void zkemote_110(void* driver, float zero);    /* set it up after creation */
void zkemote_102(void* driver);                /* release it */
/* Load a model file's bytes; *player stays null on failure. The bytes are
 * the engine's and live only for the call. */
void zkemote_119(void* driver, const uint8_t* bytes, uint64_t size, void** player);

/* Players. */
void zkemote_202(void* player);                       /* release */
void zkemote_205(void* player);                       /* once, right after the load */
void zkemote_214(void* player, float value);          /* three model values, 0.5 after the load */
void zkemote_216(void* player, float value);
void zkemote_218(void* player, float value);
void zkemote_220(void* player, float x, float y, float zero1, float zero2); /* position */
void zkemote_222(void* player, float scale, float zero1, float zero2);      /* zoom */
void zkemote_224(void* player, float radians, float zero1, float zero2);    /* rotation */
/* Move a named value to `value` over `frames` frames. The label is the
 * script's own text (CP932). */
void zkemote_233(void* player, const char* label, float value, float frames, float zero);
void zkemote_235(void* player, float a, float b, float c, float d, float e);
float zkemote_236(void* player);                      /* its result is not used */
void zkemote_245(void* player, const char* utf8, float one);
void zkemote_247(void* player, const char* utf8);
void zkemote_253(void* player);
void zkemote_254(void* player, float frames);         /* advance; 60 frames a second */
uint8_t zkemote_255(void* player);                    /* 1: needs redrawing */
uint8_t zkemote_246(void* player, const char* text);  /* 1: needs redrawing */
void zkemote_256(void* player);                       /* draw into the bound framebuffer */

#ifdef __cplusplus
}
#endif

#endif /* ZORVEK_ZKEMOTE_H */

// Debian ships stb_image's code as a Linux shared library only; the Windows
// and browser builds compile it from the same header.
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

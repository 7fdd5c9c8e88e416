// Preloaded into a demo by soak.sh: writes the boot-clock time (as /proc/uptime counts) of every
// buffer swap to the file named by QUEX_SWAP_LOG, one line each, so frame rates can be read off a
// run without touching the program.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef struct GLFWwindow GLFWwindow;

void glfwSwapBuffers(GLFWwindow* window) {
    static void (*real)(GLFWwindow*) = NULL;
    static FILE* out = NULL;
    static unsigned swaps = 0;
    if (real == NULL) {
        real = (void (*)(GLFWwindow*))dlsym(RTLD_NEXT, "glfwSwapBuffers");
        const char* path = getenv("QUEX_SWAP_LOG");
        out = path != NULL ? fopen(path, "w") : NULL;
    }
    real(window);
    if (out != NULL) {
        struct timespec ts;
        clock_gettime(CLOCK_BOOTTIME, &ts);
        fprintf(out, "%lld.%09ld\n", (long long)ts.tv_sec, ts.tv_nsec);
        if (++swaps % 32 == 0) {
            fflush(out);
        }
    }
}

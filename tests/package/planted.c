/* A library planted in a caller's folder under the names of the station's libraries. Were a
 * program ever to load it, its constructor would leave a file "planted-loaded" in the working
 * folder for the test to find. */
#include <stdio.h>

__attribute__((constructor)) static void planted_loaded(void) {
    FILE* f = fopen("planted-loaded", "a");
    if (f) {
        fputs("loaded\n", f);
        fclose(f);
    }
}

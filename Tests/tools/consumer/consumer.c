/* A host in miniature, built against an installed filter: the text of one combined document.
 *   consumer <document> <text-file>  */
#include <stdio.h>
#include <string.h>

#include <krm_zori2.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: consumer <document> <text-file>\n");
        return 64;
    }
    HostOptions options;
    memset(&options, 0, sizeof options);
    strcpy(options.outputCharset, "UTF-8");
    options.optionFlags = KRM_OPT_LOOP_GUARD;
    const uint16_t formatCode = KRM_FORMAT_COMBINED;
    const int32_t code = GetTextWithErrCallback(argv[1], argv[2], &options, &formatCode, 0);
    if (code != KRM_OK) fprintf(stderr, "consumer: code %d\n", (int)code);
    return code == KRM_OK ? 0 : 1;
}

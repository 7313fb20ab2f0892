/*
 * oasys_example: the smallest program on liboasys. It opens an OASYS document (any packaging,
 * any member of a separated document), writes its text (UTF-8) to a file, and prints a few of
 * its properties.
 *
 *   cc oasys_example.c $(pkg-config --cflags --libs oasys) -o oasys_example
 *   ./oasys_example report.DOC report.txt
 *
 * Exit status: the status of the first step that failed (0 when all went well).
 */
#include <stdio.h>

#include <oasys.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s <document> <text-file>\n", argv[0]);
        return OASYS_BAD_ARGUMENT;
    }
    oasys_result result;
    oasys_document* document = NULL;
    if (oasys_open_path(argv[1], OASYS_PACKAGING_AUTO, &document, &result) != OASYS_OK) {
        fprintf(stderr, "%s: %s\n", argv[1], result.message);
        return result.status;
    }

    oasys_options options;
    oasys_options_init(&options);
    if (oasys_extract_to_path(document, argv[2], &options, &result) != OASYS_OK) {
        fprintf(stderr, "%s: %s (%s)\n", argv[1], result.message, oasys_status_name(result.status));
        oasys_close(document);
        return result.status;
    }

    static oasys_properties properties; /* large: every text has room for the longest the filter gives */
    if (oasys_read_properties(document, &options, &properties, &result) == OASYS_OK) {
        printf("packaging: %s\n", oasys_packaging_name(properties.packaging));
        printf("title: %s\n", properties.title.text);
        if (properties.created.present)
            printf("created: %04d-%02d-%02d\n", properties.created.year, properties.created.month,
                   properties.created.day);
    }
    oasys_close(document);
    printf("liboasys %s\n", oasys_version());
    return OASYS_OK;
}

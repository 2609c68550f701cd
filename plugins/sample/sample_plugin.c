/* A sample plug-in: writes one line for every stored file to "sample-plugin.log" in the
 * program folder, and "done" when the program closes. */
#include <quillmoor/plugin.h>
#include <stdio.h>
#include <string.h>

static FILE* log_file;

static void stored(void* context, const char* url, const char* file) {
    (void)context;
    if (log_file) {
        fprintf(log_file, "stored %s %s\n", url, file);
        fflush(log_file);
    }
}

__attribute__((visibility("default"))) void QMPInit(QMPApplication* application, QMPQueueManager* queue,
                                                    QMPOptions options) {
    char path[4096];
    if (application->version != QMP_INTERFACE_VERSION) return;
    snprintf(path, sizeof path, "%s/sample-plugin.log", application->program_folder);
    log_file = fopen(path, "a");
    if (log_file) {
        fprintf(log_file, "init connections=%d\n", options.http_count);
        fflush(log_file);
    }
    application->log(application, "Sample plug-in: logging stored files to sample-plugin.log");
    queue->on_stored_file(queue, stored, NULL);
}

__attribute__((visibility("default"))) void QMPDone(void) {
    if (!log_file) return;
    fprintf(log_file, "done\n");
    fclose(log_file);
    log_file = NULL;
}

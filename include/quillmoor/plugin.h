/* Quillmoor plug-in interface.
 *
 * A plug-in is a shared library placed in the "plug-ins" folder of the program folder
 * (plug-ins/NAME.so). The program loads the libraries in the order of their file names once
 * at start-up, calls QMPInit of each, and calls QMPDone of each when it closes. Both entry
 * points are optional. Build a plug-in against this header only, for example:
 *
 *   cc -shared -fPIC -o plug-ins/mine.so mine.c -I/path/to/quillmoor/include
 *
 * Everything runs on the program's main thread. The two handles stay valid until QMPDone
 * returns; the options are the plug-in's own copy.
 */
#ifndef QUILLMOOR_PLUGIN_H
#define QUILLMOOR_PLUGIN_H

#ifdef __cplusplus
extern "C" {
#endif

#define QMP_INTERFACE_VERSION 1

/* The running program. */
typedef struct QMPApplication {
    int version;                /* QMP_INTERFACE_VERSION */
    const char* program_folder; /* absolute path, without a final "/" */
    /* Writes one line to the program's message log. */
    void (*log)(const struct QMPApplication* app, const char* line);
    void* internal;
} QMPApplication;

/* Called for each file the download queue stores: its address and its full local path. */
typedef void (*QMPStoredFileFn)(void* context, const char* url, const char* file);

/* The download queue manager of the running program. */
typedef struct QMPQueueManager {
    int version; /* QMP_INTERFACE_VERSION */
    /* fn is called for every file stored from now on, until QMPDone. */
    void (*on_stored_file)(struct QMPQueueManager* queue, QMPStoredFileFn fn, void* context);
    /* Records waiting in the download queue. */
    int (*queue_count)(struct QMPQueueManager* queue);
    void* internal;
} QMPQueueManager;

/* A copy of the program options when the plug-in was loaded. */
typedef struct QMPOptions {
    int http_count;  /* connections */
    int time_out;    /* milliseconds */
    int use_proxy;   /* 0 or 1 */
    int proxy_type;  /* 0 none, 1 HTTP proxy, 2 SOCKS4 */
    int proxy_port;
    int http_port;   /* the local web server's port */
    int http_start;  /* browsing goes through the local web server */
    int retries;
    int conn_retries;
    int disk_space;  /* megabytes kept free */
    char path_prefix[1024]; /* default download folder */
    char proxy_addr[64];
    char user_agent[256];
} QMPOptions;

/* Entry points a plug-in may export. */
typedef void (*QMPInitFn)(QMPApplication* application, QMPQueueManager* queue, QMPOptions options);
typedef void (*QMPDoneFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMOOR_PLUGIN_H */

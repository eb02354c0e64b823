/* The floor for loading a folder: read every regular file of it completely, two threads taking
 * files in turn, nothing parsed. Prints files, bytes and wall time in milliseconds.
 * With --keep every file is read into fresh memory of its own and kept to the end, as a loader
 * must that ends with every file's pixels in memory: the floor with the cost of fresh pages.
 *
 * usage: plain_read [--keep] FOLDER
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { THREADS = 2 };

static char** paths;
static size_t path_count;
static atomic_size_t next_file;
static atomic_ullong total_bytes;
static int keep;
static char** kept; /* with --keep: each file's buffer, by index */

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void* reader(void* unused) {
    (void)unused;
    char* buffer = NULL;
    size_t capacity = 0;
    for (;;) {
        const size_t i = atomic_fetch_add(&next_file, 1);
        if (i >= path_count) break;
        const int fd = open(paths[i], O_RDONLY);
        if (fd < 0) {
            perror(paths[i]);
            exit(1);
        }
        struct stat st;
        if (fstat(fd, &st) != 0) {
            perror(paths[i]);
            exit(1);
        }
        /* The whole file in one buffer, as a loader that keeps the bytes would hold it. */
        if (keep) {
            buffer = malloc(st.st_size ? (size_t)st.st_size : 1);
            if (!buffer) {
                perror("malloc");
                exit(1);
            }
            kept[i] = buffer;
        } else if ((size_t)st.st_size > capacity) {
            capacity = (size_t)st.st_size;
            free(buffer);
            buffer = malloc(capacity ? capacity : 1);
            if (!buffer) {
                perror("malloc");
                exit(1);
            }
        }
        size_t done = 0;
        while (done < (size_t)st.st_size) {
            const ssize_t got = pread(fd, buffer + done, (size_t)st.st_size - done, (off_t)done);
            if (got < 0) {
                perror(paths[i]);
                exit(1);
            }
            if (got == 0) break;
            done += (size_t)got;
        }
        close(fd);
        atomic_fetch_add(&total_bytes, done);
    }
    if (!keep) free(buffer);
    return NULL;
}

static int by_name(const void* a, const void* b) {
    return strcmp(*(char* const*)a, *(char* const*)b);
}

int main(int argc, char** argv) {
    keep = argc == 3 && strcmp(argv[1], "--keep") == 0;
    if (argc != 2 + keep) {
        fprintf(stderr, "usage: %s [--keep] FOLDER\n", argv[0]);
        return 2;
    }
    const char* folder = argv[1 + keep];
    const double start = now_ms();
    DIR* dir = opendir(folder);
    if (!dir) {
        perror(folder);
        return 1;
    }
    size_t capacity = 0;
    for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
        if (entry->d_name[0] == '.') continue;
        char* path = NULL;
        if (asprintf(&path, "%s/%s", folder, entry->d_name) < 0) return 1;
        struct stat st;
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
            free(path);
            continue;
        }
        if (path_count == capacity) {
            capacity = capacity ? capacity * 2 : 512;
            paths = realloc(paths, capacity * sizeof *paths);
            if (!paths) return 1;
        }
        paths[path_count++] = path;
    }
    closedir(dir);
    qsort(paths, path_count, sizeof *paths, by_name);

    kept = calloc(path_count ? path_count : 1, sizeof *kept);
    if (!kept) return 1;
    pthread_t threads[THREADS];
    for (int t = 0; t < THREADS; ++t) pthread_create(&threads[t], NULL, reader, NULL);
    for (int t = 0; t < THREADS; ++t) pthread_join(threads[t], NULL);
    const double elapsed = now_ms() - start;

    const double mib = (double)atomic_load(&total_bytes) / 1048576.0;
    printf("files=%zu bytes=%llu ms=%.1f MiB/s=%.0f\n", path_count,
           (unsigned long long)atomic_load(&total_bytes), elapsed, elapsed > 0 ? mib / (elapsed / 1e3) : 0.0);
    for (size_t i = 0; i < path_count; ++i) {
        free(paths[i]);
        free(kept[i]);
    }
    free(kept);
    free(paths);
    return 0;
}

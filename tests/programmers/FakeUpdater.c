/* Stands in for the maker's updater library (built as ZNQM16Updater.dll).
 * Each call is appended to $FAKE_M16_LOG as a line ("Init 3", "Program PATH",
 * ...). $FAKE_M16_FAIL names the entry points that answer 0, each followed by
 * ":n" for its n-th call only or alone for every call, e.g. "IsBTLActive" or
 * "Init:1,Clear". Program reports 0, 50 and 100 percent. $FAKE_M16_HANG names
 * one entry point that does not return for 60 s, as a library stuck on its
 * line, or for ":ms" milliseconds ("Program:300"). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

static int calls[7];

static void Log(const char* text, const char* detail) {
    const char* path = getenv("FAKE_M16_LOG");
    FILE* file = path != NULL ? fopen(path, "a") : NULL;
    if (file != NULL) {
        fprintf(file, "%s%s%s\n", text, detail[0] != '\0' ? " " : "", detail);
        fclose(file);
    }
}

/* 1 unless $FAKE_M16_FAIL lists this call. */
static int Result(int index, const char* name) {
    const int call = ++calls[index];
    const char* fail = getenv("FAKE_M16_FAIL");
    const char* hang = getenv("FAKE_M16_HANG");
    const size_t length = strlen(name);
    char list[256];
    if (hang != NULL && strncmp(hang, name, length) == 0 &&
        (hang[length] == '\0' || hang[length] == ':')) {
        usleep(hang[length] == ':' ? (useconds_t)atoi(hang + length + 1) * 1000u : 60000000u);
    }
    if (fail == NULL) {
        return 1;
    }
    strncpy(list, fail, sizeof list - 1);
    list[sizeof list - 1] = '\0';
    for (char* item = strtok(list, ","); item != NULL; item = strtok(NULL, ",")) {
        char* colon = strchr(item, ':');
        if (colon != NULL) {
            *colon = '\0';
        }
        if (strcmp(item, name) == 0 && (colon == NULL || atoi(colon + 1) == call)) {
            return 0;
        }
    }
    return 1;
}

EXPORT int M16Upd_Init(int port) {
    char text[16];
    snprintf(text, sizeof text, "%d", port);
    Log("Init", text);
    return Result(0, "Init");
}

EXPORT int M16Upd_Program(const unsigned short* path, int reserved, void (*progress)(int)) {
    char text[128];
    size_t i = 0;
    for (; path[i] != 0 && i < sizeof text - 1; ++i) {
        text[i] = path[i] < 128 ? (char)path[i] : '?';
    }
    text[i] = '\0';
    Log("Program", text);
    (void)reserved;
    for (int percent = 0; percent <= 100; percent += 50) {
        progress(percent);
    }
    return Result(1, "Program");
}

EXPORT int M16Upd_Deinit(void) {
    Log("Deinit", "");
    return Result(2, "Deinit");
}

EXPORT int M16Upd_IsBTLActive(void) {
    Log("IsBTLActive", "");
    return Result(3, "IsBTLActive");
}

EXPORT int M16Upd_Clear(void) {
    Log("Clear", "");
    return Result(4, "Clear");
}

EXPORT int M16Upd_MakeValid(void) {
    Log("MakeValid", "");
    return Result(5, "MakeValid");
}

EXPORT int M16Upd_ExitAndStartApplication(void) {
    Log("ExitAndStartApplication", "");
    return Result(6, "ExitAndStartApplication");
}

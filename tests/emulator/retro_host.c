/* A headless libretro frontend for the tests on a real emulator, under Wine
 * and natively: loads a core (a DLL, or a Linux shared library), gives it a
 * system folder (where its BIOS lies), loads one game and runs the emulation
 * at about 30 frames a second until it is ended. There is no picture, no sound
 * and no input: the tests only read the emulated RAM from outside.
 *
 *   retro_host CORE SYSTEM_FOLDER GAME
 *
 * Prints "ready pid N" (N: its process ID, under Wine the Windows one) once
 * the game is loaded; status 1 with a reason on standard error when it can't
 * get that far. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#endif

/* The few parts of the libretro ABI this frontend uses, from its public
 * definition: the interface version, the environment requests it answers,
 * and the game description the core loads from. */
enum {
  RETRO_API_VERSION = 1,
  RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY = 9,
  RETRO_ENVIRONMENT_SET_PIXEL_FORMAT = 10,
  RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY = 31
};

struct retro_game_info {
  const char *path;
  const void *data;
  size_t size;
  const char *meta;
};

typedef bool (*retro_environment_t)(unsigned cmd, void *data);
typedef void (*retro_video_refresh_t)(const void *data, unsigned width, unsigned height, size_t pitch);
typedef void (*retro_audio_sample_t)(int16_t left, int16_t right);
typedef size_t (*retro_audio_sample_batch_t)(const int16_t *data, size_t frames);
typedef void (*retro_input_poll_t)(void);
typedef int16_t (*retro_input_state_t)(unsigned port, unsigned device, unsigned index, unsigned id);

/* The core's entry points that the frontend calls. */
typedef struct {
  unsigned (*api_version)(void);
  void (*set_environment)(retro_environment_t);
  void (*set_video_refresh)(retro_video_refresh_t);
  void (*set_audio_sample)(retro_audio_sample_t);
  void (*set_audio_sample_batch)(retro_audio_sample_batch_t);
  void (*set_input_poll)(retro_input_poll_t);
  void (*set_input_state)(retro_input_state_t);
  void (*init)(void);
  bool (*load_game)(const struct retro_game_info *);
  void (*run)(void);
} Core;

/* About 30 frames a second: enough to keep the program running, little load. */
static const unsigned FrameMilliseconds = 33;

static const char *SystemFolder;

static void Fail(const char *what, const char *detail) {
  fprintf(stderr, "retro_host: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
  exit(1);
}

/* The folder for the BIOS and for saves; the pixel format the core asks for
 * is accepted as nothing is drawn. Every other request is declined, which a
 * core takes as "the frontend doesn't offer this". */
static bool Environment(unsigned cmd, void *data) {
  switch (cmd) {
    case RETRO_ENVIRONMENT_GET_SYSTEM_DIRECTORY:
    case RETRO_ENVIRONMENT_GET_SAVE_DIRECTORY: *(const char **)data = SystemFolder; return true;
    case RETRO_ENVIRONMENT_SET_PIXEL_FORMAT: return true;
    default: return false;
  }
}

static void NoVideo(const void *data, unsigned width, unsigned height, size_t pitch) {
  (void)data;
  (void)width;
  (void)height;
  (void)pitch;
}

static void NoAudioSample(int16_t left, int16_t right) {
  (void)left;
  (void)right;
}

static size_t NoAudioBatch(const int16_t *data, size_t frames) {
  (void)data;
  return frames;
}

static void NoInputPoll(void) {}

static int16_t NoInputState(unsigned port, unsigned device, unsigned index, unsigned id) {
  (void)port;
  (void)device;
  (void)index;
  (void)id;
  return 0;
}

/* An entry point of the core, as a plain function pointer: callers cast it to
 * its own type (a cast through void (*)(void) is how C converts between
 * function pointer types without complaint). */
typedef void (*AnyFunction)(void);

/* The system's few services this host needs: the core's library and its
 * entry points, a pause, the process ID. */
#ifdef _WIN32
typedef HMODULE Library;

static Library OpenLibrary(const char *path) { return LoadLibraryA(path); }

static AnyFunction FindEntry(Library dll, const char *name) { return (AnyFunction)GetProcAddress(dll, name); }

static void Pause(unsigned milliseconds) { Sleep(milliseconds); }

static unsigned long ProcessId(void) { return (unsigned long)GetCurrentProcessId(); }
#else
typedef void *Library;

static Library OpenLibrary(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

/* POSIX guarantees that a function's address from dlsym survives this cast. */
static AnyFunction FindEntry(Library library, const char *name) {
  AnyFunction entry;
  void *address = dlsym(library, name);
  memcpy(&entry, &address, sizeof entry);
  return entry;
}

static void Pause(unsigned milliseconds) {
  struct timespec interval = {0, (long)milliseconds * 1000000L};
  nanosleep(&interval, NULL);
}

static unsigned long ProcessId(void) { return (unsigned long)getpid(); }
#endif

static AnyFunction Entry(Library dll, const char *name) {
  AnyFunction address = FindEntry(dll, name);
  if (!address) Fail("the core lacks", name);
  return address;
}

static Core LoadCore(const char *path) {
  Core core;
  Library dll = OpenLibrary(path);
  if (!dll) Fail("can't load the core", path);
  core.api_version = (unsigned (*)(void))Entry(dll, "retro_api_version");
  core.set_environment = (void (*)(retro_environment_t))Entry(dll, "retro_set_environment");
  core.set_video_refresh = (void (*)(retro_video_refresh_t))Entry(dll, "retro_set_video_refresh");
  core.set_audio_sample = (void (*)(retro_audio_sample_t))Entry(dll, "retro_set_audio_sample");
  core.set_audio_sample_batch =
      (void (*)(retro_audio_sample_batch_t))Entry(dll, "retro_set_audio_sample_batch");
  core.set_input_poll = (void (*)(retro_input_poll_t))Entry(dll, "retro_set_input_poll");
  core.set_input_state = (void (*)(retro_input_state_t))Entry(dll, "retro_set_input_state");
  core.init = Entry(dll, "retro_init");
  core.load_game = (bool (*)(const struct retro_game_info *))Entry(dll, "retro_load_game");
  core.run = Entry(dll, "retro_run");
  return core;
}

int main(int argc, char **argv) {
  Core core;
  struct retro_game_info game = {0};
  if (argc != 4) {
    fprintf(stderr, "usage: retro_host CORE SYSTEM_FOLDER GAME\n");
    return 1;
  }
  SystemFolder = argv[2];
  core = LoadCore(argv[1]);
  if (core.api_version() != RETRO_API_VERSION) Fail("the core speaks another libretro version", NULL);
  /* The environment first: the core asks for its folders while it starts. */
  core.set_environment(Environment);
  core.set_video_refresh(NoVideo);
  core.set_audio_sample(NoAudioSample);
  core.set_audio_sample_batch(NoAudioBatch);
  core.set_input_poll(NoInputPoll);
  core.set_input_state(NoInputState);
  core.init();
  game.path = argv[3];
  if (!core.load_game(&game)) Fail("the core did not load the game", argv[3]);
  printf("ready pid %lu\n", ProcessId());
  fflush(stdout);
  for (;;) {
    core.run();
    Pause(FrameMilliseconds);
  }
}

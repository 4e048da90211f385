/* A test audio application: one PipeWire client playing a sine tone on one output stream, and on SIGUSR1
 * a second stream with another tone. Usage: brontide-tone-source APP_ID APP_NAME FREQ [SECOND_FREQ]
 * FREQ "clicks" plays the click train tests/support/clicks.py times instead: 5 ms bursts of 2 kHz 300 to 700 ms
 * apart in an order that never repeats within 100 clicks, so two recordings line up at one lag only. */
#include <math.h>
#include <pipewire/pipewire.h>
#include <pthread.h>
#include <signal.h>
#include <spa/param/audio/format-utils.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RATE 48000

struct tone {
  struct pw_stream* stream;
  struct spa_hook listener;
  double phase, step;
  int clicks;
  uint32_t until_click, click_left, click_count;
};

static struct pw_main_loop* loop;
static struct pw_core* core;
static struct tone tones[2];
static const char* second_freq;
static const char* app_id;
static const char* app_name;

static void on_process(void* data) {
  struct tone* t = data;
  struct pw_buffer* b = pw_stream_dequeue_buffer(t->stream);
  if (!b) return;
  struct spa_data* d = &b->buffer->datas[0];
  float* out = d->data;
  if (!out) return;
  uint32_t frames = d->maxsize / (2 * sizeof(float));
  if (b->requested && b->requested < frames) frames = b->requested;
  for (uint32_t i = 0; i < frames; i++) {
    if (t->clicks) {
      if (t->until_click == 0) {
        t->click_left = RATE / 200;
        t->until_click = RATE * (300 + (t->click_count++ * 37 % 101) * 4) / 1000;
      }
      t->until_click--;
      float s = t->click_left > 0 ? 0.8f * (float)sin(2 * M_PI * 2000 * (double)(RATE / 200 - t->click_left) / RATE) : 0;
      if (t->click_left > 0) t->click_left--;
      out[2 * i] = out[2 * i + 1] = s;
      continue;
    }
    float s = 0.5f * (float)sin(t->phase);
    t->phase += t->step;
    if (t->phase > 2 * M_PI) t->phase -= 2 * M_PI;
    out[2 * i] = out[2 * i + 1] = s;
  }
  d->chunk->offset = 0;
  d->chunk->stride = 2 * sizeof(float);
  d->chunk->size = frames * 2 * sizeof(float);
  pw_stream_queue_buffer(t->stream, b);
}

static const struct pw_stream_events events = {PW_VERSION_STREAM_EVENTS, .process = on_process};

static void open_tone(struct tone* t, const char* freq) {
  uint8_t buffer[1024];
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  t->clicks = strcmp(freq, "clicks") == 0;
  t->step = 2 * M_PI * atof(freq) / RATE;
  t->stream = pw_stream_new(core, "tone",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                              PW_KEY_APP_ID, app_id, PW_KEY_APP_NAME, app_name, NULL));
  pw_stream_add_listener(t->stream, &t->listener, &events, t);
  const struct spa_pod* params[1];
  params[0] = spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat,
                                         &SPA_AUDIO_INFO_RAW_INIT(.format = SPA_AUDIO_FORMAT_F32, .channels = 2,
                                                                  .rate = RATE));
  pw_stream_connect(t->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                    PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS, params, 1);
}

static void on_second(void* data, int signal_number) {
  (void)data;
  (void)signal_number;
  if (!tones[1].stream && second_freq) open_tone(&tones[1], second_freq);
}

static void on_quit(void* data, int signal_number) {
  (void)data;
  (void)signal_number;
  pw_main_loop_quit(loop);
}

int main(int argc, char* argv[]) {
  if (argc < 4) return 2;
  app_id = argv[1];
  app_name = argv[2];
  second_freq = argc > 4 && atof(argv[4]) > 0 ? argv[4] : NULL;
  /* Blocked before any thread exists, so the loop's signalfd sees them and no thread dies of them. */
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, NULL);
  pw_init(&argc, &argv);
  loop = pw_main_loop_new(NULL);
  struct pw_context* context = pw_context_new(pw_main_loop_get_loop(loop), NULL, 0);
  core = pw_context_connect(context, pw_properties_new(PW_KEY_APP_NAME, app_name, NULL), 0);
  if (!core) return 1;
  pw_loop_add_signal(pw_main_loop_get_loop(loop), SIGUSR1, on_second, NULL);
  pw_loop_add_signal(pw_main_loop_get_loop(loop), SIGTERM, on_quit, NULL);
  pw_loop_add_signal(pw_main_loop_get_loop(loop), SIGINT, on_quit, NULL);
  open_tone(&tones[0], argv[3]);
  printf("playing\n");
  fflush(stdout);
  pw_main_loop_run(loop);
  for (int i = 0; i < 2; i++)
    if (tones[i].stream) pw_stream_destroy(tones[i].stream);
  pw_core_disconnect(core);
  pw_context_destroy(context);
  pw_main_loop_destroy(loop);
  pw_deinit();
  return 0;
}

/* baseline-vncclient PORT FRAMES [8bit]
 *
 * The benchmark's baseline: libvncclient decoding a replayed stream. Prints
 * the number of complete framebuffer updates and the seconds they took,
 * from the first update's start to the last one's end. */
#include <rfb/rfbclient.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static int frames;
static double firstStart = -1;

static void Quiet(const char* format, ...) { (void)format; }

static double Now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void GotRect(rfbClient* client, int x, int y, int w, int h) {
  (void)client; (void)x; (void)y; (void)w; (void)h;
  if (firstStart < 0) firstStart = Now();
}

static void FrameDone(rfbClient* client) {
  (void)client;
  ++frames;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: baseline-vncclient PORT FRAMES [8bit]\n");
    return 2;
  }
  int eightBit = argc > 3 && strcmp(argv[3], "8bit") == 0;
  int want = atoi(argv[2]);
  rfbClientLog = rfbClientErr = Quiet;
  rfbClient* client = eightBit ? rfbGetClient(8, 3, 1) : rfbGetClient(8, 3, 4);
  if (eightBit) {
    /* BGR233, as the recorded stream is. */
    client->format.bitsPerPixel = 8;
    client->format.depth = 8;
    client->format.redMax = 7;
    client->format.greenMax = 7;
    client->format.blueMax = 3;
    client->format.redShift = 0;
    client->format.greenShift = 3;
    client->format.blueShift = 6;
  }
  client->serverHost = strdup("127.0.0.1");
  client->serverPort = atoi(argv[1]);
  client->GotFrameBufferUpdate = GotRect;
  client->FinishedFrameBufferUpdate = FrameDone;
  client->canHandleNewFBSize = FALSE;
  int fakeArgc = 1;
  char* fakeArgv[] = {argv[0], NULL};
  if (!rfbInitClient(client, &fakeArgc, fakeArgv)) {
    fprintf(stderr, "baseline-vncclient: cannot connect\n");
    return 1;
  }
  double start = Now();
  while (frames < want) {
    int r = WaitForMessage(client, 1000000);
    if (r < 0) break;
    if (r == 0) {
      if (Now() - start > 60) break;
      continue;
    }
    if (!HandleRFBServerMessage(client)) break;
  }
  double end = Now();
  if (firstStart < 0) firstStart = start;
  printf("%d %.6f\n", frames, end - firstStart);
  rfbClientCleanup(client);
  return frames >= want ? 0 : 1;
}

// Waits until it is killed. The Windows test script keeps one running in
// the background, so Wine's services stay up between test processes and
// each test starts in milliseconds instead of seconds.
#include <windows.h>

int main() {
  for (;;) Sleep(INFINITE);
}

/* A host written in C: makes a parameter block, starts reports 0, 2 and 4,
   records from two threads, asks for an upload and stops.

   Reports are written only where the user's consent allows it
   (HKLM\Software\Norvo_Srp_pos\SRP "report" = 2, for example). */
#include <statrelay/statrelay.h>

#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#include <windows.h>
#define HOST_TEXT(s) L##s
#else
#include <pthread.h>
#define HOST_TEXT(s) u##s
#endif

enum {
  kRounds = 100,
  kLaunches = 0x05000001, /* report 0: a counter, 1 per round */
  kItems = 0x04000002,    /* report 2: a list of numbers */
  kBytes = 0x05000004,    /* report 4: a counter, adds the round number */
  kWorkerOne = 0x02000011,
  kWorkerTwo = 0x02000012 /* report 4: a text of each worker */
};

static void Record(int worker) {
  for (int i = 0; i < kRounds; ++i) {
    SR_W(kLaunches, 0);
    SR_WW(kItems, worker * 1000 + i, 2);
    SR_WW(kBytes, i, 4);
  }
  if (worker == 1) {
    SR_WS(kWorkerOne, HOST_TEXT("worker one"), 4);
  } else {
    SR_WS(kWorkerTwo, HOST_TEXT("worker two"), 4);
  }
}

#if defined(_WIN32)
typedef HANDLE HostThread;
static DWORD WINAPI ThreadMain(LPVOID worker) {
  Record((int)(intptr_t)worker);
  return 0;
}
static int StartThread(HostThread* thread, int worker) {
  *thread = CreateThread(NULL, 0, ThreadMain, (LPVOID)(intptr_t)worker, 0, NULL);
  return *thread != NULL;
}
static void JoinThread(HostThread thread) {
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}
#else
typedef pthread_t HostThread;
static void* ThreadMain(void* worker) {
  Record((int)(intptr_t)worker);
  return NULL;
}
static int StartThread(HostThread* thread, int worker) {
  return pthread_create(thread, NULL, ThreadMain, (void*)(intptr_t)worker) == 0;
}
static void JoinThread(HostThread thread) { pthread_join(thread, NULL); }
#endif

int main(void) {
  /* A null or empty text would be filled from the product installation. */
  CPCFParam* param =
      SR_CreateParam(HOST_TEXT("1.2.3.4"), HOST_TEXT("c-host"), HOST_TEXT("http://report.example/c-host"));
  if (param == NULL) return 1;
  Start(0, param);
  Start(2, param);
  Start(4, param);
  SR_DestroyParam(param); /* the reports keep copies of what they need */

  HostThread one, two;
  if (!StartThread(&one, 1)) return 2;
  if (!StartThread(&two, 2)) return 2;
  JoinThread(one);
  JoinThread(two);

  UploadAllNowSync(); /* seals every report and lists it for upload */
  Stop();
  puts("c-host: done");
  return 0;
}

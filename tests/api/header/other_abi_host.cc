// The public header as a C++ host built with a compiler of another class
// layout sees it (MSVC, or Clang in MSVC mode): the parameter block is an
// opaque type made and released through the library. A compile check only.
#include <statrelay/statrelay.h>

#if defined(SR_PARAM_CLASSES)
#error "the parameter block classes must stay hidden from another ABI"
#endif

int OtherAbiHost() {
  CPCFParam* param = SR_CreateParam(L"1.2.3.4", nullptr, L"http://report.example/");
  int result = Start(0, param);
  SR_DestroyParam(param);
  return result + SR_WS(0x04000001u, L"text", 0) + Stop();
}

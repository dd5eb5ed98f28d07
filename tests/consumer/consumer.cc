// Links against an installed StatRelay and calls exports that touch nothing.
#include <statrelay/statrelay.h>

int main() { return ReportNow() == 1 && Stop() == 1 ? 0 : 1; }

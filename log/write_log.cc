// The log library: formats each call into one UTF-8 line and appends it, with
// one write, to the file named by STATRELAY_LOG (or standard error when it says
// "stderr"). Nothing is written when the variable is unset. Calls below
// STATRELAY_LOG_LEVEL (default 1) are dropped. Both variables are read at each
// call, so a host or a test may change them at any time.
//
// Line layout: "YYYY-MM-DD HH:MM:SS.mmm [thread] L<level> <function>: <message>"
// Line breaks inside the message are written as "\n" so that a call is a line.
#include "write_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Appends a wide text as UTF-8, escaping line breaks.
void AppendWide(std::string* out, const SRCHAR* s) {
  if (s == nullptr) {
    *out += "(null)";
    return;
  }
  for (size_t i = 0; s[i] != 0; ++i) {
    char32_t c = static_cast<char16_t>(s[i]);
    if (c >= 0xD800 && c <= 0xDBFF) {
      char32_t lo = static_cast<char16_t>(s[i + 1]);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r') {
      *out += "\\r";
    } else {
      AppendUtf8(out, c);
    }
  }
}

void FormatInto(std::string* out, const SRCHAR* format, va_list args) {
  if (format == nullptr) return;
  for (size_t i = 0; format[i] != 0; ++i) {
    SRCHAR c = format[i];
    if (c == '%') {
      SRCHAR conversion = format[i + 1];
      if (conversion == 'd') {
        *out += std::to_string(va_arg(args, int));
        ++i;
        continue;
      }
      if (conversion == 'u') {
        *out += std::to_string(va_arg(args, unsigned int));
        ++i;
        continue;
      }
      if (conversion == 's') {
        AppendWide(out, va_arg(args, const SRCHAR*));
        ++i;
        continue;
      }
      if (conversion == '%') {
        *out += '%';
        ++i;
        continue;
      }
    }
    SRCHAR one[2] = {c, 0};
    if (c >= 0xD800 && c <= 0xDBFF && format[i + 1] != 0) {
      SRCHAR pair[3] = {c, format[i + 1], 0};
      AppendWide(out, pair);
      ++i;
      continue;
    }
    AppendWide(out, one);
  }
}

#if defined(_WIN32)

bool ReadSetting(const wchar_t* name, std::wstring* value) {
  wchar_t buf[1024];
  DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  if (n == 0 || n >= 1024) return false;
  value->assign(buf, n);
  return true;
}

void AppendTimeAndThread(std::string* out) {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", st.wYear, st.wMonth, st.wDay,
                st.wHour, st.wMinute, st.wSecond, st.wMilliseconds,
                static_cast<unsigned long>(GetCurrentThreadId()));
  *out += buf;
}

int WriteLine(const std::wstring& target, const std::string& line) {
  if (target == L"stderr") {
    DWORD done = 0;
    HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    return WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &done, nullptr) ? 0 : -1;
  }
  // Append-only access makes each WriteFile land whole at the end of the file,
  // also when other processes append at the same time.
  HANDLE h =
      CreateFileW(target.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  // Appends are atomic on Windows, but not under every emulation of it (Wine
  // reads the size, then writes): a lock on a byte far past any real end keeps
  // the writers of all processes in turn without blocking readers.
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFF0u;
  at.OffsetHigh = 0x7FFFFFFFu;
  BOOL locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
  DWORD done = 0;
  BOOL ok = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
  if (locked) UnlockFileEx(h, 0, 1, 0, &at);
  CloseHandle(h);
  return ok && done == line.size() ? 0 : -1;
}

#else

bool ReadSetting(const char* name, std::string* value) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == 0) return false;
  *value = v;
  return true;
}

void AppendTimeAndThread(std::string* out) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03ld [%ld] ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<long>(ts.tv_nsec / 1000000), static_cast<long>(syscall(SYS_gettid)));
  *out += buf;
}

int WriteLine(const std::string& target, const std::string& line) {
  int fd = 2;
  if (target != "stderr") {
    // O_APPEND: each write lands whole at the end, whoever else appends.
    fd = open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
  }
  ssize_t n = write(fd, line.data(), line.size());
  if (fd != 2) close(fd);
  return n == static_cast<ssize_t>(line.size()) ? 0 : -1;
}

#endif

}  // namespace

extern "C" SR_LOG_EXPORT int SR_CALL WriteLog(const char* function, int line, int level, const SRCHAR* format,
                                              ...) {
  (void)line;
#if defined(_WIN32)
  std::wstring target, min_level;
  if (!ReadSetting(L"STATRELAY_LOG", &target)) return 1;
  if (ReadSetting(L"STATRELAY_LOG_LEVEL", &min_level) && level < _wtoi(min_level.c_str())) return 1;
#else
  std::string target, min_level;
  if (!ReadSetting("STATRELAY_LOG", &target)) return 1;
  if (ReadSetting("STATRELAY_LOG_LEVEL", &min_level) && level < std::atoi(min_level.c_str())) {
    return 1;
  }
#endif
  std::string out;
  out.reserve(160);
  AppendTimeAndThread(&out);
  out += 'L';
  out += std::to_string(level);
  out += ' ';
  out += function ? function : "(null)";
  out += ": ";
  va_list args;
  va_start(args, format);
  FormatInto(&out, format, args);
  va_end(args);
  out += '\n';
  return WriteLine(target, out);
}

#include "platform/shell_folder.h"

#if defined(STATRELAY_TEST_HOOKS)
#include <atomic>

namespace platform {
namespace {

std::atomic<ShellFolderFaultHook> g_shell_folder_hook{nullptr};

}  // namespace

void SetShellFolderFaultHookForTest(ShellFolderFaultHook hook) { g_shell_folder_hook.store(hook); }

namespace internal {

bool ShellFolderFaultAllows(int csidl) {
  ShellFolderFaultHook hook = g_shell_folder_hook.load();
  return hook == nullptr || hook(csidl);
}

}  // namespace internal
}  // namespace platform
#endif  // STATRELAY_TEST_HOOKS

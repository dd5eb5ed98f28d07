#include "platform/shell_folder.h"

#include <atomic>

namespace platform {
namespace internal {
std::atomic<ShellFolderFaultHook> g_shell_folder_hook{nullptr};
}  // namespace internal

void SetShellFolderFaultHookForTest(ShellFolderFaultHook hook) {
  internal::g_shell_folder_hook.store(hook);
}

}  // namespace platform

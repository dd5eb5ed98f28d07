// The DLLs we ship say what they are: Windows itself reads their version
// resource (Explorer, installers, crash reports).
#if defined(_WIN32)

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace {

TEST(VersionResourceTest, ShippingDllsCarryTheProjectVersion) {
  std::string self = sr_test::SelfPath();
  std::string dir = self.substr(0, self.find_last_of("/\\") + 1);
  for (const char* name : {"statrelay.dll", "log.dll"}) {
    SrString path = sr_test::W(dir + name);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(0u, size) << name;
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data())) << name;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)) << name;
    EXPECT_EQ(static_cast<DWORD>(VS_FFI_SIGNATURE), fixed->dwSignature);
    EXPECT_EQ(static_cast<DWORD>((SR_PROJECT_VERSION_MAJOR << 16) | SR_PROJECT_VERSION_MINOR),
              fixed->dwFileVersionMS)
        << name;
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType) << name;
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&text), &length))
        << name;
    EXPECT_EQ(sr_test::W(name), SrString(text)) << name;
  }
}

}  // namespace

#endif  // _WIN32

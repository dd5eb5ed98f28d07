// COpenSecurityAttributes: what the creating calls receive.
#include "env/open_security_attributes.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

#if defined(_WIN32)
TEST(OpenSecurityAttributesTest, NullDaclLowIntegrityLabelNotInherited) {
  COpenSecurityAttributes sa;
  auto* attributes = reinterpret_cast<SECURITY_ATTRIBUTES*>(sa.Get());
  EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes->nLength);
  EXPECT_EQ(FALSE, attributes->bInheritHandle) << "a child of the host must not inherit our handles";
  PSECURITY_DESCRIPTOR sd = attributes->lpSecurityDescriptor;
  ASSERT_NE(nullptr, sd);
  EXPECT_TRUE(IsValidSecurityDescriptor(sd));
  EXPECT_EQ(static_cast<SIZE_T>(SECURITY_DESCRIPTOR_MIN_LENGTH), HeapSize(GetProcessHeap(), 0, sd));

  BOOL present = FALSE;
  BOOL defaulted = TRUE;
  PACL acl = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(nullptr, acl) << "a NULL DACL grants everyone full access";
  EXPECT_FALSE(defaulted);

  // Systems without integrity levels may refuse the label: then there is none.
  present = FALSE;
  acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted));
  EXPECT_EQ(sa.HasLowIntegrityLabel(), present != FALSE);
  if (sa.HasLowIntegrityLabel()) {
    ASSERT_NE(nullptr, acl);
    ASSERT_EQ(1, acl->AceCount);
    ACE_HEADER* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(SYSTEM_MANDATORY_LABEL_ACE_TYPE, ace->AceType);
    PSID sid = &reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart;
    EXPECT_EQ(static_cast<DWORD>(SECURITY_MANDATORY_LOW_RID),
              *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1));
  }
}
#else
TEST(OpenSecurityAttributesTest, InertOnLinux) {
  COpenSecurityAttributes sa;
  EXPECT_EQ(nullptr, sa.Get()->descriptor);
  EXPECT_EQ(0, sa.Get()->inherit_handle);
  EXPECT_FALSE(sa.HasLowIntegrityLabel());
}
#endif

}  // namespace

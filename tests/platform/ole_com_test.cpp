// GUIDs, interface identifiers and exception class names.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "platform/com.h"
#include "platform/exceptions.h"
#include "tests/platform/ole_test_support.h"

namespace {

TEST(Guid, RegistryTextOfTheStandardInterfaces) {
  EXPECT_EQ(GuidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_ISupportErrorInfo), "{DF0B3D60-548F-101B-8E65-08002B2BD119}");
  EXPECT_EQ(GuidToString(IID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, CreatedGuidsAreVersion4AndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const GUID guid = CreateGuid();
    const std::string text = GuidToString(guid);
    ASSERT_EQ(text.size(), 38u);
    EXPECT_EQ(text[15], '4');  // version nibble
    EXPECT_NE(std::string("89AB").find(text[20]), std::string::npos);
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

TEST(Guid, TextRoundTrip) {
  const GUID guid = CreateGuid();
  GUID back{};
  ASSERT_TRUE(StringToGuid(GuidToString(guid), back));
  EXPECT_EQ(back, guid);
  ASSERT_TRUE(StringToGuid("df0b3d60-548f-101b-8e65-08002b2bd119", back));
  EXPECT_EQ(back, IID_ISupportErrorInfo);
  for (const char* bad : {"", "{}", "{00020400-0000-0000-C000-00000000004}",
                          "{00020400-0000-0000-C000-0000000000467}",
                          "00020400-0000-0000-C000-00000000004G",
                          "{00020400+0000-0000-C000-000000000046}",
                          "(00020400-0000-0000-C000-000000000046)",
                          "{00020400-0000-0000-C000-000000000046"}) {
    EXPECT_FALSE(StringToGuid(bad, back)) << bad;
  }
}

TEST(Guid, ComPtrCountsReferences) {
  ole_test::CountedUnknown object;
  {
    ComPtr<IUnknown> a(&object);
    ComPtr<IUnknown> b = a;
    EXPECT_EQ(object.RefCount(), 3u);
    ComPtr<IUnknown> c = std::move(b);
    EXPECT_EQ(object.RefCount(), 3u);
    EXPECT_FALSE(b);  // NOLINT(bugprone-use-after-move)
  }
  EXPECT_EQ(object.RefCount(), 1u);
}

struct ForeignError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST(ExceptionNames, OwnClassesAndForeignOnes) {
  EXPECT_EQ(ExceptionClassName(EVariantTypeCastError("m")), "EVariantTypeCastError");
  EXPECT_EQ(ExceptionClassName(EConvertError("m")), "EConvertError");
  EXPECT_EQ(ExceptionClassName(Exception("m")), "Exception");
  const EVariantError& base = EVariantBadIndexError("m");
  EXPECT_EQ(ExceptionClassName(base), "EVariantBadIndexError");
  EXPECT_EQ(ExceptionClassName(std::runtime_error("m")), "std::runtime_error");
  EXPECT_EQ(ExceptionClassName(std::bad_alloc()), "std::bad_alloc");
  EXPECT_EQ(ExceptionClassName(ForeignError("m")), "(anonymous namespace)::ForeignError");
  try {
    throw EOleException("boom");
  } catch (const EVariantError&) {
    FAIL() << "unrelated classes must not match";
  } catch (const Exception& e) {
    EXPECT_EQ(ExceptionClassName(e), "EOleException");
    EXPECT_STREQ(e.what(), "boom");
  }
}

}  // namespace

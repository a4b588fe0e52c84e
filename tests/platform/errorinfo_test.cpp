#include "kx/platform/errorinfo.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "kx/platform/comptr.h"

namespace kx::platform {
namespace {

ComPtr<IErrorInfo> MakeError(const char16_t* source, const char16_t* description) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(CreateErrorInfo(create.put()), S_OK);
  EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(source)), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
  return create.As<IErrorInfo>();
}

std::u16string Description(IErrorInfo* info) {
  Bstr text;
  EXPECT_EQ(info->GetDescription(text.put()), S_OK);
  return std::u16string(text.view());
}

TEST(ErrorInfo, CarriesWhatWasSetAndAnswersBothInterfaces) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(create.put()), S_OK);
  const GUID guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(create->SetGUID(guid), S_OK);
  EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(u"Korvane.Quantorb.1")), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(u"Error in BSCallPrice: Invalid input parameter(s).")), S_OK);
  EXPECT_EQ(create->SetHelpContext(17), S_OK);
  ComPtr<IErrorInfo> info = create.As<IErrorInfo>();
  ASSERT_TRUE(info);

  GUID got_guid;
  EXPECT_EQ(info->GetGUID(&got_guid), S_OK);
  EXPECT_EQ(got_guid, guid);
  Bstr source, help_file;
  EXPECT_EQ(info->GetSource(source.put()), S_OK);
  EXPECT_EQ(source.view(), u"Korvane.Quantorb.1");
  EXPECT_EQ(Description(info.get()), u"Error in BSCallPrice: Invalid input parameter(s).");
  EXPECT_EQ(info->GetHelpFile(help_file.put()), S_OK);
  EXPECT_EQ(help_file.get(), nullptr) << "no help file was set";
  DWORD context = 0;
  EXPECT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 17u);

  ComPtr<ISupportErrorInfo> unrelated;
  EXPECT_EQ(info.As(&unrelated), E_NOINTERFACE);
  EXPECT_FALSE(unrelated);
  EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
}

TEST(GetErrorInfo, HandsOverAndClearsTheThreadsErrorObject) {
  ComPtr<IErrorInfo> posted = MakeError(u"src", u"first");
  ASSERT_EQ(SetErrorInfo(0, posted.get()), S_OK);
  posted.Reset();  // the thread's slot holds its own reference

  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
  ASSERT_TRUE(got);
  EXPECT_EQ(Description(got.get()), u"first");

  ComPtr<IErrorInfo> again;
  EXPECT_EQ(GetErrorInfo(0, again.put()), S_FALSE) << "reading must clear it";
  EXPECT_FALSE(again);
}

TEST(SetErrorInfo, NullClearsAndReservedMustBeZero) {
  ComPtr<IErrorInfo> posted = MakeError(u"src", u"gone");
  ASSERT_EQ(SetErrorInfo(0, posted.get()), S_OK);
  EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  ComPtr<IErrorInfo> got;
  EXPECT_EQ(GetErrorInfo(0, got.put()), S_FALSE);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_POINTER);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_POINTER);
}

TEST(SetErrorInfo, EachThreadHasItsOwnErrorObject) {
  ComPtr<IErrorInfo> mine = MakeError(u"main", u"main thread");
  ASSERT_EQ(SetErrorInfo(0, mine.get()), S_OK);

  HRESULT seen_by_other = E_FAIL;
  std::u16string other_own;
  std::thread other([&] {
    ComPtr<IErrorInfo> got;
    seen_by_other = GetErrorInfo(0, got.put());
    ComPtr<IErrorInfo> theirs = MakeError(u"worker", u"worker thread");
    (void)SetErrorInfo(0, theirs.get());
    ComPtr<IErrorInfo> back;
    if (GetErrorInfo(0, back.put()) == S_OK) other_own = Description(back.get());
    (void)SetErrorInfo(0, theirs.get());  // left behind: released when the thread ends
  });
  other.join();
  EXPECT_EQ(seen_by_other, S_FALSE) << "a second thread saw the first one's error";
  EXPECT_EQ(other_own, u"worker thread");

  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
  EXPECT_EQ(Description(got.get()), u"main thread");
}

TEST(PostErrorInfo, PostsTheTextsAndAnswersDispException) {
  EXPECT_EQ(PostErrorInfo(GUID_NULL, u"Korvane.Quantorb.1", u"Data processing aborted."), DISP_E_EXCEPTION);
  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.put()), S_OK);
  Bstr source;
  EXPECT_EQ(got->GetSource(source.put()), S_OK);
  EXPECT_EQ(source.view(), u"Korvane.Quantorb.1");
  EXPECT_EQ(Description(got.get()), u"Data processing aborted.");
}

}  // namespace
}  // namespace kx::platform

// The built module as a plain command-line host sees it: loaded by path, its two exports looked
// up by their decorated names, no Qt application of the host's own. The fake card library sits
// beside this program as "QORVPKCS11.dll".
#include <gtest/gtest.h>
#include <stdio.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "login_session/fake_library.h"
#include "platform/bstr.h"
#include "platform/module_loader.h"

namespace {

using SignFunction = BSTR (*)(const char16_t*, const char16_t*);
using GetKeyFunction = BSTR (*)();

std::string Narrow(std::u16string_view text) {
  return std::string(text.begin(), text.end());  // the module's lines are ASCII here
}

bool HasCall(const FakeLibrary& library, const std::string& line) {
  const std::vector<std::string> calls = library.Calls();
  return std::find(calls.begin(), calls.end(), line) != calls.end();
}

// Once the fake's session is open (the dialog comes next), answers the PIN dialog on the main
// thread's event loop: `pin` and OK, or Cancel for an empty `pin`. The host has no event loop of
// its own, so the wait runs on a thread and the answer is posted into the dialog's loop.
class DialogAnswer {
 public:
  DialogAnswer(const FakeLibrary& library, QString pin)
      : thread_([&library, pin] {
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
          while (!HasCall(library, "C_OpenSession slot=12 flags=6 application=null notify=null")) {
            if (std::chrono::steady_clock::now() > deadline) {
              return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
          if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app, [pin] { AnswerWhenOpen(pin); }, Qt::QueuedConnection);
          }
        }) {}
  ~DialogAnswer() { thread_.join(); }

 private:
  static void AnswerWhenOpen(const QString& pin) {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) {
      QTimer::singleShot(10, QCoreApplication::instance(), [pin] { AnswerWhenOpen(pin); });
      return;
    }
    dialog->findChild<QLineEdit*>(QStringLiteral("201"))->setText(pin);
    dialog->findChild<QPushButton*>(pin.isEmpty() ? QStringLiteral("2") : QStringLiteral("1"))
        ->click();
  }

  std::thread thread_;
};

class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    module_ = platform::LoadModule(QUILLOMAT_PATH, &error);
    ASSERT_NE(module_, nullptr) << error;
    sign_ = reinterpret_cast<SignFunction>(platform::FindExport(module_, "_sign@8"));
    getKey_ = reinterpret_cast<GetKeyFunction>(platform::FindExport(module_, "_getKey@0"));
    ASSERT_NE(sign_, nullptr);
    ASSERT_NE(getKey_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_TRUE(platform::FreeModule(module_));
    }
  }

  // The export's text, checked for the BSTR shape, then freed as a caller does.
  static std::string Take(BSTR result) {
    EXPECT_NE(result, nullptr);
    if (result == nullptr) {
      return {};
    }
    const std::u16string text(result);
    EXPECT_EQ(SysStringLen(result), text.size()) << "a zero unit inside the length";
    SysFreeString(result);
    return Narrow(text);
  }
  std::string Sign(const char16_t* pin, const char16_t* data) { return Take(sign_(pin, data)); }
  std::string GetKey() { return Take(getKey_()); }

  void* module_ = nullptr;
  SignFunction sign_ = nullptr;
  GetKeyFunction getKey_ = nullptr;
};

TEST_F(Exports, OnlyTheTwoDecoratedNamesAreExported) {
  for (const char* name : {"sign", "getKey", "_sign@4", "_getKey@4"}) {
    EXPECT_EQ(platform::FindExport(module_, name), nullptr) << name;
  }
  // Exactly these: nothing of what the module links in (the session, Qt helpers, the
  // platform layer) may bind to a host's symbols or be reached by a caller.
  FILE* nm = popen("nm -D --defined-only '" QUILLOMAT_PATH "' 2>/dev/null", "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (fgets(line, sizeof line, nm) != nullptr) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    exported.insert(text.substr(text.rfind(' ') + 1));
  }
  if (pclose(nm) != 0 && exported.empty()) {
    GTEST_SKIP() << "nm is not available";
  }
  EXPECT_EQ(exported, (std::set<std::string>{"_getKey$0", "_sign$8"}));
}

TEST_F(Exports, SignGivesTheSessionLineAsANewBstrEachCall) {
  const FakeLibrary library;
  BSTR first = sign_(u"1234", u"challenge");
  BSTR second = sign_(u"1234", u"challenge");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  const std::u16string kept(second);
  SysFreeString(first);
  EXPECT_EQ(std::u16string(second), kept);  // independent of the freed one
  const std::string text = Take(second);
  EXPECT_TRUE(text.starts_with("0,Fake card key,")) << text;
  EXPECT_EQ(text.size(), std::string("0,Fake card key,").size() + 512);
  EXPECT_EQ(Sign(u"9999", u"challenge"), "160,C_Login");
}

TEST_F(Exports, NullArgumentsAreEmptyTexts) {
  const FakeLibrary library;
  EXPECT_EQ(Sign(u"1234", nullptr), Sign(u"1234", u""));
  EXPECT_EQ(Sign(nullptr, u"x"), "160,C_Login");
  EXPECT_TRUE(HasCall(library, "C_Login userType=1 pinLength=0"));
}

TEST_F(Exports, GetKeyMakesAnApplicationForEachCallWhenTheHostHasNone) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  const FakeLibrary library;
  std::string result;
  {
    const DialogAnswer answer(library, QStringLiteral("1234"));
    result = GetKey();
  }
  EXPECT_TRUE(result.starts_with("0,Fake card key,010001,")) << result;
  EXPECT_EQ(QCoreApplication::instance(), nullptr);

  // Again, with a new application; cancelled, so the card never sees a login.
  {
    const FakeLibrary again;
    const DialogAnswer answer(again, QString());
    result = GetKey();
    EXPECT_FALSE(HasCall(again, "C_Login userType=1 pinLength=0"));
  }
  EXPECT_EQ(result, "5,C_Login");
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST_F(Exports, GetKeyWithoutACardShowsNoDialog) {
  const FakeLibrary library("no-token");
  EXPECT_EQ(GetKey(), "990,No Token error");
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// A host that runs Qt without widgets cannot show the dialog, and must not be ended by trying.
TEST_F(Exports, GetKeyOnAHostWithoutWidgetsAnswersAsCancelled) {
  int argc = 1;
  char name[] = "host";
  char* argv[] = {name, nullptr};
  const QCoreApplication host(argc, argv);
  const FakeLibrary library;
  EXPECT_EQ(GetKey(), "5,C_Login");
  EXPECT_EQ(QCoreApplication::instance(), &host);
}

}  // namespace

// Helpers of the installer tests: a message-box stand-in that answers from a script and records
// every box, a window fixture with the termination of the program replaced by a flag.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QTest>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "app/fin_install.h"
#include "app/zqsw_inst.h"
#include "ui/message_boxes.h"

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace zq::testing {

struct AskedBox {
  QString text;
  QString caption;
  unsigned flags;
  bool operator==(const AskedBox&) const = default;
};

inline void PrintTo(const AskedBox& box, std::ostream* os) {
  *os << "{\"" << box.text.toStdString() << "\", \"" << box.caption.toStdString() << "\", 0x" << std::hex << box.flags
      << std::dec << "}";
}

class ScriptedBoxes : public IMessageBoxes {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
    asked.push_back({text, caption, flags});
    if (answers.empty()) return kIdOk;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // Every text asked, for failure messages.
  std::string AskedTexts() const {
    std::string all;
    for (const AskedBox& box : asked) all += "[" + box.text.toStdString() + "] ";
    return all;
  }
  std::deque<int> answers;
  std::vector<AskedBox> asked;
};

class FormFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageBoxes(&boxes);
    form = new TForm_Install;
    form->OnTerminate = [this] { ++terminated; };
    Form_Install = form;
    end = new TForm_End(form);
    Form_End = end;
  }
  void TearDown() override {
    delete form;  // owns the completion window
    Form_Install = nullptr;
    Form_End = nullptr;
    SetMessageBoxes(nullptr);
  }
  void ShowActive() {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
  }

  ScriptedBoxes boxes;
  TForm_Install* form = nullptr;
  TForm_End* end = nullptr;
  int terminated = 0;
};

}  // namespace zq::testing

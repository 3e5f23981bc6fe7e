// The rule-settings window inside the real main window: layout, showing and editing rules byte
// for byte, adding, renaming and deleting, the window's life beside the main window, and the
// rule lookup of the address box. Each test has its own directory and rule file; notices and
// input boxes are answered by the test.
#include <stdlib.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QInputDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gui/box_text.h"
#include "layout_check.h"
#include "gui/main_window.h"
#include "gui/notices.h"
#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "gui/rule_window/rule_window.h"
#include "gui/rule_window/rule_window_hooks.h"
#include "text/encoding.h"
#include "book_site.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }
QString U(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
// A notice text as the box shows it.
QString Shown(std::string_view utf8) { return CaptionFromGbk(G(utf8)); }

constexpr std::array<RuleField, 6> kBoxFields = {
    RuleField::kSite,          RuleField::kListPattern, RuleField::kTitlePattern,
    RuleField::kAuthorPattern, RuleField::kLeftMarker,  RuleField::kRightMarker,
};

// A rule file, written out independently of the store: one line per rule, values in stored form.
Text RuleLine(const SiteRule& stored) {
  Text line = "\r\n\t<" + stored.ruleName;
  for (RuleField f : kRuleFields) line += " " + RuleFieldName(f) + "=\"" + stored.Field(f) + "\"";
  return line + "/>";
}
Text FileOf(const std::vector<SiteRule>& stored) {
  Text out = "<?xml version=\"1.0\" encoding=\"gb18030\"?>" + G("\r\n<小说站点>");
  for (const SiteRule& r : stored) out += RuleLine(r);
  return out + G("\r\n</小说站点>");
}
// A rule in stored form from plain UTF-8 texts.
SiteRule Stored(std::string_view name, std::string_view site, bool capture = false) {
  SiteRule r;
  r.ruleName = TextEncode(G(name));
  r.site = TextEncode(G(site));
  r.listPattern = TextEncode(G("<li><a href=\"(.*?)\">(.*?)</a>"));
  r.titlePattern = TextEncode(G("<h1>(.*?)</h1>\r\n"));
  r.authorPattern = TextEncode(G("作者：(.*?)<"));
  r.leftMarker = TextEncode(G("<div id=\"content\">"));
  r.rightMarker = TextEncode(G("</div>"));
  r.pageCapture = capture ? TrueText() : FalseText();
  return r;
}

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Stands for "let the notice close itself".
constexpr QMessageBox::StandardButton kLetItTimeOut = QMessageBox::NoButton;

struct NoticeSeen {
  QString title;
  QString text;
  QMessageBox::Icon icon;
  QMessageBox::StandardButtons buttons;
};

struct InputSeen {
  QString title;
  QString label;
  QString initial;
};

class RuleWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "qv_rualwin_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
  }

  void TearDown() override {
    SetNoticeObserver({});
    SetInputBoxObserver({});
    main_.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    fs::current_path(old_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // The main window with the rule window attached, shown as the program shows it. With a file,
  // the rule file holds it beforehand; without, the default rules are written.
  void Open(const std::optional<Text>& file = std::nullopt) {
    if (file) WriteBytes(RuleStore().FilePath(), *file);
    MainWindowHooks hooks;
    AttachRuleWindow(hooks);
    main_ = std::make_unique<MainWindow>(std::move(hooks));
    main_->show();
    rw_ = RuleWindowOf(*main_);
    ASSERT_NE(rw_, nullptr);
  }

  std::string FileBytes() const { return ReadBytes(RuleStore().FilePath()); }

  QListWidget* List() const { return rw_->RuleList(); }
  QLineEdit* Address() const { return main_->Find<QLineEdit>("编辑框_章节列表网址"); }
  QCheckBox* Capture() const { return main_->Find<QCheckBox>("选择框_页面抓取"); }
  QPushButton* RuleButton() const { return main_->Find<QPushButton>("按钮_选择规则"); }
  Text StatusText() const { return WidgetText(main_->Find("标签4")); }
  Text Box(RuleField f) const { return WidgetText(rw_->FieldBox(f)); }
  Text ItemText(int row) const {
    const QByteArray b = List()->item(row)->data(RuleWindow::kItemBytesRole).toByteArray();
    return Text(b.constData(), static_cast<size_t>(b.size()));
  }
  std::vector<Text> ItemTexts() const {
    std::vector<Text> out;
    for (int i = 0; i < List()->count(); ++i) out.push_back(ItemText(i));
    return out;
  }

  // As the user: the rule window shown with its button, then a click on the item.
  void ShowRuleWindow() {
    if (!rw_->isVisible()) RuleButton()->click();
  }
  void ClickItem(int row) {
    ShowRuleWindow();
    QListWidgetItem* item = List()->item(row);
    List()->scrollToItem(item);
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {},
                      List()->visualItemRect(item).center());
  }
  // Typed at the end of a box.
  void TypeAtEnd(RuleField f, const char* keys) {
    ShowRuleWindow();
    QWidget* box = rw_->FieldBox(f);
    if (auto* line = qobject_cast<QLineEdit*>(box)) line->end(false);
    if (auto* text = qobject_cast<QPlainTextEdit*>(box)) text->moveCursor(QTextCursor::End);
    QTest::keyClicks(box, QString::fromLatin1(keys));
  }
  void ClickCapture() { QTest::mouseClick(Capture(), Qt::LeftButton, {}, QPoint(6, Capture()->height() / 2)); }

  // Notices are answered in turn with these buttons.
  void AnswerNotices(std::vector<QMessageBox::StandardButton> answers) {
    noticeAnswers_ = std::move(answers);
    SetNoticeObserver([this](QMessageBox* box) {
      notices_.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
      const size_t i = notices_.size() - 1;
      if (i >= noticeAnswers_.size()) {
        ADD_FAILURE() << "unexpected notice " << box->text().toStdString();
        box->done(QDialog::Rejected);
        return;
      }
      if (noticeAnswers_[i] == kLetItTimeOut) return;
      box->button(noticeAnswers_[i])->click();
    });
  }
  // Input boxes are answered in turn: a text to confirm, or nullopt to cancel.
  void AnswerInputs(std::vector<std::optional<QString>> answers) {
    inputAnswers_ = std::move(answers);
    SetInputBoxObserver([this](QInputDialog* dialog) {
      inputs_.push_back({dialog->windowTitle(), dialog->labelText(), dialog->textValue()});
      const size_t i = inputs_.size() - 1;
      if (i < inputAnswers_.size() && inputAnswers_[i]) {
        dialog->setTextValue(*inputAnswers_[i]);
        dialog->accept();
        return;
      }
      if (i >= inputAnswers_.size()) ADD_FAILURE() << "unexpected input box";
      dialog->reject();
    });
  }

  void ExpectAdditionIdle() const {
    EXPECT_EQ(WidgetText(rw_->AddButton()), G("增加"));
    EXPECT_FALSE(rw_->AdditionUnderWay());
    EXPECT_TRUE(List()->isEnabled());
    EXPECT_TRUE(rw_->RenameButton()->isEnabled());
    EXPECT_TRUE(rw_->DeleteButton()->isEnabled());
    EXPECT_TRUE(rw_->AddButton()->isEnabled());
  }
  void ExpectAdditionWaiting() const {
    EXPECT_EQ(WidgetText(rw_->AddButton()), G("确认增加"));
    EXPECT_TRUE(rw_->AdditionUnderWay());
    EXPECT_FALSE(List()->isEnabled());
    EXPECT_FALSE(rw_->RenameButton()->isEnabled());
    EXPECT_FALSE(rw_->DeleteButton()->isEnabled());
  }
  void ExpectShows(const SiteRule& stored) const {
    for (RuleField f : kBoxFields) {
      EXPECT_EQ(Box(f), TextDecode(stored.Field(f))) << static_cast<int>(f);
    }
    EXPECT_EQ(Capture()->isChecked(), stored.pageCapture == TrueText());
  }

  fs::path old_;
  fs::path dir_;
  std::unique_ptr<MainWindow> main_;
  RuleWindow* rw_ = nullptr;
  std::vector<NoticeSeen> notices_;
  std::vector<QMessageBox::StandardButton> noticeAnswers_;
  std::vector<InputSeen> inputs_;
  std::vector<std::optional<QString>> inputAnswers_;
};

std::vector<SiteRule> Defaults() { return DefaultRuleSet(); }

// ---- The window and its controls ----

TEST_F(RuleWindowTest, FirstStartLoadsTheWindowHiddenWithTheDefaultRulesListed) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(WidgetText(rw_), G("规则设置"));
  EXPECT_EQ(rw_->parentWidget(), nullptr);
  EXPECT_TRUE(rw_->isWindow());
  EXPECT_FALSE(rw_->isVisible());
  EXPECT_FALSE(rw_->isModal());
  EXPECT_EQ(rw_->size(), QSize(405, 461));
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
  ASSERT_EQ(FileOf(Defaults()), DefaultRuleFileBytes()) << "the test's own file layout";

  std::vector<Text> names;
  for (const SiteRule& r : Defaults()) names.push_back(TextDecode(r.ruleName));
  EXPECT_EQ(ItemTexts(), names);
  for (int i = 0; i < List()->count(); ++i) {
    EXPECT_EQ(List()->item(i)->data(RuleWindow::kItemValueRole).toInt(), 0);
    EXPECT_EQ(List()->item(i)->text(), QStringFromGbk(names[i]));
  }
  // The start-up lookup found the sample address's rule (笔趣阁) and shows it.
  EXPECT_EQ(rw_->SelectedIndex(), 18);
  ExpectShows(Defaults()[18]);
  EXPECT_EQ(StatusText(), G("已找到此网站的下载规则，可直接点击下载"));
  // The engines read the current rule's patterns and markers through the controls.
  EXPECT_EQ(main_->controls().GetText(Ctl::ListPatternBox),
            TextDecode(Defaults()[18].listPattern));
  EXPECT_EQ(main_->controls().GetText(Ctl::RightMarkerBox), TextDecode(Defaults()[18].rightMarker));
  EXPECT_EQ(main_->controls().Widget(Ctl::RuleWindow), rw_);
}

TEST_F(RuleWindowTest, ControlsHaveTheirNamesPlacesCaptionsAndBuddies) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ShowRuleWindow();
  struct Case {
    const char* box;
    const char* label;
    const char* caption;
    bool multiLine;
  };
  const Case cases[] = {
      {"编辑框_网址", "标签_网址", "网址", false},
      {"编辑框_列表正则", "标签2", "章节列表\r\n正则表达式", true},
      {"编辑框_小说名正则", "标签3", "小说名称\r\n正则表达式", true},
      {"编辑框_小说作者正则", "标签4", "小说作者\r\n正则表达式", true},
      {"编辑框_章节内容左", "标签5", "章节内容左侧", false},
      {"编辑框_章节内容右", "标签6", "章节内容右侧", false},
  };
  // Laid out as a form: the list on the left, then a column of captions, each beside its box,
  // the boxes from top to bottom in field order, one right edge.
  QWidget* previous = nullptr;
  int labelX = -1;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    auto* box = rw_->findChild<QWidget*>(U(c.box));
    auto* label = rw_->findChild<QLabel*>(U(c.label));
    ASSERT_NE(box, nullptr) << c.box;
    ASSERT_NE(label, nullptr) << c.label;
    EXPECT_EQ(box, rw_->FieldBox(kBoxFields[i])) << c.box;
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(box) != nullptr, c.multiLine) << c.box;
    EXPECT_EQ(qobject_cast<QLineEdit*>(box) != nullptr, !c.multiLine) << c.box;
    EXPECT_EQ(WidgetText(label), G(c.caption)) << c.label;
    EXPECT_EQ(label->buddy(), box) << c.label;
    if (labelX < 0) labelX = label->x();
    EXPECT_EQ(label->x(), labelX) << c.label;
    EXPECT_LE(label->geometry().right(), box->x()) << c.label;
    EXPECT_GT(label->x(), List()->geometry().right()) << c.label;
    if (previous != nullptr) {
      EXPECT_GT(box->y(), previous->geometry().bottom()) << c.box;
      EXPECT_EQ(box->geometry().right(), previous->geometry().right()) << c.box;
    }
    previous = box;
    QString name = U(c.caption);
    name.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    EXPECT_EQ(box->accessibleName(), name) << c.box;
  }
  EXPECT_EQ(List()->objectName(), U("列表框1"));
  EXPECT_EQ(List()->selectionMode(), QAbstractItemView::SingleSelection);
  const struct {
    QPushButton* button;
    const char* name;
    const char* caption;
  } buttons[] = {
      {rw_->RenameButton(), "按钮_修改规则名", "修改规则名"},
      {rw_->AddButton(), "按钮_增加", "增加"},
      {rw_->DeleteButton(), "按钮_删除", "删除"},
  };
  int buttonX = 0;
  for (const auto& b : buttons) {
    EXPECT_EQ(b.button->objectName(), U(b.name));
    EXPECT_EQ(WidgetText(b.button), G(b.caption));
    // Below the boxes, left to right.
    EXPECT_GT(b.button->y(), previous->geometry().bottom()) << b.name;
    EXPECT_GT(b.button->x(), buttonX) << b.name;
    buttonX = b.button->geometry().right();
  }
}

// ---- Showing and editing ----

TEST_F(RuleWindowTest, ShowingEveryDefaultRuleKeepsEveryFieldAndEveryByteOfTheFile) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::vector<SiteRule> rules = Defaults();
  for (int i = 0; i < static_cast<int>(rules.size()); ++i) {
    ClickItem(i);
    ASSERT_EQ(rw_->SelectedIndex(), i);
    ExpectShows(rules[i]);
    // The engines get the exact bytes, a lone CR (紫幽阁) or a CR LF at the end included.
    EXPECT_EQ(main_->controls().GetText(Ctl::TitlePatternBox),
              TextDecode(rules[i].titlePattern));
    // A pattern that ends in a line break shows one.
    for (RuleField f : {RuleField::kListPattern, RuleField::kTitlePattern,
                        RuleField::kAuthorPattern}) {
      const Text value = TextDecode(rules[i].Field(f));
      const bool endsInBreak = !value.empty() && (value.back() == '\r' || value.back() == '\n');
      EXPECT_EQ(qobject_cast<QPlainTextEdit*>(rw_->FieldBox(f))->toPlainText().endsWith(u'\n'),
                endsInBreak)
          << "rule " << i << " field " << static_cast<int>(f);
    }
    ASSERT_EQ(FileBytes(), DefaultRuleFileBytes()) << "after showing rule " << i;
  }
}

TEST_F(RuleWindowTest, EachEditRewritesOnlyItsFieldOfTheSelectedRule) {
  ASSERT_NO_FATAL_FAILURE(Open());
  std::vector<SiteRule> expected = Defaults();
  const struct {
    int rule;
    RuleField field;
  } edits[] = {
      {3, RuleField::kLeftMarker},
      {6, RuleField::kTitlePattern},  // ends in CR LF: the box keeps it
      {0, RuleField::kSite},
      {19, RuleField::kRightMarker},
      {2, RuleField::kAuthorPattern},
  };
  for (const auto& e : edits) {
    ClickItem(e.rule);
    TypeAtEnd(e.field, "x");
    expected[e.rule].Field(e.field) += "x";
    EXPECT_EQ(Box(e.field), TextDecode(expected[e.rule].Field(e.field)));
    ASSERT_EQ(FileBytes(), FileOf(expected)) << "rule " << e.rule;
  }
  // Keystroke by keystroke, and deleting counts too.
  ClickItem(3);
  TypeAtEnd(RuleField::kLeftMarker, "yz");
  expected[3].leftMarker += "yz";
  ASSERT_EQ(FileBytes(), FileOf(expected));
  QTest::keyClick(rw_->FieldBox(RuleField::kLeftMarker), Qt::Key_Backspace);
  expected[3].leftMarker.pop_back();
  ASSERT_EQ(FileBytes(), FileOf(expected));

  // The main window's check box writes the flag of the shown rule, on the user's click only.
  ClickCapture();
  EXPECT_TRUE(Capture()->isChecked());
  expected[3].pageCapture = TrueText();
  ASSERT_EQ(FileBytes(), FileOf(expected));
  ClickItem(7);  // 2345小说（仅测试）: shown checked, nothing written
  EXPECT_TRUE(Capture()->isChecked());
  ASSERT_EQ(FileBytes(), FileOf(expected));
  ClickItem(3);
  EXPECT_TRUE(Capture()->isChecked());
  ClickCapture();
  expected[3].pageCapture = FalseText();
  ASSERT_EQ(FileBytes(), FileOf(expected));
}

// ---- Adding ----

TEST_F(RuleWindowTest, AddingCancelledAtTheNameChangesNothing) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ClickItem(2);
  AnswerInputs({std::nullopt});
  rw_->AddButton()->click();
  ASSERT_EQ(inputs_.size(), 1u);
  EXPECT_EQ(inputs_[0].title, U("输入名称"));
  EXPECT_EQ(inputs_[0].label, Shown("请输入新的规则名称：\r\n（不含空格）"));
  EXPECT_EQ(inputs_[0].initial, U("新规则名称"));
  ExpectAdditionIdle();
  EXPECT_EQ(List()->count(), 20);
  EXPECT_EQ(rw_->SelectedIndex(), 2);
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

TEST_F(RuleWindowTest, NamesWithoutAStorableFormStartNoAddition) {
  ASSERT_NO_FATAL_FAILURE(Open());
  // Only spaces; and names the rule file cannot hold as an element.
  AnswerInputs({U(" \u3000 "), U(""), U("!abc"), U("/abc"), U("?abc")});
  for (int i = 0; i < 5; ++i) {
    rw_->AddButton()->click();
    ExpectAdditionIdle();
    EXPECT_EQ(List()->count(), 20);
  }
  EXPECT_EQ(inputs_.size(), 5u);
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

TEST_F(RuleWindowTest, AdditionWaitsWithItsNameAndGoesBackOnNo) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ClickItem(2);
  // ASCII and full-width spaces before, between and after; the TAB stays.
  AnswerInputs({U(" \u3000新 规\u3000则\tB \u3000")});
  rw_->AddButton()->click();
  ASSERT_EQ(List()->count(), 21);
  EXPECT_EQ(ItemText(20), G("新规则\tB"));
  EXPECT_EQ(List()->item(20)->data(RuleWindow::kItemValueRole).toInt(), 2);
  EXPECT_EQ(rw_->SelectedIndex(), 20);
  ExpectAdditionWaiting();
  // The boxes keep the rule shown before, less its 网址.
  EXPECT_EQ(Box(RuleField::kSite), Text());
  EXPECT_EQ(Box(RuleField::kLeftMarker), TextDecode(Defaults()[2].leftMarker));
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());

  // Edits while the name waits reach no rule.
  TypeAtEnd(RuleField::kSite, "http://new.example/");
  TypeAtEnd(RuleField::kRightMarker, "q");
  ClickCapture();
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());

  // Cancel keeps the addition under way.
  AnswerNotices({QMessageBox::Cancel, QMessageBox::No});
  rw_->AddButton()->click();
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].title, U("确认提醒"));
  EXPECT_EQ(notices_[0].text,
            Shown("请确认是否增加规则\r\n确认请点击\"是\"\r\n取消请点击\"否\"\r\n"
                  "返回重新修改请点击\"取消\"\r\n5秒后自动返回重新修改"));
  EXPECT_EQ(notices_[0].icon, QMessageBox::Question);
  EXPECT_EQ(notices_[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  ExpectAdditionWaiting();
  EXPECT_EQ(List()->count(), 21);
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());

  // No: the list, the selection and the boxes return to the rule selected before.
  rw_->AddButton()->click();
  ASSERT_EQ(notices_.size(), 2u);
  ExpectAdditionIdle();
  EXPECT_EQ(List()->count(), 20);
  EXPECT_EQ(rw_->SelectedIndex(), 2);
  ExpectShows(Defaults()[2]);
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

TEST_F(RuleWindowTest, AdditionLeftToTimeOutStaysUnderWay) {
  ASSERT_NO_FATAL_FAILURE(Open());
  AnswerInputs({U("新规则")});
  rw_->AddButton()->click();
  ExpectAdditionWaiting();
  AnswerNotices({kLetItTimeOut});  // the one real five-second wait of these tests
  rw_->AddButton()->click();
  ASSERT_EQ(notices_.size(), 1u);
  ExpectAdditionWaiting();
  EXPECT_EQ(List()->count(), 21);
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

TEST_F(RuleWindowTest, AdditionConfirmedWithYesEndsTheFileWithTheNewRule) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ClickItem(4);
  AnswerInputs({U("新规则")});
  rw_->AddButton()->click();
  TypeAtEnd(RuleField::kSite, "http://new.example/");
  TypeAtEnd(RuleField::kLeftMarker, "<p>");
  ClickCapture();
  AnswerNotices({QMessageBox::Yes});
  rw_->AddButton()->click();
  ExpectAdditionIdle();
  ASSERT_EQ(List()->count(), 21);
  EXPECT_EQ(rw_->SelectedIndex(), 20);

  std::vector<SiteRule> expected = Defaults();
  SiteRule added = expected[4];
  added.ruleName = G("新规则");
  added.site = "http://new.example/";
  added.leftMarker += "&lt;p&gt;";
  added.pageCapture = TrueText();
  expected.push_back(added);
  ASSERT_EQ(FileBytes(), FileOf(expected));

  // The new rule is now the selected rule: edits go to it.
  TypeAtEnd(RuleField::kRightMarker, "x");
  expected[20].rightMarker += "x";
  EXPECT_EQ(FileBytes(), FileOf(expected));
}

// ---- Renaming ----

TEST_F(RuleWindowTest, RenameOffersTheNamePlusOneAndChangesOnlyARealNewName) {
  const struct {
    QMessageBox::StandardButton question;
    std::optional<QString> entered;  // nullopt: input cancelled (or not offered)
    const char* expectedName;
  } cases[] = {
      {QMessageBox::Yes, U("零点看书1"), "零点看书1"},    // the offered text confirmed
      {QMessageBox::Yes, U(" 新\u3000名 "), "新名"},        // spaces removed
      {QMessageBox::Yes, U("零点看书"), "零点看书"},      // unchanged name
      {QMessageBox::Yes, U(" \u3000"), "零点看书"},        // empty after the spaces
      {QMessageBox::Yes, std::nullopt, "零点看书"},        // input cancelled
      {QMessageBox::No, std::nullopt, "零点看书"},         // no input box
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    notices_.clear();
    inputs_.clear();
    ASSERT_NO_FATAL_FAILURE(Open());
    ClickItem(4);
    AnswerNotices({c.question});
    AnswerInputs({c.entered});
    rw_->RenameButton()->click();
    const std::string label = c.entered ? c.entered->toStdString() : "(none)";
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].title, U("修改询问"));
    EXPECT_EQ(notices_[0].text, Shown("是否修改规则名？\r\n修改请点击\"是\"\r\n不修改请点击\"否\"\r\n"
                                      "5秒后自动返回不修改规则名"));
    EXPECT_EQ(notices_[0].icon, QMessageBox::Question);
    EXPECT_EQ(notices_[0].buttons, QMessageBox::Yes | QMessageBox::No);
    if (c.question == QMessageBox::Yes) {
      ASSERT_EQ(inputs_.size(), 1u) << label;
      EXPECT_EQ(inputs_[0].title, U("修改规则名称"));
      EXPECT_EQ(inputs_[0].label, U("请输入新的规则名称："));
      EXPECT_EQ(inputs_[0].initial, U("零点看书1"));
    } else {
      EXPECT_TRUE(inputs_.empty());
    }
    EXPECT_EQ(ItemText(4), G(c.expectedName)) << label;
    EXPECT_EQ(rw_->SelectedIndex(), 4) << label;
    std::vector<SiteRule> expected = Defaults();
    expected[4].ruleName = G(c.expectedName);
    EXPECT_EQ(FileBytes(), FileOf(expected)) << label;
    EXPECT_TRUE(List()->isEnabled());
    EXPECT_TRUE(rw_->AddButton()->isEnabled());
    EXPECT_TRUE(rw_->DeleteButton()->isEnabled());
  }
}

// ---- Deleting ----

TEST_F(RuleWindowTest, DeletingSelectsTheRuleBeforeOrTheNewFirst) {
  ASSERT_NO_FATAL_FAILURE(Open());
  std::vector<SiteRule> expected = Defaults();
  AnswerNotices({QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes});
  // The first rule: the new first rule is selected.
  ClickItem(0);
  rw_->DeleteButton()->click();
  expected.erase(expected.begin());
  EXPECT_EQ(List()->count(), 19);
  EXPECT_EQ(rw_->SelectedIndex(), 0);
  EXPECT_EQ(ItemText(0), TextDecode(expected[0].ruleName));
  ExpectShows(expected[0]);
  ASSERT_EQ(FileBytes(), FileOf(expected));
  // A middle rule: the one before it is selected.
  ClickItem(5);
  rw_->DeleteButton()->click();
  expected.erase(expected.begin() + 5);
  EXPECT_EQ(List()->count(), 18);
  EXPECT_EQ(rw_->SelectedIndex(), 4);
  ExpectShows(expected[4]);
  ASSERT_EQ(FileBytes(), FileOf(expected));
  // The last item.
  ClickItem(17);
  rw_->DeleteButton()->click();
  expected.pop_back();
  EXPECT_EQ(rw_->SelectedIndex(), 16);
  ExpectShows(expected[16]);
  ASSERT_EQ(FileBytes(), FileOf(expected));
}

TEST_F(RuleWindowTest, DeletingAsksFirstNamingTheRuleAndNoKeepsIt) {
  std::vector<SiteRule> rules = {Stored("甲站", "http://a.example/"),
                                 Stored("2345小说（仅测试）", "http://b.example/", true),
                                 Stored("丙站", "http://c.example/")};
  ASSERT_NO_FATAL_FAILURE(Open(FileOf(rules)));
  const std::string before = FileBytes();
  // No, and closing the box with Escape, keep the rule.
  for (bool escape : {false, true}) {
    notices_.clear();
    AnswerNotices({QMessageBox::No});
    if (escape) {
      SetNoticeObserver([this](QMessageBox* box) {
        notices_.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
        QTest::keyClick(box, Qt::Key_Escape);
      });
    }
    ClickItem(1);
    rw_->DeleteButton()->click();
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].title, U("删除提示"));
    EXPECT_EQ(notices_[0].text, Shown("确定要删除规则“2345小说（仅测试）”吗？"));
    EXPECT_EQ(notices_[0].icon, QMessageBox::Question);
    EXPECT_EQ(notices_[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(List()->count(), 3);
    EXPECT_EQ(rw_->SelectedIndex(), 1);
    EXPECT_EQ(FileBytes(), before);
  }
  // Yes deletes exactly that rule.
  notices_.clear();
  AnswerNotices({QMessageBox::Yes});
  rw_->DeleteButton()->click();
  ASSERT_EQ(notices_.size(), 1u);
  rules.erase(rules.begin() + 1);
  EXPECT_EQ(List()->count(), 2);
  EXPECT_EQ(FileBytes(), FileOf(rules));
}

TEST_F(RuleWindowTest, TheLastRuleCannotBeDeleted) {
  std::vector<SiteRule> rules = {Stored("甲站", "http://a.example/"),
                                 Stored("乙站", "http://b.example/", true)};
  ASSERT_NO_FATAL_FAILURE(Open(FileOf(rules)));
  AnswerNotices({QMessageBox::Yes, QMessageBox::Ok});
  ClickItem(1);
  rw_->DeleteButton()->click();  // two left: works
  rules.pop_back();
  ASSERT_EQ(notices_.size(), 1u);  // the confirmation only
  notices_.clear();
  noticeAnswers_.erase(noticeAnswers_.begin());
  ASSERT_EQ(List()->count(), 1);
  ExpectShows(rules[0]);
  ASSERT_EQ(FileBytes(), FileOf(rules));

  rw_->DeleteButton()->click();  // one left: refused
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].title, U("删除提示"));
  EXPECT_EQ(notices_[0].text, U("老大,要不要这么狠?留条活命吧!"));
  EXPECT_EQ(notices_[0].icon, QMessageBox::Critical);
  EXPECT_EQ(notices_[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(List()->count(), 1);
  EXPECT_EQ(FileBytes(), FileOf(rules));
}

TEST_F(RuleWindowTest, AFailedDeleteSaysSoAndKeepsTheList) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ClickItem(3);
  const std::string unreadable = "<not a rule file";
  WriteBytes(RuleStore().FilePath(), unreadable);
  AnswerNotices({QMessageBox::Yes, QMessageBox::Ok});
  rw_->DeleteButton()->click();
  ASSERT_EQ(notices_.size(), 2u);
  notices_.erase(notices_.begin());  // the confirmation
  EXPECT_EQ(notices_[0].title, U("删除提示"));
  EXPECT_EQ(notices_[0].text, U("删除失败，请重试!"));
  EXPECT_EQ(notices_[0].icon, QMessageBox::Information);
  EXPECT_EQ(notices_[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(List()->count(), 20);
  EXPECT_EQ(rw_->SelectedIndex(), 3);
  EXPECT_EQ(FileBytes(), unreadable);
}

// ---- Beside the main window ----

TEST_F(RuleWindowTest, TheButtonShowsAndHidesTheWindowAndItsCloseBoxDoesNothing) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_FALSE(rw_->isVisible());
  EXPECT_EQ(WidgetText(RuleButton()), G("规则设定>>>>"));
  // Activating the main window leaves a hidden rule window hidden.
  main_->activateWindow();
  QApplication::setActiveWindow(main_.get());
  QCoreApplication::processEvents();
  EXPECT_FALSE(rw_->isVisible());

  RuleButton()->click();
  EXPECT_TRUE(rw_->isVisible());
  EXPECT_EQ(WidgetText(RuleButton()), G("<<<<规则设定"));
  const QRect before = rw_->frameGeometry();
  EXPECT_FALSE(rw_->close());
  QCoreApplication::processEvents();
  EXPECT_TRUE(rw_->isVisible());
  EXPECT_EQ(rw_->frameGeometry(), before);
  // Activation raises it without moving it.
  QApplication::setActiveWindow(main_.get());
  QCoreApplication::processEvents();
  EXPECT_TRUE(rw_->isVisible());
  EXPECT_EQ(rw_->frameGeometry(), before);

  RuleButton()->click();
  EXPECT_FALSE(rw_->isVisible());
  EXPECT_EQ(WidgetText(RuleButton()), G("规则设定>>>>"));
}

TEST_F(RuleWindowTest, TheWindowFollowsEveryMoveAndResizeOfTheMainWindow) {
  ASSERT_NO_FATAL_FAILURE(Open());
  auto frameWidth = [&](int outer) { return outer - (main_->frameGeometry().width() - main_->width()); };
  // The main window's own layout wants it wider than 700: let it be that narrow here.
  main_->layout()->setSizeConstraint(QLayout::SetNoConstraint);
  main_->setMinimumSize(0, 0);
  main_->move(50, 50);
  main_->resize(frameWidth(700), main_->height());
  QCoreApplication::processEvents();
  ASSERT_EQ(main_->frameGeometry().topLeft(), QPoint(50, 50));
  ASSERT_EQ(main_->frameGeometry().width(), 700);
  EXPECT_EQ(rw_->frameGeometry().topLeft(), QPoint(755, 90));
  EXPECT_EQ(rw_->size(), QSize(405, 461));

  main_->resize(frameWidth(820), main_->height() + 30);
  QCoreApplication::processEvents();
  EXPECT_EQ(rw_->frameGeometry().topLeft(), QPoint(875, 90));
  main_->move(10, 200);
  QCoreApplication::processEvents();
  EXPECT_EQ(rw_->frameGeometry().topLeft(), QPoint(835, 240));
  RuleButton()->click();  // shown, it stays there
  QCoreApplication::processEvents();
  EXPECT_EQ(rw_->frameGeometry().topLeft(), QPoint(835, 240));
  EXPECT_EQ(rw_->size(), QSize(405, 461));
}

TEST(RuleWindowPlace, BesideWhenThereIsRoomElseInsideTheScreen) {
  const QRect screen(0, 0, 1600, 1000);
  const QSize rule(405, 301);
  const struct {
    QRect main;
    QRect available;
    QPoint expected;
  } cases[] = {
      {{50, 50, 700, 500}, screen, {755, 90}},            // room on the right
      {{10, 200, 820, 530}, screen, {835, 240}},
      {{50, 50, 700, 500}, QRect(), {755, 90}},           // no screen known: beside
      {{900, 50, 650, 500}, screen, {490, 90}},           // no room right: on the left
      {{100, 50, 1400, 500}, screen, {1195, 90}},         // room on neither side: pushed in
      {{1200, 800, 300, 300}, screen, {790, 699}},        // low on the screen: lifted
      {{1700, 50, 700, 500}, QRect(1600, 0, 1280, 1024), {2405, 90}},  // a second screen
      {{-30, -60, 700, 500}, screen, {675, 0}},           // above the screen's top
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.main.x() << "," << c.main.y());
    EXPECT_EQ(RuleWindowPosition(c.main, rule, c.available), c.expected);
  }
}

TEST_F(RuleWindowTest, TheWindowStaysOnTheScreenWhenTheMainWindowReachesItsEdge) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ShowRuleWindow();
  const QRect available = main_->screen()->availableGeometry();
  main_->move(available.right() - main_->frameGeometry().width() - 20, 100);
  QCoreApplication::processEvents();
  EXPECT_TRUE(available.contains(rw_->frameGeometry())) << available.width();
  EXPECT_LT(rw_->frameGeometry().right(), main_->frameGeometry().left());  // on its left
}

TEST_F(RuleWindowTest, GrowsWithItsBoxesAndShowsWholeNames) {
  std::vector<SiteRule> rules = {Stored("甲站", "http://a.example/"),
                                 Stored("2345小说（仅测试）", "http://b.example/")};
  ASSERT_NO_FATAL_FAILURE(Open(FileOf(rules)));
  ShowRuleWindow();
  rw_->resize(rw_->minimumSize());
  QCoreApplication::processEvents();
  ExpectWholeAndApart(rw_);
  // A name cut off here shows whole as its tool tip; a name that fits has none.
  auto tipOf = [&](int row) { return List()->item(row)->toolTip(); };
  List()->setFixedWidth(List()->fontMetrics().horizontalAdvance(List()->item(1)->text()) / 2 + 40);
  QCoreApplication::processEvents();
  EXPECT_EQ(tipOf(1), U("2345小说（仅测试）"));
  EXPECT_EQ(tipOf(0), QString());
  List()->setMinimumWidth(0);
  List()->setMaximumWidth(QWIDGETSIZE_MAX);
  rw_->resize(rw_->minimumSizeHint());
  QCoreApplication::processEvents();
  const int patternHeight = rw_->FieldBox(RuleField::kListPattern)->height();
  const int siteWidth = rw_->FieldBox(RuleField::kSite)->width();
  rw_->resize(900, 700);
  QCoreApplication::processEvents();
  ExpectWholeAndApart(rw_);
  // The pattern boxes take the extra height; the one-line boxes stay one line.
  EXPECT_GT(rw_->FieldBox(RuleField::kListPattern)->height(), patternHeight + 100);
  EXPECT_EQ(rw_->FieldBox(RuleField::kSite)->height(), rw_->FieldBox(RuleField::kLeftMarker)->height());
  EXPECT_GT(rw_->FieldBox(RuleField::kSite)->width(), siteWidth + 300);
  // At this size the long name shows whole.
  QListWidgetItem* item = List()->item(1);
  EXPECT_GE(List()->visualItemRect(item).width(), List()->fontMetrics().horizontalAdvance(item->text()));
}

TEST_F(RuleWindowTest, TheRuleWindowGoesJustBeforeTheMainWindow) {
  ASSERT_NO_FATAL_FAILURE(Open());
  QPointer<RuleWindow> window(rw_);
  main_->close();
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(RuleWindowOf(*main_), nullptr);
}

TEST_F(RuleWindowTest, ClosingTheMainWindowDuringAQuestionEndsTheQuestionFirst) {
  ASSERT_NO_FATAL_FAILURE(Open());
  QPointer<RuleWindow> window(rw_);
  ClickItem(4);
  SetNoticeObserver([&](QMessageBox* box) {
    main_->close();
    EXPECT_FALSE(window.isNull());  // still answering its question
    EXPECT_FALSE(window->isVisible());
    box->button(QMessageBox::No)->click();
  });
  window->RenameButton()->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(window.isNull());
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

// ---- The rule lookup ----

TEST_F(RuleWindowTest, TheAddressSelectsTheRuleOfItsHost) {
  ASSERT_NO_FATAL_FAILURE(Open());
  const std::vector<SiteRule> rules = Defaults();
  const Text found = G("已找到此网站的下载规则，可直接点击下载");
  const Text missing = G("未找到此网站的下载规则，请自行增加规则");
  const struct {
    const char* address;
    int rule;  // -1: none, the shown rule stays
  } cases[] = {
      {"HTTP://BOOK.2345.COM:8080/book/1/", 7},  // capitals and port; page capture on
      {"http://www.ziyouge.com/0/1/", 8},
      {"http://ziyouge.com/0/1/", -1},         // no "www": no match
      {"", -1},                                 // empty address, no rule with an empty 网址
      {"www.fqxsw.com", 5},                     // no scheme, no path
      {"https://www.fqxsw.com.cn/", -1},
  };
  int shown = 18;
  for (const auto& c : cases) {
    Address()->setText(U(c.address));
    if (c.rule >= 0) shown = c.rule;
    EXPECT_EQ(StatusText(), c.rule >= 0 ? found : missing) << c.address;
    EXPECT_EQ(rw_->SelectedIndex(), shown) << c.address;
    ExpectShows(rules[shown]);
    ASSERT_EQ(FileBytes(), DefaultRuleFileBytes()) << c.address;
  }
  // Edits in the window are seen by the next lookup: no cache.
  ClickItem(0);
  auto* site = qobject_cast<QLineEdit*>(rw_->FieldBox(RuleField::kSite));
  site->selectAll();
  QTest::keyClicks(site, QStringLiteral("http://changed.example/"));
  Address()->setText(U("http://changed.example/1/"));
  EXPECT_EQ(StatusText(), found);
  EXPECT_EQ(rw_->SelectedIndex(), 0);
}

TEST_F(RuleWindowTest, ClearingTheAddressKeepsTheShownRule) {
  ASSERT_NO_FATAL_FAILURE(Open());
  Address()->setText(U("http://www.ybdu.com/12/"));
  ASSERT_EQ(rw_->SelectedIndex(), 12);
  Address()->clear();
  EXPECT_EQ(StatusText(), G("未找到此网站的下载规则，请自行增加规则"));
  EXPECT_EQ(rw_->SelectedIndex(), 12);
  ExpectShows(Defaults()[12]);
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

TEST_F(RuleWindowTest, AnEmptyAddressFindsTheFirstRuleWithAnEmptySite) {
  const std::vector<SiteRule> rules = {Stored("甲站", "http://a.example/"), Stored("乙站", ""),
                                       Stored("丙站", "")};
  ASSERT_NO_FATAL_FAILURE(Open(FileOf(rules)));
  EXPECT_EQ(StatusText(), G("未找到此网站的下载规则，请自行增加规则"));  // the sample address
  EXPECT_EQ(rw_->SelectedIndex(), 0);
  Address()->clear();
  EXPECT_EQ(StatusText(), G("已找到此网站的下载规则，可直接点击下载"));
  EXPECT_EQ(rw_->SelectedIndex(), 1);
  EXPECT_EQ(FileBytes(), FileOf(rules));
}

TEST_F(RuleWindowTest, AnUnreadableRuleFileListsNothingAndFindsNothing) {
  const std::string unreadable = "not xml at all";
  ASSERT_NO_FATAL_FAILURE(Open(unreadable));
  EXPECT_EQ(List()->count(), 0);
  EXPECT_EQ(StatusText(), G("未找到此网站的下载规则，请自行增加规则"));
  for (RuleField f : kBoxFields) EXPECT_EQ(Box(f), Text());
  TypeAtEnd(RuleField::kLeftMarker, "x");
  EXPECT_EQ(FileBytes(), unreadable);
}

TEST_F(RuleWindowTest, ALookupOvertakenByANewerOneLeavesTheNewerResult) {
  ASSERT_NO_FATAL_FAILURE(Open());
  bool nested = false;
  // Runs while the lookup below processes pending events between rules.
  QTimer::singleShot(0, main_.get(), [&] {
    nested = true;
    EXPECT_EQ(rw_->SelectedIndex(), 18);  // the outer lookup has not finished
    Address()->setText(U("http://www.fqxsw.com/1/"));
  });
  Address()->setText(U("http://www.ziyouge.com/2/"));
  ASSERT_TRUE(nested);
  EXPECT_EQ(rw_->SelectedIndex(), 5);
  ExpectShows(Defaults()[5]);
  EXPECT_EQ(StatusText(), G("已找到此网站的下载规则，可直接点击下载"));
  Address()->setText(U("http://nowhere.example/"));
  EXPECT_EQ(rw_->SelectedIndex(), 5);
}

TEST_F(RuleWindowTest, ALookupDuringAnAdditionKeepsTheNewRuleBeingTyped) {
  ASSERT_NO_FATAL_FAILURE(Open());
  ClickItem(2);
  AnswerInputs({U("新规则")});
  rw_->AddButton()->click();
  TypeAtEnd(RuleField::kSite, "http://new.example/");
  Address()->setText(U("http://www.fqxsw.com/1/"));
  EXPECT_EQ(StatusText(), G("已找到此网站的下载规则，可直接点击下载"));
  EXPECT_EQ(rw_->SelectedIndex(), 20);
  EXPECT_EQ(Box(RuleField::kSite), Text("http://new.example/"));
  ExpectAdditionWaiting();
  EXPECT_EQ(FileBytes(), DefaultRuleFileBytes());
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// The test area tries the rule as it stands in the boxes on the book site: the result shows,
// a second press while one runs replaces it, the rule file keeps every byte and the main
// window's table is left alone.
TEST_F(RuleWindowTest, TestingARuleShowsItsResultAndChangesNothing) {
  qvtest::BookSite book(4);
  book.SetBook(G("天玄记"), G("张三"), {G("第一章 山门"), G("第二章 下山")},
               {G("甲乙丙"), G("丁戊")});
  Open();
  ShowRuleWindow();
  const std::vector<Text> names = ItemTexts();
  const auto at = std::find(names.begin(), names.end(), G("笔趣阁"));
  ASSERT_NE(at, names.end());
  ClickItem(static_cast<int>(at - names.begin()));
  SetWidgetText(Address(), book.IndexAddress());
  EXPECT_EQ(WidgetText(rw_->TestAddressBox()), book.IndexAddress());
  QAbstractItemModel* table = main_->Find<QTableView>("超级列表框1")->model();
  const int rowsBefore = table->rowCount();
  const std::string before = FileBytes();

  // The first test waits on the first chapter; the second, pressed meanwhile, is the one shown.
  book.HoldChapters(true);
  rw_->TestButton()->click();
  EXPECT_TRUE(rw_->TestUnderWay());
  EXPECT_TRUE(QTest::qWaitFor([&] { return book.Requests("/book/index.html") == 1; }, 10000));
  rw_->TestButton()->click();
  book.HoldChapters(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !rw_->TestUnderWay(); }, 20000));
  const Text shown = WidgetText(rw_->TestResultView());
  for (const char* piece : {"天玄记", "张三", "章节数：2", "第一章 山门", "甲乙丙", "规则可用"}) {
    EXPECT_NE(shown.find(G(piece)), std::string::npos) << piece;
  }
  EXPECT_EQ(book.Requests("/book/index.html"), 2);
  EXPECT_TRUE(rw_->TestResultView()->isReadOnly());

  // An edit not yet looked at is tested as it stands: a left marker the page lacks.
  SetWidgetText(rw_->FieldBox(RuleField::kLeftMarker), G("<div id=\"gone\">"));
  const std::string edited = FileBytes();
  rw_->TestButton()->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !rw_->TestUnderWay(); }, 20000));
  EXPECT_NE(WidgetText(rw_->TestResultView())
                .find(G("左侧标记在页面中未找到：页面可能已改版，或需要勾选页面抓取")),
            std::string::npos);

  EXPECT_EQ(FileBytes(), edited);
  EXPECT_NE(before, edited);  // the edit itself is saved, as every edit is
  EXPECT_EQ(table->rowCount(), rowsBefore);
}

// A pattern that does not compile is marked while typed, and saved as typed all the same.
TEST_F(RuleWindowTest, APatternThatDoesNotCompileIsMarkedAndStillSaved) {
  Open();
  ShowRuleWindow();
  TypeAtEnd(RuleField::kTitlePattern, "(");
  EXPECT_FALSE(rw_->PatternProblem(RuleField::kTitlePattern).isEmpty());
  EXPECT_FALSE(rw_->FieldBox(RuleField::kTitlePattern)->toolTip().isEmpty());
  EXPECT_NE(FileBytes().find(TextEncode(Box(RuleField::kTitlePattern))), std::string::npos);
  QTest::keyClick(rw_->FieldBox(RuleField::kTitlePattern), Qt::Key_Backspace);
  EXPECT_TRUE(rw_->PatternProblem(RuleField::kTitlePattern).isEmpty());
  EXPECT_TRUE(rw_->FieldBox(RuleField::kTitlePattern)->toolTip().isEmpty());
}

}  // namespace
}  // namespace qv

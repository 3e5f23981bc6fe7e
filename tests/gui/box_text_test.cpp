// Every box gives back exactly the bytes put into it, also when Qt cannot show them as they are.
#include "gui/box_text.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QPushButton>
#include <QTest>

#include "gui/main_window.h"
#include "text/encoding.h"

namespace qv {
namespace {

TEST(BoxText, ExactBytesSurviveEveryKindOfBox) {
  // Texts the conversion alone would change: a byte CP936 has no character for, a lone lead
  // byte, CR LF and a lone CR (default patterns end in them), "&" on a button.
  const Text texts[] = {
      Utf8ToGbk("og:novel:book_name&quot; content=&quot;(.*?)&quot;/&gt;\r"),
      Utf8ToGbk("小说名\r\n"),
      "\x80\xff\xfe",
      "abc\xb0",
      "A&B",
      "",
  };
  QLineEdit line;
  QPlainTextEdit multi;
  QLabel label;
  QPushButton button;
  QCheckBox check;
  for (QWidget* w : std::initializer_list<QWidget*>{&line, &multi, &label, &button, &check}) {
    for (const Text& t : texts) {
      SCOPED_TRACE(w->metaObject()->className());
      SetWidgetText(w, t);
      EXPECT_EQ(WidgetText(w), t);
    }
  }
  SetWidgetText(&button, "A&B");
  EXPECT_EQ(button.text(), QStringLiteral("A&&B"));  // shown as "A&B", no shortcut
}

TEST(BoxText, AChangedBoxIsReadFromWhatItShows) {
  QLineEdit line;
  SetWidgetText(&line, "\xff");
  QTest::keyClicks(&line, "x");
  EXPECT_EQ(WidgetText(&line), "?x");
  line.setText(QString::fromUtf8("第一章"));
  EXPECT_EQ(WidgetText(&line), Utf8ToGbk("第一章"));

  // An edited multi-line box keeps the line ends the text had (a lone CR stays a lone CR, as in
  // 紫幽阁's title pattern); breaks beyond those are CR LF.
  QPlainTextEdit multi;
  SetWidgetText(&multi, "<h1>(.*?)</h1>\r");
  multi.moveCursor(QTextCursor::Start);
  QTest::keyClicks(&multi, "x");
  EXPECT_EQ(WidgetText(&multi), "x<h1>(.*?)</h1>\r");
  SetWidgetText(&multi, "a\nb\r\nc\rd");
  multi.setPlainText(QStringLiteral("A\nB\nC\nD\nE"));
  EXPECT_EQ(WidgetText(&multi), "A\nB\r\nC\rD\r\nE");
}

TEST(BoxText, ATextChangedHandlerReadsTheNewBytes) {
  QPlainTextEdit multi;
  std::vector<Text> seen;
  QObject::connect(&multi, &QPlainTextEdit::textChanged,
                   [&] { seen.push_back(WidgetText(&multi)); });
  const Text pattern = Utf8ToGbk("作者：(.*?)\r\n");
  SetWidgetText(&multi, pattern);
  ASSERT_FALSE(seen.empty());
  for (const Text& t : seen) EXPECT_EQ(t, pattern);
}

TEST(BoxText, RegisteredBoxesKeepTheirBytesThroughTheControls) {
  MainWindow w;
  QPlainTextEdit pattern;
  w.controls().RegisterBox(Ctl::TitlePatternBox, &pattern);
  const Text value = Utf8ToGbk("og:novel:book_name&quot; content=&quot;(.*?)&quot;/&gt;\r\n");
  w.controls().SetText(Ctl::TitlePatternBox, value);
  EXPECT_EQ(w.controls().GetText(Ctl::TitlePatternBox), value);
  w.controls().SetText(Ctl::AddressBox, "http://www.ziyouge.com/\xff");
  EXPECT_EQ(w.controls().GetText(Ctl::AddressBox), "http://www.ziyouge.com/\xff");
}

}  // namespace
}  // namespace qv

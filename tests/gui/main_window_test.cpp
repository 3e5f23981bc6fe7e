// The main window: every control by name with its caption and initial state, the groups, the
// caption buddies and accessibility, the chapter table's columns, the auto-merge rule, and the
// order of the window's event steps.
#include "gui/main_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/box_text.h"
#include "layout_check.h"
#include "gui/window_bridge.h"
#include "rules/default_rules.h"
#include "rules/rule_store.h"
#include "text/encoding.h"

namespace qv {
namespace {

// A click on a check box's indicator (a box wider than its caption takes no click at its centre).
void ClickCheck(QWidget* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

enum Kind { kLabel, kBox, kButton, kCheck, kGroup };

struct ControlCase {
  const char* name;
  Kind kind;
  const char* caption;  // UTF-8 as in the window; CR LF where the caption has a line break
  const char* group;    // innermost group box, or nullptr
  bool enabled = true;
  bool visible = true;
  bool checked = false;
};

// Every control of the main window.
const std::vector<ControlCase>& Controls() {
  static const std::vector<ControlCase> cases = {
      {"标签1", kLabel, "章节列表网址：", nullptr},
      {"编辑框_章节列表网址", kBox, "http://www.biquge.com/0_1/", nullptr},
      {"标签4", kLabel, "", nullptr},
      {"编辑框_相对网址", kBox, "", nullptr, true, false},
      {"按钮_选择规则", kButton, "规则设定>>>>", nullptr},
      {"按钮_获取章节标题", kButton, "获取章节标题", nullptr},
      {"按钮_合并", kButton, "合并全本", "分组框2", false},
      {"按钮_退出", kButton, "退出软件", nullptr},
      {"分组框4", kGroup, "作品信息", nullptr},
      {"标签5", kLabel, "书名：", "分组框4"},
      {"标签_书名", kLabel, "", "分组框4"},
      {"标签6", kLabel, "作者：", "分组框4"},
      {"标签_作者", kLabel, "", "分组框4"},
      {"分组框2", kGroup, "", nullptr},
      {"按钮_下载章节内容", kButton, "下载章节内容", "分组框2", false},
      {"按钮_暂停继续", kButton, "暂停", "分组框2", false},
      {"按钮_停止", kButton, "停止", "分组框2", false},
      {"选择框_合并", kCheck, "下载完成自动合并", "分组框2", true, true, true},
      {"选择框_生成TXT", kCheck, "生成TXT", "分组框2", true, true, true},
      {"选择框_生成EPUB", kCheck, "生成EPUB", "分组框2"},
      {"选择框_页面抓取", kCheck, "通过浏览网页抓取页面文字\r\n(仅测试，获取动态页文字)",
       "分组框2"},
      {"分组框1", kGroup, "选择", nullptr},
      {"按钮_全选", kButton, "全选", "分组框1"},
      {"按钮_反选", kButton, "反选", "分组框1"},
      {"分组框3", kGroup, "", "分组框1"},
      {"标签2", kLabel, "从第", "分组框3"},
      {"编辑框_首行", kBox, "1", "分组框3"},
      {"标签7", kLabel, "行起，间隔", "分组框3"},
      {"编辑框_间隔", kBox, "4", "分组框3"},
      {"标签8", kLabel, "行选中，", "分组框3"},
      {"标签3", kLabel, "直到", "分组框3"},
      {"编辑框_尾行", kBox, "9999", "分组框3"},
      {"标签9", kLabel, "行止", "分组框3"},
      {"按钮_间选", kButton, "等间选中", "分组框3"},
      {"按钮_取消选择", kButton, "选中部分反选", "分组框3"},
      {"按钮_删除选择", kButton, "删除选中部分", "分组框3"},
      {"分组框5", kGroup, "移动", nullptr},
      {"按钮_上移", kButton, "上移", "分组框5"},
      {"按钮_下移", kButton, "下移", "分组框5"},
  };
  return cases;
}

// What the widget shows: CR LF as a line break.
QString Shown(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return {};
}

QGroupBox* InnermostGroup(QWidget* w) {
  for (QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget()) {
    if (auto* g = qobject_cast<QGroupBox*>(p)) return g;
  }
  return nullptr;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::remove(RuleStore().FilePath());
    std::filesystem::remove(SettingsFileName());
    window_ = std::make_unique<MainWindow>();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override { window_.reset(); }
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, EveryControlHasItsNameCaptionGroupAndInitialState) {
  for (const ControlCase& c : Controls()) {
    SCOPED_TRACE(c.name);
    QWidget* w = window_->Find(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->objectName(), U(c.name));
    // The program reads back exactly the CP936 caption; the widget shows it converted.
    EXPECT_EQ(WidgetText(w), Utf8ToGbk(c.caption));
    EXPECT_EQ(Shown(w), U(c.caption).replace(U("\r\n"), U("\n")));
    EXPECT_EQ(w->isEnabled(), c.enabled);
    EXPECT_EQ(w->isVisibleTo(window_.get()), c.visible);
    switch (c.kind) {
      case kLabel:
        EXPECT_NE(qobject_cast<QLabel*>(w), nullptr);
        break;
      case kBox:
        EXPECT_NE(qobject_cast<QLineEdit*>(w), nullptr);
        break;
      case kButton:
        EXPECT_NE(qobject_cast<QPushButton*>(w), nullptr);
        break;
      case kGroup:
        EXPECT_NE(qobject_cast<QGroupBox*>(w), nullptr);
        break;
      case kCheck: {
        auto* box = qobject_cast<QCheckBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isChecked(), c.checked);
        break;
      }
    }
    QGroupBox* group = InnermostGroup(w);
    if (c.group == nullptr) {
      EXPECT_EQ(group, nullptr);
    } else {
      ASSERT_NE(group, nullptr);
      EXPECT_EQ(group->objectName(), U(c.group));
    }
  }
}

TEST_F(MainWindowTest, BrowserContainerIsHiddenDisabledAndEmpty) {
  QWidget* browser = window_->Find("互联网浏览器1");
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser, window_->browserHost());
  EXPECT_FALSE(browser->isVisibleTo(window_.get()));
  EXPECT_FALSE(browser->isEnabled());
  EXPECT_TRUE(browser->findChildren<QWidget*>().isEmpty());
}

TEST_F(MainWindowTest, MultiLineCaptionShowsBothLinesUncut) {
  auto* capture = window_->Find<QCheckBox>("选择框_页面抓取");
  ASSERT_NE(capture, nullptr);
  const QFontMetrics fm(capture->font());
  const QSize text = fm.size(0, capture->text());
  EXPECT_GE(text.height(), 2 * fm.height() - 1);
  EXPECT_GE(capture->height(), text.height());
  EXPECT_GE(capture->width(), text.width());
}

TEST_F(MainWindowTest, EditBoxesAreAnnouncedByTheirCaptions) {
  const std::pair<const char*, const char*> buddies[] = {
      {"标签1", "编辑框_章节列表网址"},
      {"标签2", "编辑框_首行"},
      {"标签7", "编辑框_间隔"},
      {"标签3", "编辑框_尾行"},
  };
  for (const auto& [label, box] : buddies) {
    SCOPED_TRACE(box);
    auto* l = window_->Find<QLabel>(label);
    QWidget* b = window_->Find(box);
    ASSERT_NE(l, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(l->buddy(), b);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), l->text());
  }
}

TEST_F(MainWindowTest, EveryButtonIsNamedAndPressableThroughAccessibility) {
  for (const ControlCase& c : Controls()) {
    if (c.kind != kButton && c.kind != kCheck) continue;
    SCOPED_TRACE(c.name);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(window_->Find(c.name));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(QAccessible::Name), U(c.caption).replace(U("\r\n"), U("\n")));
    // Enabled controls can be pressed; disabled ones say so.
    EXPECT_EQ(a->state().disabled, !c.enabled);
    ASSERT_NE(a->actionInterface(), nullptr);
    const QStringList actions = a->actionInterface()->actionNames();
    EXPECT_EQ(actions.contains(QAccessibleActionInterface::pressAction()) ||
                  actions.contains(QAccessibleActionInterface::toggleAction()),
              c.enabled);
  }
  // Pressing the auto-merge box the way a screen reader does runs its rule.
  QAccessibleInterface* merge = QAccessible::queryAccessibleInterface(window_->Find("选择框_合并"));
  merge->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  // The press is animated: it lands a moment later.
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->Find("按钮_合并")->isEnabled(); }, 5000));
  EXPECT_FALSE(window_->Find<QCheckBox>("选择框_合并")->isChecked());
}

TEST_F(MainWindowTest, AutoMergeBoxEnablesMergeButtonExactlyWhenUnchecked) {
  auto* check = window_->Find<QCheckBox>("选择框_合并");
  QWidget* merge = window_->Find("按钮_合并");
  ClickCheck(check);
  EXPECT_FALSE(check->isChecked());
  EXPECT_TRUE(merge->isEnabled());
  ClickCheck(check);
  EXPECT_TRUE(check->isChecked());
  EXPECT_FALSE(merge->isEnabled());
  // Setting the box from the program is not a click: the button is left to the program.
  window_->controls().SetChecked(Ctl::MergeCheck, false);
  EXPECT_FALSE(merge->isEnabled());
}

TEST_F(MainWindowTest, BookFormatBoxesAreKeptInTheSettingsFileAndOverlapNothing) {
  auto* txt = window_->Find<QCheckBox>("选择框_生成TXT");
  auto* epub = window_->Find<QCheckBox>("选择框_生成EPUB");
  ASSERT_NE(txt, nullptr);
  ASSERT_NE(epub, nullptr);
  EXPECT_TRUE(window_->controls().IsChecked(Ctl::TxtCheck));
  EXPECT_FALSE(window_->controls().IsChecked(Ctl::EpubCheck));
  // Each box has room of its own among the download controls.
  QWidget* group = window_->Find("分组框2");
  for (QCheckBox* box : {txt, epub}) {
    SCOPED_TRACE(box->objectName().toStdString());
    EXPECT_GE(box->width(), box->sizeHint().width());
    EXPECT_TRUE(group->rect().contains(box->geometry()));
    for (QWidget* other : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other == box || !other->isVisibleTo(window_.get())) continue;
      EXPECT_FALSE(box->geometry().intersects(other->geometry()))
          << other->objectName().toStdString();
    }
  }

  ClickCheck(epub);
  ClickCheck(txt);
  EXPECT_TRUE(epub->isChecked());
  EXPECT_FALSE(txt->isChecked());
  EXPECT_TRUE(window_->controls().IsChecked(Ctl::EpubCheck));
  EXPECT_FALSE(window_->controls().IsChecked(Ctl::TxtCheck));
  const Settings saved(SettingsFileName());
  EXPECT_TRUE(ReadBookFormats(saved).epub);
  EXPECT_FALSE(ReadBookFormats(saved).txt);

  // The next start shows the choice again; lines of other settings stay in the file.
  {
    Settings more(SettingsFileName());
    more.SetString("最后网址", "http://127.0.0.1/");
    ASSERT_TRUE(more.Save());
  }
  window_.reset();
  window_ = std::make_unique<MainWindow>();
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_TRUE(window_->Find<QCheckBox>("选择框_生成EPUB")->isChecked());
  EXPECT_FALSE(window_->Find<QCheckBox>("选择框_生成TXT")->isChecked());
  ClickCheck(window_->Find<QCheckBox>("选择框_生成TXT"));
  const Settings again(SettingsFileName());
  EXPECT_TRUE(ReadBookFormats(again).txt);
  EXPECT_EQ(again.GetString("最后网址"), "http://127.0.0.1/");
  std::filesystem::remove(SettingsFileName());
}

TEST_F(MainWindowTest, ChapterTableColumnsAndHighlight) {
  QTableView* view = window_->chapterView();
  ASSERT_EQ(view, window_->Find("超级列表框1"));
  QAbstractItemModel* m = view->model();
  ASSERT_EQ(m->columnCount(), 4);
  const char* titles[] = {"选择", "章节名", "章节网址", "下载状态"};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString(), U(titles[c]));
  // The number and status columns fit their header and content (at least their old widths);
  // the title column takes the rest of the start size's width, more than its old 300.
  EXPECT_GE(view->columnWidth(0), 70);
  EXPECT_GE(view->columnWidth(1), 300);
  EXPECT_TRUE(view->isColumnHidden(2));
  EXPECT_GE(view->columnWidth(3), 80);
  EXPECT_GE(view->columnWidth(3), view->fontMetrics().horizontalAdvance(U("重试下载3")));
  EXPECT_EQ(view->columnWidth(0) + view->columnWidth(1) + view->columnWidth(3),
            view->viewport()->width());
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);

  QtChapterTable& t = window_->table();
  EXPECT_EQ(t.RowCount(), 0);
  t.AppendChapter("1", Utf8ToGbk("第一章"), "/1.html", Utf8ToGbk("等待下载"), qv::kChecked);
  t.AppendChapter("2", Utf8ToGbk("第二章"), "/2.html", Utf8ToGbk("等待下载"), qv::kChecked);
  // Appended rows reach the view in a batch, shortly after.
  EXPECT_EQ(m->rowCount(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return m->rowCount() == 2; }, 5000));
  const QModelIndex status = m->index(0, 3);
  EXPECT_EQ(m->data(status).toString(), U("等待下载"));
  EXPECT_EQ(m->data(status, Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
  EXPECT_EQ(m->data(m->index(0, 1)).toString(), U("第一章"));
  EXPECT_EQ(m->data(m->index(0, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);

  // The user's click on a row's check box clears its mark.
  view->resizeRowsToContents();
  const QRect cell = view->visualRect(m->index(1, 0));
  const int indicator = view->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, view);
  const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    QPoint(cell.left() + margin + indicator / 2, cell.center().y()));
  EXPECT_EQ(t.CheckState(1), 0);
  EXPECT_EQ(t.CheckState(0), 1);

  // A click on a row highlights it; ctrl-click adds a second one.
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    view->visualRect(m->index(0, 1)).center());
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    view->visualRect(m->index(1, 3)).center());
  EXPECT_EQ(t.HighlightedRows(), (std::vector<int>{0, 1}));
  int row = -1, column = -1;
  ASSERT_TRUE(t.HitTest(view->visualRect(m->index(1, 3)).center().x(),
                        view->visualRect(m->index(1, 3)).center().y(), row, column));
  EXPECT_EQ(row, 1);
  EXPECT_EQ(column, 3);
  EXPECT_FALSE(t.HitTest(5, view->viewport()->height() - 2, row, column));
}

TEST_F(MainWindowTest, ProgramHighlightAndUserSelectionAreOneHighlight) {
  QtChapterTable& t = window_->table();
  QTableView* view = window_->chapterView();
  QItemSelectionModel* sel = view->selectionModel();
  for (int i = 0; i < 10; ++i) t.AppendChapter(std::to_string(i + 1), "t", "l", "s", qv::kChecked);
  t.SetHighlight(3, true);
  t.SetHighlight(4, true);
  t.SetHighlight(8, true);
  t.SetHighlight(8, false);
  // The program reads its own writes at once; the view follows in a batch.
  EXPECT_EQ(t.HighlightedRows(), (std::vector<int>{3, 4}));
  EXPECT_TRUE(t.IsHighlighted(4));
  EXPECT_TRUE(QTest::qWaitFor([&] { return sel->isRowSelected(4, QModelIndex()); }, 5000));
  EXPECT_TRUE(sel->isRowSelected(3, QModelIndex()));
  EXPECT_FALSE(sel->isRowSelected(8, QModelIndex()));

  // A row inserted inside the highlighted block is not highlighted; the moved rows keep theirs.
  t.InsertRow(4, "new");
  window_->chapterModel()->SyncView();
  EXPECT_EQ(t.HighlightedRows(), (std::vector<int>{3, 5}));
  EXPECT_FALSE(sel->isRowSelected(4, QModelIndex()));
  EXPECT_TRUE(sel->isRowSelected(5, QModelIndex()));
  t.DeleteRow(3);
  EXPECT_EQ(t.HighlightedRows(), (std::vector<int>{4}));

  // A click of the user replaces the highlight, also one the view had not shown yet.
  t.SetHighlight(9, true);
  const QAbstractItemModel* m = view->model();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                    view->visualRect(m->index(1, 1)).center());
  EXPECT_EQ(t.HighlightedRows(), (std::vector<int>{1}));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    view->visualRect(m->index(3, 1)).center());
  EXPECT_EQ(t.HighlightedRows(), (std::vector<int>{1, 2, 3}));
  t.DeleteAllRows();
  EXPECT_TRUE(t.HighlightedRows().empty());
  EXPECT_FALSE(sel->hasSelection());
}

TEST_F(MainWindowTest, RoleControlsReachTheNamedWidgets) {
  QtControls& c = window_->controls();
  EXPECT_EQ(c.Widget(Ctl::LastRowBox), window_->Find("编辑框_尾行"));
  EXPECT_EQ(c.GetText(Ctl::IntervalBox), "4");
  EXPECT_EQ(c.GetText(Ctl::PauseButton), Utf8ToGbk("暂停"));
  EXPECT_FALSE(c.IsEnabled(Ctl::DownloadButton));
  EXPECT_TRUE(c.IsChecked(Ctl::MergeCheck));
  c.SetText(Ctl::StatusLabel, Utf8ToGbk("有<b>3</b>个章节"));
  // Labels show text as it is, never as markup.
  EXPECT_EQ(window_->Find<QLabel>("标签4")->text(), U("有<b>3</b>个章节"));
  EXPECT_EQ(window_->Find<QLabel>("标签4")->textFormat(), Qt::PlainText);
  // Roles the rule window has not registered yet read as empty and do nothing.
  EXPECT_EQ(c.GetText(Ctl::SiteBox), "");
  c.SetText(Ctl::SiteBox, "x");
  EXPECT_FALSE(c.IsEnabled(Ctl::RuleWindow));
}

TEST_F(MainWindowTest, AtItsMinimumSizeNoControlOverlapsAndEveryCaptionIsWhole) {
  const QSize minimum = window_->minimumSize();
  // Small enough for a small screen, never zero (the layout sets it).
  EXPECT_GT(minimum.width(), 300);
  EXPECT_LE(minimum.width(), 900);
  EXPECT_LE(minimum.height(), 640);
  window_->resize(200, 150);  // asked for less, it stays at its minimum
  QCoreApplication::processEvents();
  EXPECT_EQ(window_->size(), minimum);
  ExpectWholeAndApart(window_.get());
  // The table still shows rows.
  EXPECT_GE(window_->chapterView()->viewport()->height(), 3 * window_->chapterView()->verticalHeader()->defaultSectionSize());
  // And at the start size.
  window_->resize(MainWindow::StartSize());
  QCoreApplication::processEvents();
  ExpectWholeAndApart(window_.get());
}

TEST_F(MainWindowTest, AtALargeSizeTheTitleColumnTakesTheSpareWidth) {
  QTableView* view = window_->chapterView();
  const int number = view->columnWidth(0);
  const int status = view->columnWidth(3);
  const int title = view->columnWidth(1);
  const int table = view->width();
  window_->resize(1400, 900);
  QCoreApplication::processEvents();
  // Every extra pixel of the table goes to the title column.
  EXPECT_GT(view->width(), table + 300);
  EXPECT_EQ(view->columnWidth(1) - title, view->width() - table);
  EXPECT_EQ(view->columnWidth(0), number);
  EXPECT_EQ(view->columnWidth(3), status);
  EXPECT_EQ(number + view->columnWidth(1) + status, view->viewport()->width());
  ExpectWholeAndApart(window_.get());
}

// Counts the clicks of a button.
struct Clicks {
  Clicks(MainWindow& w, const char* name) {
    QObject::connect(w.Find<QAbstractButton>(name), &QAbstractButton::clicked, [this] { ++n; });
  }
  int n = 0;
};

TEST_F(MainWindowTest, EnterInTheAddressBoxAndTheShortcutsPressTheirButtons) {
  QApplication::setActiveWindow(window_.get());
  auto* address = window_->Find<QLineEdit>("编辑框_章节列表网址");
  address->setFocus();
  Clicks fetch(*window_, "按钮_获取章节标题");
  QTest::keyClick(address, Qt::Key_Return);
  EXPECT_EQ(fetch.n, 1);
  QTest::keyClick(address, Qt::Key_Enter);
  EXPECT_EQ(fetch.n, 2);

  // Shortcuts press their buttons, each only while it is enabled.
  window_->chapterView()->setFocus();
  const struct {
    const char* button;
    int key;
    Qt::KeyboardModifiers modifiers;
  } cases[] = {
      {"按钮_下载章节内容", Qt::Key_D, Qt::ControlModifier},
      {"按钮_全选", Qt::Key_A, Qt::ControlModifier},
      {"按钮_删除选择", Qt::Key_Delete, Qt::NoModifier},
      {"按钮_暂停继续", Qt::Key_Space, Qt::NoModifier},
      {"按钮_获取章节标题", Qt::Key_G, Qt::AltModifier},
      {"按钮_上移", Qt::Key_Up, Qt::AltModifier},
      {"按钮_退出", -1, Qt::NoModifier},  // only checked for its tool tip
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    QWidget* b = window_->Find(c.button);
    EXPECT_FALSE(b->toolTip().isEmpty());
    if (c.key < 0) continue;
    Clicks clicks(*window_, c.button);
    b->setEnabled(false);
    QTest::keyClick(window_->chapterView(), static_cast<Qt::Key>(c.key), c.modifiers);
    EXPECT_EQ(clicks.n, 0);
    b->setEnabled(true);
    QTest::keyClick(window_->chapterView(), static_cast<Qt::Key>(c.key), c.modifiers);
    EXPECT_EQ(clicks.n, 1);
  }
  // Without a run Space is left to the focused control: a focused button is pressed by it.
  window_->Find("按钮_暂停继续")->setEnabled(false);
  auto* invert = window_->Find<QPushButton>("按钮_反选");
  invert->setFocus();
  Clicks inverted(*window_, "按钮_反选");
  QTest::keyClick(invert, Qt::Key_Space);
  EXPECT_EQ(inverted.n, 1);
}

TEST_F(MainWindowTest, TabGoesThroughTheControlsInTheOrderTheyRead) {
  auto* address = window_->Find<QLineEdit>("编辑框_章节列表网址");
  QWidget* w = address;
  std::vector<QString> order;
  for (int i = 0; i < 6; ++i) {
    order.push_back(w->objectName());
    w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(window_.get()) || !w->isEnabled()) {
      w = w->nextInFocusChain();
    }
  }
  EXPECT_EQ(order, (std::vector<QString>{U("编辑框_章节列表网址"), U("按钮_获取章节标题"),
                                         U("按钮_选择规则"), U("超级列表框1"), U("选择框_合并"),
                                         U("选择框_页面抓取")}));
}

TEST(MainWindowSettings, AddressFolderAutoMergeAndGeometrySurviveARestart) {
  std::filesystem::remove(MainWindow::SettingsPath());
  const QString folder = QDir::current().absoluteFilePath(U("书库 一"));
  ASSERT_TRUE(QDir().mkpath(folder));
  QRect geometry;
  {
    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // A new start shows the program's folder.
    EXPECT_EQ(w.SaveFolder(), QString());
    EXPECT_EQ(w.Find<QLabel>("标签_保存位置")->text(), QDir::toNativeSeparators(QDir::currentPath()));
    w.controls().SetText(Ctl::AddressBox, Utf8ToGbk("http://www.ybdu.com/书/1/"));
    ClickCheck(w.Find("选择框_合并"));
    MainWindow::SetFolderPickerForTesting([&](QWidget*, const QString& current) {
      EXPECT_EQ(current, QDir::currentPath());
      return folder;
    });
    QTest::mouseClick(w.Find("按钮_保存到"), Qt::LeftButton);
    MainWindow::SetFolderPickerForTesting({});
    EXPECT_EQ(w.SaveFolder(), folder);
    EXPECT_EQ(w.SaveFolderText(), Utf8ToGbk(folder.toStdString()));
    w.resize(1000, 700);
    w.move(60, 70);
    QCoreApplication::processEvents();
    geometry = QRect(w.pos(), w.size());
    EXPECT_TRUE(w.close());
  }
  ASSERT_TRUE(std::filesystem::exists(MainWindow::SettingsPath()));
  MainWindow again;
  EXPECT_EQ(WidgetText(again.Find("编辑框_章节列表网址")), Utf8ToGbk("http://www.ybdu.com/书/1/"));
  EXPECT_FALSE(again.Find<QCheckBox>("选择框_合并")->isChecked());
  EXPECT_TRUE(again.Find("按钮_合并")->isEnabled());  // the rule of the unchecked box
  EXPECT_EQ(again.SaveFolder(), folder);
  EXPECT_EQ(again.Find<QLabel>("标签_保存位置")->text(), QDir::toNativeSeparators(folder));
  EXPECT_EQ(QRect(again.pos(), again.size()), geometry);
}

TEST(MainWindowSettings, AFolderTheEngineCannotNameIsRefused) {
  MainWindow w;
  const QString before = w.SaveFolder();
  EXPECT_FALSE(w.SetSaveFolder(QDir::current().absoluteFilePath(U("书\U0001F600"))));
  EXPECT_EQ(w.SaveFolder(), before);
}

TEST(MainWindowStart, WritesTheDefaultRuleFileOnceAndRunsTheStepsInOrder) {
  std::filesystem::remove(RuleStore().FilePath());
  std::vector<std::string> steps;
  MainWindowHooks hooks;
  hooks.loadRuleWindow = [&](MainWindow&) {
    steps.push_back(std::filesystem::exists(RuleStore().FilePath()) ? "load:file" : "load");
  };
  hooks.fillRuleList = [&](MainWindow&) {
    steps.push_back(std::filesystem::exists(RuleStore().FilePath()) ? "fill:file" : "fill");
  };
  hooks.lookUpAddress = [&](MainWindow& w) {
    steps.push_back("lookup:" + WidgetText(w.Find("编辑框_章节列表网址")));
  };
  hooks.stopPoolOnClose = [&](MainWindow&) {
    steps.push_back(WindowBridgeIsOpen() ? "stop:open" : "stop");
  };
  hooks.destroyRuleWindow = [&](MainWindow&) {
    steps.push_back(WindowBridgeIsOpen() ? "destroy:open" : "destroy");
  };
  {
    MainWindow w(hooks);
    EXPECT_EQ(steps,
              (std::vector<std::string>{"load", "fill:file", "lookup:http://www.biquge.com/0_1/"}));
    // Every text change runs the lookup again, whoever made it.
    w.controls().SetText(Ctl::AddressBox, "http://www.ybdu.com/1/");
    EXPECT_EQ(steps.back(), "lookup:http://www.ybdu.com/1/");
    bool closed = false;
    QObject::connect(&w, &MainWindow::closed, [&] { closed = true; });
    w.show();
    steps.clear();
    QTest::mouseClick(w.Find("按钮_退出"), Qt::LeftButton);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(steps, (std::vector<std::string>{"stop:open", "destroy:open"}));
    EXPECT_FALSE(WindowBridgeIsOpen());
  }
  EXPECT_EQ(steps.size(), 2u);  // destroying the closed window does not run them again

  QFile file(QString::fromStdString(RuleStore().FilePath().string()));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_EQ(std::string(bytes.constData(), static_cast<size_t>(bytes.size())),
            DefaultRuleFileBytes());
  file.close();

  // An existing file is left as it is.
  {
    QFile edit(file.fileName());
    ASSERT_TRUE(edit.open(QIODevice::WriteOnly | QIODevice::Truncate));
    edit.write("kept");
  }
  { MainWindow again; }
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("kept"));
}

TEST(MainWindowStart, SecondCloseDuringTheDrainIsIgnored) {
  int stops = 0, closedSignals = 0;
  MainWindowHooks hooks;
  MainWindow* self = nullptr;
  hooks.stopPoolOnClose = [&](MainWindow&) {
    ++stops;
    // The user closes again while the first close still waits for the pool.
    self->close();
  };
  MainWindow w(hooks);
  self = &w;
  QObject::connect(&w, &MainWindow::closed, [&] { ++closedSignals; });
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_EQ(stops, 1);
  EXPECT_EQ(closedSignals, 1);
}

}  // namespace
}  // namespace qv

#include "gui/rule_window/rule_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QInputDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QResizeEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <utility>

#include "gui/box_text.h"
#include "gui/notices.h"
#include "gui/qt_ports.h"
#include "shell/ports.h"
#include "text/address.h"
#include "text/encoding.h"
#include "text/regex_object.h"
#include "toc/rule_check.h"

namespace qv {
namespace {

Text G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// The platform's flag that makes a notice's second button the default one.

InputBoxObserver& InputObserver() {
  static InputBoxObserver observer;
  return observer;
}

Text ItemBytes(const QListWidgetItem* item) {
  if (item == nullptr) return {};
  const QByteArray b = item->data(RuleWindow::kItemBytesRole).toByteArray();
  return Text(b.constData(), static_cast<size_t>(b.size()));
}

void SetItemText(QListWidgetItem* item, const Text& text) {
  item->setText(QStringFromGbk(text));
  item->setData(RuleWindow::kItemBytesRole,
                QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

// A name the rule file can hold and give back as the same rule. The store refuses any other,
// and a list item without its rule would put every later item out of step with the file.
bool AcceptableName(const Text& name) { return IsStorableRuleName(TextEncode(name)); }

std::optional<Text>& ChangeField(RuleChange& change, RuleField field) {
  switch (field) {
    case RuleField::kSite: return change.site;
    case RuleField::kListPattern: return change.listPattern;
    case RuleField::kTitlePattern: return change.titlePattern;
    case RuleField::kAuthorPattern: return change.authorPattern;
    case RuleField::kLeftMarker: return change.leftMarker;
    case RuleField::kRightMarker: return change.rightMarker;
    case RuleField::kPageCapture: break;
  }
  return change.pageCapture;
}

// The caption label of a box: beside it, as its buddy and its name.
QLabel* CaptionLabel(QWidget* parent, const char* objectName, std::string_view captionUtf8,
                     QWidget* box) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromUtf8(objectName));
  SetWidgetText(label, G(captionUtf8));
  label->setBuddy(box);
  QString name = QString::fromUtf8(captionUtf8.data(), static_cast<qsizetype>(captionUtf8.size()));
  name.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
  box->setAccessibleName(name);
  return label;
}

// The rule list: as wide as its longest name (within reason), and a name that is still cut
// off shows whole as the item's tool tip.
class RuleNameList : public QListWidget {
 public:
  explicit RuleNameList(QWidget* parent) : QListWidget(parent) {
    connect(model(), &QAbstractItemModel::rowsInserted, this, [this] { UpdateTips(); });
    connect(model(), &QAbstractItemModel::dataChanged, this, [this] { UpdateTips(); });
  }

  QSize sizeHint() const override {
    QSize s = QListWidget::sizeHint();
    s.setWidth(std::clamp(NamesWidth(), 100, 240));
    return s;
  }
  QSize minimumSizeHint() const override {
    return QSize(std::clamp(NamesWidth(), 100, 128), 80);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QListWidget::resizeEvent(event);
    UpdateTips();
  }

 public:
  // An item whose name is cut off carries it whole as its tool tip; the others carry none.
  void UpdateTips() {
    const int room = viewport()->width() - 8;
    for (int i = 0; i < count(); ++i) {
      QListWidgetItem* it = item(i);
      const QString tip = fontMetrics().horizontalAdvance(it->text()) > room ? it->text() : QString();
      if (it->toolTip() != tip) it->setToolTip(tip);
    }
  }

 private:
  int NamesWidth() const {
    int w = 0;
    for (int i = 0; i < count(); ++i) w = std::max(w, fontMetrics().horizontalAdvance(item(i)->text()));
    return w + 2 * frameWidth() + 12 + verticalScrollBar()->sizeHint().width();
  }
};

// The test result view: six lines high unless the pattern boxes have had the room they want.
class ResultView : public QPlainTextEdit {
 public:
  explicit ResultView(QWidget* parent) : QPlainTextEdit(parent) {}
  QSize sizeHint() const override {
    return QSize(QPlainTextEdit::sizeHint().width(), fontMetrics().lineSpacing() * 6 + 10);
  }
};

}  // namespace

// Counts the handlers running in the window, so that destroying it waits for them to return.
class RuleWindow::Busy {
 public:
  explicit Busy(RuleWindow* w) : w_(w) { ++w_->busy_; }
  ~Busy() {
    if (--w_->busy_ == 0 && w_->destroyWanted_) w_->deleteLater();
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  RuleWindow* w_;
};

RuleWindow::RuleWindow(QtControls* controls, RuleStore store)
    : QWidget(nullptr), store_(std::move(store)) {
  setObjectName(QStringLiteral("RualWin"));
  setAttribute(Qt::WA_QuitOnClose, false);
  SetWidgetText(this, G("规则设置"));
  Build();
  resize(QSize(405, 461).expandedTo(minimumSizeHint()));
  if (controls != nullptr) {
    controls->RegisterBox(Ctl::RuleWindow, this);
    controls->RegisterBox(Ctl::SiteBox, siteBox_);
    controls->RegisterBox(Ctl::ListPatternBox, listPatternBox_);
    controls->RegisterBox(Ctl::TitlePatternBox, titlePatternBox_);
    controls->RegisterBox(Ctl::AuthorPatternBox, authorPatternBox_);
    controls->RegisterBox(Ctl::LeftMarkerBox, leftMarkerBox_);
    controls->RegisterBox(Ctl::RightMarkerBox, rightMarkerBox_);
  }
}

RuleWindow::~RuleWindow() {
  DetachMainWindow();
  // A test under way ends its transfer; its result, queued to this window, is dropped with it.
  CollectTestThreads(true);
}

void RuleWindow::CollectTestThreads(bool all) {
  for (auto it = testRuns_.begin(); it != testRuns_.end();) {
    if (all) it->cancel->store(true, std::memory_order_release);
    if (all || it->done->load(std::memory_order_acquire)) {
      if (it->thread.joinable()) it->thread.join();
      it = testRuns_.erase(it);
    } else {
      ++it;
    }
  }
}

QString RuleWindow::PatternProblem(RuleField field) const {
  const QWidget* box = FieldBox(field);
  return box != nullptr ? box->property("patternProblem").toString() : QString();
}

void RuleWindow::MarkPattern(RuleField field) {
  QWidget* box = FieldBox(field);
  if (box == nullptr) return;
  const PatternCheck c = CheckPattern(WidgetText(box));
  const QString problem =
      c.ok ? QString()
           : QStringFromGbk(G("正则表达式无法编译：") + c.message + G("（第") + Decimal(c.position) +
                            G("个字符处）"));
  if (box->property("patternProblem").toString() == problem && box->property("patternMarked").isValid()) {
    return;
  }
  box->setProperty("patternMarked", true);
  box->setProperty("patternProblem", problem);
  box->setToolTip(problem);
  box->setAccessibleDescription(problem);
  box->setStyleSheet(c.ok ? QString() : QStringLiteral("QPlainTextEdit { border: 2px solid red; }"));
}

void RuleWindow::TestRuleButton() {
  Busy busy(this);
  if (testAddressBox_->text().isEmpty() && addressBox_) {
    SetWidgetText(testAddressBox_, WidgetText(addressBox_));
  }
  SiteRule rule;
  for (RuleField f : kRuleFields) {
    if (f != RuleField::kPageCapture) rule.Field(f) = WidgetText(FieldBox(f));
  }
  rule.pageCapture = captureCheck_ && captureCheck_->isChecked() ? TrueText() : FalseText();
  const Text address = WidgetText(testAddressBox_);

  // A test under way is dropped: its transfer ends and its result is never shown.
  for (TestRun& run : testRuns_) run.cancel->store(true, std::memory_order_release);
  CollectTestThreads(false);
  const unsigned generation = ++testGeneration_;
  testRunning_ = true;
  SetWidgetText(testResultView_, G("正在测试规则，请稍等..."));

  TestRun run;
  run.cancel = std::make_shared<std::atomic<bool>>(false);
  run.done = std::make_shared<std::atomic<bool>>(false);
  auto cancel = run.cancel;
  auto done = run.done;
  try {
    run.thread = std::thread([this, rule, address, generation, cancel, done] {
      Text text;
      try {
        text = FormatRuleCheck(CheckRule(rule, address, cancel.get()));
      } catch (...) {
        text = G("测试失败：内存不足或内部错误");
      }
      if (!cancel->load(std::memory_order_acquire)) {
        // Queued to the window thread; the destructor joins this thread first, so the window
        // is alive here, and an event still queued when it goes is dropped with it.
        QMetaObject::invokeMethod(
            this, [this, generation, text] { ShowTestResult(generation, text); },
            Qt::QueuedConnection);
      }
      done->store(true, std::memory_order_release);
    });
  } catch (...) {
    testRunning_ = false;
    SetWidgetText(testResultView_, G("测试失败：无法启动测试线程"));
    return;
  }
  testRuns_.push_back(std::move(run));
}

void RuleWindow::ShowTestResult(unsigned generation, const Text& text) {
  if (generation != testGeneration_) return;
  testRunning_ = false;
  SetWidgetText(testResultView_, text);
  CollectTestThreads(false);
}

void RuleWindow::Build() {
  list_ = new RuleNameList(this);
  list_->setObjectName(QStringLiteral("列表框1"));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setTextElideMode(Qt::ElideRight);
  // As wide as its names when there is room (else cut, with the tool tip); the boxes take the
  // rest.
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  // Only the user's selections arrive here: the program selects with the signals blocked.
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] { ShowSelectedRule(); });

  auto lineBox = [this](const char* name) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QString::fromUtf8(name));
    return box;
  };
  // The pattern boxes show several lines, so a pattern that ends in a line break shows it; they
  // take the height the window gives them.
  auto textBox = [this](const char* name) {
    auto* box = new QPlainTextEdit(this);
    box->setObjectName(QString::fromUtf8(name));
    box->setTabChangesFocus(true);
    box->setMinimumHeight(box->fontMetrics().lineSpacing() * 2 + 10);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return box;
  };
  siteBox_ = lineBox("编辑框_网址");
  listPatternBox_ = textBox("编辑框_列表正则");
  titlePatternBox_ = textBox("编辑框_小说名正则");
  authorPatternBox_ = textBox("编辑框_小说作者正则");
  leftMarkerBox_ = lineBox("编辑框_章节内容左");
  rightMarkerBox_ = lineBox("编辑框_章节内容右");

  auto* fields = new QGridLayout;
  fields->setColumnStretch(1, 1);
  const struct {
    const char* label;
    const char* caption;
    QWidget* box;
  } rows[] = {
      {"标签_网址", "网址", siteBox_},
      {"标签2", "章节列表\r\n正则表达式", listPatternBox_},
      {"标签3", "小说名称\r\n正则表达式", titlePatternBox_},
      {"标签4", "小说作者\r\n正则表达式", authorPatternBox_},
      {"标签5", "章节内容左侧", leftMarkerBox_},
      {"标签6", "章节内容右侧", rightMarkerBox_},
  };
  int r = 0;
  for (const auto& row : rows) {
    QLabel* label = CaptionLabel(this, row.label, row.caption, row.box);
    fields->addWidget(label, r, 0, Qt::AlignLeft | Qt::AlignVCenter);
    fields->addWidget(row.box, r, 1);
    if (qobject_cast<QPlainTextEdit*>(row.box) != nullptr) fields->setRowStretch(r, 1);
    ++r;
  }

  auto button = [this](const char* name, std::string_view caption) {
    auto* b = new QPushButton(this);
    b->setObjectName(QString::fromUtf8(name));
    SetWidgetText(b, G(caption));
    b->setAutoDefault(false);
    return b;
  };
  renameButton_ = button("按钮_修改规则名", "修改规则名");
  addButton_ = button("按钮_增加", "增加");
  deleteButton_ = button("按钮_删除", "删除");
  // "确认增加" is the add button's longer caption: room for it from the start.
  addButton_->setMinimumWidth(
      std::max(addButton_->sizeHint().width(),
               addButton_->fontMetrics().horizontalAdvance(QStringFromGbk(G("确认增加"))) + 24));
  connect(renameButton_, &QPushButton::clicked, this, [this] { RenameRuleButton(); });
  connect(addButton_, &QPushButton::clicked, this, [this] { AddRuleButton(); });
  connect(deleteButton_, &QPushButton::clicked, this, [this] { DeleteRuleButton(); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(renameButton_);
  buttons->addWidget(addButton_);
  buttons->addWidget(deleteButton_);

  // The test area: the address to try, the button, and the result.
  testAddressBox_ = lineBox("编辑框_测试地址");
  testButton_ = button("按钮_测试规则", "测试规则");
  testButton_->setAccessibleName(QStringFromGbk(G("测试规则")));
  testResultView_ = new ResultView(this);
  testResultView_->setObjectName(QStringLiteral("编辑框_测试结果"));
  testResultView_->setReadOnly(true);
  testResultView_->setTabChangesFocus(true);
  testResultView_->setLineWrapMode(QPlainTextEdit::NoWrap);
  testResultView_->setMinimumHeight(testResultView_->fontMetrics().lineSpacing() * 6 + 10);
  testResultView_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  connect(testButton_, &QPushButton::clicked, this, [this] { TestRuleButton(); });
  connect(testAddressBox_, &QLineEdit::textEdited, this, [this] { testAddressEdited_ = true; });
  auto* test = new QGridLayout;
  test->setColumnStretch(1, 1);
  test->addWidget(CaptionLabel(this, "标签_测试地址", "测试地址", testAddressBox_), 0, 0,
                  Qt::AlignLeft | Qt::AlignVCenter);
  test->addWidget(testAddressBox_, 0, 1);
  test->addWidget(testButton_, 0, 2);
  test->addWidget(CaptionLabel(this, "标签_测试结果", "测试结果", testResultView_), 1, 0,
                  Qt::AlignLeft | Qt::AlignTop);
  test->addWidget(testResultView_, 1, 1, 1, 2);
  test->setRowStretch(1, 1);

  auto* right = new QVBoxLayout;
  right->addLayout(fields, 1);
  right->addLayout(buttons);
  // The pattern boxes take most of the room the window gains; the result view a share of it.
  right->addLayout(test, 0);
  auto* root = new QHBoxLayout(this);
  root->setContentsMargins(6, 8, 6, 8);
  root->addWidget(list_, 0);
  root->addLayout(right, 1);

  // Tab goes through the window as it reads: the list, the boxes from the top, the buttons.
  QWidget* order[] = {list_,        siteBox_,      listPatternBox_, titlePatternBox_,
                      authorPatternBox_, leftMarkerBox_, rightMarkerBox_, renameButton_,
                      addButton_,   deleteButton_, testAddressBox_, testButton_,
                      testResultView_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  // Every change of a box's text, whoever made it, is written to that field of the rule.
  for (RuleField f : kRuleFields) {
    QWidget* box = FieldBox(f);
    if (auto* line = qobject_cast<QLineEdit*>(box)) {
      connect(line, &QLineEdit::textChanged, this, [this, f] { SaveFieldEdit(f); });
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(box)) {
      connect(text, &QPlainTextEdit::textChanged, this, [this, f] {
        MarkPattern(f);
        SaveFieldEdit(f);
      });
    }
  }
}

QWidget* RuleWindow::FieldBox(RuleField field) const {
  switch (field) {
    case RuleField::kSite: return siteBox_;
    case RuleField::kListPattern: return listPatternBox_;
    case RuleField::kTitlePattern: return titlePatternBox_;
    case RuleField::kAuthorPattern: return authorPatternBox_;
    case RuleField::kLeftMarker: return leftMarkerBox_;
    case RuleField::kRightMarker: return rightMarkerBox_;
    case RuleField::kPageCapture: break;
  }
  return nullptr;
}

void RuleWindow::AttachMainWindow(const MainWindowParts& parts) {
  DetachMainWindow();
  main_ = parts.window;
  addressBox_ = parts.addressBox;
  statusLabel_ = parts.statusLabel;
  captureCheck_ = parts.captureCheck;
  ruleButton_ = parts.ruleButton;
  // The test address follows the chapter-list address until the user types one of their own.
  if (auto* line = qobject_cast<QLineEdit*>(addressBox_.data())) {
    addressConnection_ = connect(line, &QLineEdit::textChanged, this, [this] {
      if (!testAddressEdited_ && addressBox_) SetWidgetText(testAddressBox_, WidgetText(addressBox_));
    });
  }
  if (addressBox_ && !testAddressEdited_) SetWidgetText(testAddressBox_, WidgetText(addressBox_));
  // clicked, not toggled: only the user's clicks write the flag, not ShowSelectedRule's.
  if (captureCheck_) {
    captureConnection_ = connect(captureCheck_, &QAbstractButton::clicked, this,
                                 [this] { SavePageCaptureFlag(); });
  }
}

void RuleWindow::DetachMainWindow() {
  disconnect(captureConnection_);
  disconnect(addressConnection_);
  main_ = nullptr;
  addressBox_ = nullptr;
  statusLabel_ = nullptr;
  captureCheck_ = nullptr;
  ruleButton_ = nullptr;
}

void RuleWindow::closeEvent(QCloseEvent* event) { event->ignore(); }

QPoint RuleWindowPosition(const QRect& mainFrame, const QSize& ruleFrame, const QRect& available) {
  const int right = mainFrame.x() + mainFrame.width() + 5;
  const int left = mainFrame.x() - 5 - ruleFrame.width();
  int x = right;
  if (!available.isEmpty() && right + ruleFrame.width() > available.x() + available.width()) {
    // No room on the right: on the left when it fits there, else as far right as the screen
    // allows.
    x = left >= available.x()
            ? left
            : std::max(available.x(), available.x() + available.width() - ruleFrame.width());
  }
  int y = mainFrame.y() + 40;
  if (!available.isEmpty()) {
    y = std::min(y, available.y() + available.height() - ruleFrame.height());
    y = std::max(y, available.y());
  }
  return {x, y};
}

void RuleWindow::PlaceRuleWindow() {
  if (!main_) return;
  QScreen* screen = main_->screen();
  const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
  // move() places a window's frame, so both sides are outer rectangles.
  move(RuleWindowPosition(main_->frameGeometry(), frameGeometry().size(), available));
}

void RuleWindow::RaiseRuleWindow() {
  if (isVisible()) raise();
}

void RuleWindow::ToggleRuleWindow() {
  setVisible(!isVisible());
  if (ruleButton_) SetWidgetText(ruleButton_, G(isVisible() ? "<<<<规则设定" : "规则设定>>>>"));
}

int RuleWindow::SelectedIndex() const {
  const QList<QListWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? -1 : list_->row(selected.front());
}

void RuleWindow::SelectItem(int i) {
  const QSignalBlocker block(list_);
  if (i >= 0 && i < list_->count()) {
    list_->setCurrentRow(i, QItemSelectionModel::ClearAndSelect);
  } else {
    list_->clearSelection();
    list_->setCurrentRow(-1);
  }
}

void RuleWindow::FillRuleList() {
  Busy busy(this);
  {
    const QSignalBlocker block(list_);
    list_->clear();
  }
  for (const Text& name : store_.ListNames()) {
    auto* item = new QListWidgetItem;
    SetItemText(item, name);
    item->setData(kItemValueRole, 0);
    {
      const QSignalBlocker block(list_);
      list_->addItem(item);
    }
    QCoreApplication::processEvents();
  }
  list_->updateGeometry();
  SelectItem(0);
  ShowSelectedRule();
}

void RuleWindow::ShowSelectedRule() {
  Busy busy(this);
  const RuleReading rule = store_.ReadRule(SelectedIndex() + 1);
  // Each set writes its field back to the selected rule: the same bytes, so nothing changes.
  SetWidgetText(siteBox_, rule.site);
  SetWidgetText(listPatternBox_, rule.listPattern);
  SetWidgetText(titlePatternBox_, rule.titlePattern);
  SetWidgetText(authorPatternBox_, rule.authorPattern);
  SetWidgetText(leftMarkerBox_, rule.leftMarker);
  SetWidgetText(rightMarkerBox_, rule.rightMarker);
  if (captureCheck_) captureCheck_->setChecked(rule.pageCapture);
}

void RuleWindow::SaveFieldEdit(RuleField field) {
  // A new name waiting for confirmation has no rule in the file: its edits go nowhere.
  if (adding_) return;
  const int position = SelectedIndex() + 1;
  if (position <= 0) return;
  RuleChange change;
  ChangeField(change, field) = WidgetText(FieldBox(field));
  store_.WriteRule(position, change);
}

void RuleWindow::SavePageCaptureFlag() {
  if (adding_ || !captureCheck_) return;
  const int position = SelectedIndex() + 1;
  if (position <= 0) return;
  RuleChange change;
  change.pageCapture = captureCheck_->isChecked() ? TrueText() : FalseText();
  store_.WriteRule(position, change);
}

void RuleWindow::SetAddCaption(bool confirming) {
  SetWidgetText(addButton_, G(confirming ? "确认增加" : "增加"));
}

void RuleWindow::AddRuleButton() {
  Busy busy(this);
  auto endAddition = [this] {
    adding_ = false;
    SetAddCaption(false);
    list_->setEnabled(true);
    renameButton_->setEnabled(true);
    deleteButton_->setEnabled(true);
  };

  if (!adding_) {
    list_->setEnabled(false);
    renameButton_->setEnabled(false);
    deleteButton_->setEnabled(false);
    Text entered;
    if (!AskText(G("请输入新的规则名称：\r\n（不含空格）"), G("输入名称"), G("新规则名称"), entered)) {
      endAddition();
      return;
    }
    const Text name = RemoveSpaces(entered);
    if (!AcceptableName(name)) {
      endAddition();
      return;
    }
    const int n = list_->count();
    auto* item = new QListWidgetItem;
    SetItemText(item, name);
    item->setData(kItemValueRole, SelectedIndex());
    {
      const QSignalBlocker block(list_);
      list_->insertItem(n, item);
    }
    adding_ = true;
    SelectItem(n);
    SetWidgetText(siteBox_, Text());
    SetAddCaption(true);
    return;
  }

  const NoticeAnswer answer = TimedNotice(
      G("确认提醒"),
      G("请确认是否增加规则\r\n确认请点击\"是\"\r\n取消请点击\"否\"\r\n返回重新修改请点击\"取消\"\r\n"
        "5秒后自动返回重新修改"),
      5000, NoticeStyle::kYesNoCancel);
  if (!adding_ || list_->count() == 0) return;
  const int last = list_->count() - 1;
  if (answer == NoticeAnswer::kNo) {
    SelectItem(list_->item(last)->data(kItemValueRole).toInt());
    {
      const QSignalBlocker block(list_);
      delete list_->takeItem(last);
    }
    adding_ = false;
    ShowSelectedRule();
    endAddition();
  } else if (answer == NoticeAnswer::kYes) {
    SiteRule rule;
    rule.ruleName = ItemBytes(list_->item(last));
    for (RuleField f : kRuleFields) {
      if (f != RuleField::kPageCapture) rule.Field(f) = WidgetText(FieldBox(f));
    }
    rule.pageCapture = captureCheck_ && captureCheck_->isChecked() ? TrueText() : FalseText();
    store_.AddRule(rule);
    endAddition();
  }
  // Cancel, the time-out or a notice that did not show: the addition stays under way.
}

void RuleWindow::RenameRuleButton() {
  Busy busy(this);
  list_->setEnabled(false);
  addButton_->setEnabled(false);
  deleteButton_->setEnabled(false);
  const NoticeAnswer answer = TimedNotice(
      G("修改询问"),
      G("是否修改规则名？\r\n修改请点击\"是\"\r\n不修改请点击\"否\"\r\n5秒后自动返回不修改规则名"),
      5000, NoticeStyle::kYesNo);
  if (answer == NoticeAnswer::kYes) {
    const int s = SelectedIndex();
    const Text current = ItemBytes(list_->item(s));
    Text entered;
    if (AskText(G("请输入新的规则名称："), G("修改规则名称"), current + "1", entered)) {
      const Text name = RemoveSpaces(entered);
      QListWidgetItem* item = list_->item(s);
      if (item != nullptr && name != current && AcceptableName(name)) {
        SetItemText(item, name);
        RuleChange change;
        change.ruleName = name;
        store_.WriteRule(s + 1, change);
      }
    }
  }
  list_->setEnabled(true);
  addButton_->setEnabled(true);
  deleteButton_->setEnabled(true);
}

void RuleWindow::DeleteRuleButton() {
  Busy busy(this);
  if (list_->count() == 1) {
    TimedNotice(G("删除提示"), G("老大,要不要这么狠?留条活命吧!"), 3000, NoticeStyle::kError);
    return;
  }
  const int s = SelectedIndex();
  if (s >= 0) {
    // One click must not lose a rule: the user confirms, naming it; No is the default.
    const NoticeAnswer answer = TimedNotice(G("删除提示"),
                                   G("确定要删除规则“") + ItemBytes(list_->item(s)) + G("”吗？"),
                                   0, NoticeStyle::kYesNoDefaultNo);
    if (answer != NoticeAnswer::kYes) return;
  }
  if (s >= 0 && s == SelectedIndex() && store_.DeleteRule(s + 1)) {
    {
      const QSignalBlocker block(list_);
      delete list_->takeItem(s);
    }
    SelectItem(s > 0 ? s - 1 : 0);
    ShowSelectedRule();
  } else {
    TimedNotice(G("删除提示"), G("删除失败，请重试!"), 3000, NoticeStyle::kInfo);
  }
}

void RuleWindow::LookUpRuleForAddress() {
  Busy busy(this);
  const unsigned generation = ++lookupGeneration_;
  const Text host = HostOfAddress(addressBox_ ? WidgetText(addressBox_) : Text());
  const int i = FindRuleIndex(host, [] { QCoreApplication::processEvents(); }, store_);
  // A lookup that ran meanwhile (the address changed again) is the newer one and has reported.
  if (generation != lookupGeneration_) return;
  if (i >= 0) {
    // While an addition waits for confirmation the boxes hold the new rule: they stay.
    if (!adding_) {
      SelectItem(i);
      ShowSelectedRule();
    }
    if (statusLabel_) SetWidgetText(statusLabel_, G("已找到此网站的下载规则，可直接点击下载"));
  } else {
    if (statusLabel_) SetWidgetText(statusLabel_, G("未找到此网站的下载规则，请自行增加规则"));
  }
}

bool RuleWindow::HasRuleForAddress() {
  const Text host = HostOfAddress(addressBox_ ? WidgetText(addressBox_) : Text());
  return FindRuleIndex(host, {}, store_) >= 0;
}

bool RuleWindow::AskText(const Text& prompt, const Text& title, const Text& initial,
                         Text& entered) {
  QInputDialog dialog(this);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(CaptionFromGbk(title));
  dialog.setLabelText(CaptionFromGbk(prompt));
  const QString shownInitial = QStringFromGbk(initial);
  dialog.setTextValue(shownInitial);
  QTimer::singleShot(0, &dialog, [&dialog] {
    if (InputBoxObserver observer = InputObserver()) observer(&dialog);
  });
  if (dialog.exec() != QDialog::Accepted) return false;
  // Untouched, the initial bytes come back exactly.
  entered = dialog.textValue() == shownInitial ? initial : GbkFromQString(dialog.textValue());
  return true;
}

RuleWindow* LoadRuleWindow(QtControls* controls, const MainWindowParts& parts) {
  auto* window = new RuleWindow(controls);
  window->AttachMainWindow(parts);
  window->PlaceRuleWindow();
  return window;
}

void DestroyRuleWindow(RuleWindow* window) {
  if (window == nullptr) return;
  window->DetachMainWindow();
  if (window->busy_ > 0) {
    window->destroyWanted_ = true;
    window->hide();
    return;
  }
  delete window;
}

void SetInputBoxObserver(InputBoxObserver observer) { InputObserver() = std::move(observer); }

}  // namespace qv

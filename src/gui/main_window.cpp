#include "gui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <QWebEngineView>

#include "gui/accessibility.h"
#include "gui/box_text.h"
#include "gui/window_bridge.h"
#include "rules/rule_store.h"
#include "text/encoding.h"

namespace qv {
namespace {

// A chapter-list page of the 笔趣阁 rule's site.
constexpr const char* kSampleAddress = "http://www.biquge.com/0_1/";

QString NameOf(const char* utf8) { return QStringFromGbk(Utf8ToGbk(utf8)); }

template <class W>
W* Named(W* w, const char* name) {
  w->setObjectName(NameOf(name));
  return w;
}

QLabel* MakeLabel(const char* name, const char* caption) {
  auto* l = Named(new QLabel, name);
  l->setTextFormat(Qt::PlainText);  // texts from pages may hold "<"
  SetWidgetText(l, Utf8ToGbk(caption));
  return l;
}

// An edit box announced by its caption label.
QLineEdit* MakeBox(const char* name, const char* initial, QLabel* caption) {
  auto* e = Named(new QLineEdit, name);
  SetWidgetText(e, Utf8ToGbk(initial));
  if (caption != nullptr) {
    caption->setBuddy(e);
    e->setAccessibleName(caption->text());
  }
  return e;
}

QPushButton* MakeButton(const char* name, const char* caption, bool enabled = true) {
  auto* b = Named(new QPushButton, name);
  SetWidgetText(b, Utf8ToGbk(caption));
  b->setAutoDefault(false);
  b->setEnabled(enabled);
  return b;
}

QCheckBox* MakeCheck(const char* name, const char* caption, bool checked) {
  auto* c = Named(new QCheckBox, name);
  SetWidgetText(c, Utf8ToGbk(caption));
  c->setChecked(checked);
  return c;
}

QGroupBox* MakeGroup(const char* name, const char* title) {
  auto* g = Named(new QGroupBox, name);
  SetWidgetText(g, Utf8ToGbk(title));
  return g;
}

// An edit box about as wide as `sample` (the interval line stays on one line).
void FitWidth(QLineEdit* e, const char* sample) {
  const int text = e->fontMetrics().horizontalAdvance(QString::fromLatin1(sample));
  e->setFixedWidth(text + 16);
}

}  // namespace

MainWindow::MainWindow(MainWindowHooks hooks, QWidget* parent)
    : QWidget(parent), hooks_(std::move(hooks)), settings_(SettingsFileName()) {
  setObjectName(QStringLiteral("MainWindow"));
  OpenWindowBridge();
  InstallAccessibleCheckBoxes();
  Build();
  RegisterRoles();
  resize(StartSize());
  RunCreatedHandling();
}

MainWindow::~MainWindow() { RunWillBeDestroyed(); }

QSize MainWindow::StartSize() { return QSize(920, 640); }

void MainWindow::Build() {
  SetWidgetText(this, Utf8ToGbk("Quorvane"));

  // Address line and status line.
  QLabel* addressCaption = MakeLabel("标签1", "章节列表网址：");
  QLineEdit* address = MakeBox("编辑框_章节列表网址", kSampleAddress, addressCaption);
  QPushButton* fetch = MakeButton("按钮_获取章节标题", "获取章节标题");
  QPushButton* ruleToggle = MakeButton("按钮_选择规则", "规则设定>>>>");
  QLabel* status = MakeLabel("标签4", "");
  status->setWordWrap(true);
  status->setMinimumHeight(status->fontMetrics().height() + 4);

  // The chapter table.
  model_ = new ChapterModel(this);
  view_ = Named(new QTableView, "超级列表框1");
  model_->AttachView(view_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setWordWrap(false);
  view_->setShowGrid(false);
  view_->setCornerButtonEnabled(false);
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
  QHeaderView* header = view_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view_->setColumnWidth(kColNumber, 70);
  view_->setColumnWidth(kColTitle, 300);
  view_->setColumnWidth(kColLink, 0);
  view_->setColumnHidden(kColLink, true);
  view_->setColumnWidth(kColStatus, 80);
  view_->setMinimumWidth(70 + 300 + 80 + view_->frameWidth() * 2 + 20);
  table_ = std::make_unique<QtChapterTable>(model_, view_);

  auto* progress = Named(new QProgressBar, "进度条1");
  progress->setRange(0, 1);
  progress->setValue(0);
  progress->setTextVisible(false);
  progress->setFormat(QStringLiteral("%v / %m"));

  // Hidden helpers: the base address and the page-capture browser's container.
  QLineEdit* base = MakeBox("编辑框_相对网址", "", nullptr);
  base->setAccessibleName(NameOf("相对网址"));
  base->hide();
  browserHost_ = Named(new QWidget, "互联网浏览器1");
  auto* browserLayout = new QVBoxLayout(browserHost_);
  browserLayout->setContentsMargins(0, 0, 0, 0);
  browserHost_->setEnabled(false);
  browserHost_->hide();

  // 作品信息.
  QGroupBox* info = MakeGroup("分组框4", "作品信息");
  auto* infoLayout = new QGridLayout(info);
  infoLayout->addWidget(MakeLabel("标签5", "书名："), 0, 0);
  QLabel* title = MakeLabel("标签_书名", "");
  title->setAccessibleDescription(NameOf("书名："));
  infoLayout->addWidget(title, 0, 1);
  infoLayout->addWidget(MakeLabel("标签6", "作者："), 1, 0);
  QLabel* author = MakeLabel("标签_作者", "");
  author->setAccessibleDescription(NameOf("作者："));
  infoLayout->addWidget(author, 1, 1);
  infoLayout->setColumnStretch(1, 1);

  // The download controls.
  QGroupBox* download = MakeGroup("分组框2", "");
  auto* downloadLayout = new QGridLayout(download);
  downloadLayout->addWidget(MakeButton("按钮_下载章节内容", "下载章节内容", false), 0, 0);
  downloadLayout->addWidget(MakeButton("按钮_暂停继续", "暂停", false), 0, 1);
  downloadLayout->addWidget(MakeButton("按钮_停止", "停止", false), 0, 2);
  QCheckBox* mergeCheck = MakeCheck("选择框_合并", "下载完成自动合并", true);
  downloadLayout->addWidget(mergeCheck, 1, 0, 1, 2);
  QPushButton* merge = MakeButton("按钮_合并", "合并全本", false);
  downloadLayout->addWidget(merge, 1, 2);
  // The formats a merge writes, kept in the settings file between runs.
  const BookFormats formats = ReadBookFormats(settings_);
  QCheckBox* txtCheck = MakeCheck("选择框_生成TXT", "生成TXT", formats.txt);
  QCheckBox* epubCheck = MakeCheck("选择框_生成EPUB", "生成EPUB", formats.epub);
  txtCheck->setAccessibleName(NameOf("生成TXT"));
  epubCheck->setAccessibleName(NameOf("生成EPUB"));
  auto* formatLine = new QHBoxLayout;
  formatLine->addWidget(txtCheck);
  formatLine->addWidget(epubCheck);
  formatLine->addStretch(1);
  downloadLayout->addLayout(formatLine, 2, 0, 1, 3);
  downloadLayout->addWidget(
      MakeCheck("选择框_页面抓取", "通过浏览网页抓取页面文字\r\n(仅测试，获取动态页文字)", false),
      3, 0, 1, 3);

  // 选择: check all / invert, and the interval line with its tools.
  QGroupBox* select = MakeGroup("分组框1", "选择");
  auto* selectLayout = new QVBoxLayout(select);
  auto* allLine = new QHBoxLayout;
  allLine->addWidget(MakeButton("按钮_全选", "全选"));
  allLine->addWidget(MakeButton("按钮_反选", "反选"));
  selectLayout->addLayout(allLine);
  QGroupBox* interval = MakeGroup("分组框3", "");
  auto* intervalLayout = new QVBoxLayout(interval);
  auto* line = new QHBoxLayout;
  line->setSpacing(4);
  QLabel* fromCaption = MakeLabel("标签2", "从第");
  QLineEdit* first = MakeBox("编辑框_首行", "1", fromCaption);
  QLabel* stepCaption = MakeLabel("标签7", "行起，间隔");
  QLineEdit* step = MakeBox("编辑框_间隔", "4", stepCaption);
  QLabel* stepTail = MakeLabel("标签8", "行选中，");
  QLabel* lastCaption = MakeLabel("标签3", "直到");
  QLineEdit* last = MakeBox("编辑框_尾行", "9999", lastCaption);
  QLabel* lastTail = MakeLabel("标签9", "行止");
  FitWidth(first, "99999");
  FitWidth(step, "9999");
  FitWidth(last, "999999");
  for (QWidget* w : std::initializer_list<QWidget*>{fromCaption, first, stepCaption, step, stepTail,
                                                    lastCaption, last, lastTail}) {
    line->addWidget(w);
  }
  line->addStretch(1);
  intervalLayout->addLayout(line);
  auto* tools = new QHBoxLayout;
  tools->addWidget(MakeButton("按钮_间选", "等间选中"));
  tools->addWidget(MakeButton("按钮_取消选择", "选中部分反选"));
  tools->addWidget(MakeButton("按钮_删除选择", "删除选中部分"));
  intervalLayout->addLayout(tools);
  selectLayout->addWidget(interval);

  // 移动.
  QGroupBox* move = MakeGroup("分组框5", "移动");
  auto* moveLayout = new QHBoxLayout(move);
  moveLayout->addWidget(MakeButton("按钮_上移", "上移"));
  moveLayout->addWidget(MakeButton("按钮_下移", "下移"));

  QPushButton* exitButton = MakeButton("按钮_退出", "退出软件");

  // Putting it together: address and status on top, the table on the left, the groups right.
  auto* top = new QHBoxLayout;
  top->addWidget(addressCaption);
  top->addWidget(address, 1);
  top->addWidget(fetch);
  top->addWidget(ruleToggle);

  auto* left = new QVBoxLayout;
  left->addWidget(view_, 1);
  left->addWidget(progress);
  left->addWidget(base);
  left->addWidget(browserHost_);

  auto* right = new QVBoxLayout;
  right->addWidget(info);
  right->addWidget(download);
  right->addWidget(select);
  right->addWidget(move);
  right->addStretch(1);
  auto* exitLine = new QHBoxLayout;
  exitLine->addStretch(1);
  exitLine->addWidget(exitButton);
  right->addLayout(exitLine);

  auto* body = new QHBoxLayout;
  body->addLayout(left, 1);
  body->addLayout(right, 0);

  auto* root = new QVBoxLayout(this);
  root->addLayout(top);
  root->addWidget(status);
  root->addLayout(body, 1);

  connect(exitButton, &QPushButton::clicked, this, &MainWindow::ExitButtonClicked);
  connect(mergeCheck, &QCheckBox::clicked, this, &MainWindow::MergeCheckClicked);
  connect(txtCheck, &QCheckBox::clicked, this, &MainWindow::FormatCheckClicked);
  connect(epubCheck, &QCheckBox::clicked, this, &MainWindow::FormatCheckClicked);
  connect(address, &QLineEdit::textChanged, this, [this] { Run(hooks_.lookUpAddress); });
  connect(ruleToggle, &QPushButton::clicked, this, [this] { Run(hooks_.toggleRuleWindow); });
}

void MainWindow::RegisterRoles() {
  controls_ = std::make_unique<QtControls>();
  const struct {
    Ctl role;
    const char* name;
  } roles[] = {
      {Ctl::AddressBox, "编辑框_章节列表网址"}, {Ctl::StatusLabel, "标签4"},
      {Ctl::TitleLabel, "标签_书名"},           {Ctl::AuthorLabel, "标签_作者"},
      {Ctl::BaseAddressBox, "编辑框_相对网址"}, {Ctl::FirstRowBox, "编辑框_首行"},
      {Ctl::IntervalBox, "编辑框_间隔"},        {Ctl::LastRowBox, "编辑框_尾行"},
      {Ctl::FetchButton, "按钮_获取章节标题"},  {Ctl::DownloadButton, "按钮_下载章节内容"},
      {Ctl::PauseButton, "按钮_暂停继续"},      {Ctl::StopButton, "按钮_停止"},
      {Ctl::MergeButton, "按钮_合并"},          {Ctl::MergeCheck, "选择框_合并"},
      {Ctl::CaptureCheck, "选择框_页面抓取"},   {Ctl::DeleteSelectedButton, "按钮_删除选择"},
      {Ctl::MoveUpButton, "按钮_上移"},         {Ctl::MoveDownButton, "按钮_下移"},
      {Ctl::TxtCheck, "选择框_生成TXT"},        {Ctl::EpubCheck, "选择框_生成EPUB"},
  };
  for (const auto& r : roles) controls_->RegisterBox(r.role, Find(r.name));
  controls_->RegisterProgressBar(Find<QProgressBar>("进度条1"));
}

QWidget* MainWindow::Find(const char* name) const { return findChild<QWidget*>(NameOf(name)); }

void MainWindow::Run(const std::function<void(MainWindow&)>& step) {
  if (step) step(*this);
}

void MainWindow::RunCreatedHandling() {
  Run(hooks_.loadRuleWindow);
  RuleStore().EnsureFile();
  Run(hooks_.fillRuleList);
  Run(hooks_.lookUpAddress);
  created_ = true;
}

void MainWindow::RunWillBeDestroyed() {
  if (destroyHandled_) return;
  destroyHandled_ = true;
  Run(hooks_.stopPoolOnClose);
  Run(hooks_.destroyRuleWindow);
  // From here on other threads no longer reach the widgets.
  CloseWindowBridge();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    // The first close is still draining (it waits while handling events); it ends the window.
    event->ignore();
    return;
  }
  closing_ = true;
  RunWillBeDestroyed();
  event->accept();
  emit closed();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (created_) Run(hooks_.placeRuleWindow);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (created_) Run(hooks_.placeRuleWindow);
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Run(hooks_.raiseRuleWindow);
}

void MainWindow::ExitButtonClicked() {
  // Stop whatever the page-capture browser is loading, if it was ever created.
  for (QWebEngineView* page : browserHost_->findChildren<QWebEngineView*>()) page->stop();
  close();
}

void MainWindow::FormatCheckClicked() {
  BookFormats formats;
  formats.txt = Find<QCheckBox>("选择框_生成TXT")->isChecked();
  formats.epub = Find<QCheckBox>("选择框_生成EPUB")->isChecked();
  WriteBookFormats(settings_, formats);
  if (!settings_.Save()) {
    SetWidgetText(Find("标签4"), Utf8ToGbk("无法保存设置文件“设置.ini”，下次启动时恢复原来的选择"));
  }
}

void MainWindow::MergeCheckClicked() {
  if (QWidget* merge = Find("按钮_合并"))
    merge->setEnabled(!Find<QCheckBox>("选择框_合并")->isChecked());
}

}  // namespace qv

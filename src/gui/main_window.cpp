#include "gui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QShortcut>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <algorithm>
#include <cmath>
#include <string>

#include "gui/accessibility.h"
#include "gui/box_text.h"
#include "gui/notices.h"
#include "gui/window_bridge.h"
#include "rules/rule_store.h"
#include "text/encoding.h"

namespace qv {
namespace {

// Setting keys.
constexpr std::string_view kAddressKey = "章节列表网址";
constexpr std::string_view kAutoMergeKey = "下载完成自动合并";
constexpr std::string_view kSaveFolderKey = "保存到";
constexpr std::string_view kLeftKey = "主窗口左";
constexpr std::string_view kTopKey = "主窗口上";
constexpr std::string_view kWidthKey = "主窗口宽";
constexpr std::string_view kHeightKey = "主窗口高";
constexpr std::string_view kRuleWidthKey = "规则窗口宽";
constexpr std::string_view kRuleHeightKey = "规则窗口高";

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
    : QWidget(parent), hooks_(std::move(hooks)), settings_(SettingsPath()) {
  setObjectName(QStringLiteral("MainWindow"));
  OpenWindowBridge();
  InstallAccessibleCheckBoxes();
  Build();
  RegisterRoles();
  resize(StartSize());
  ApplySettings();
  RunCreatedHandling();
}

MainWindow::~MainWindow() { RunWillBeDestroyed(); }

QSize MainWindow::StartSize() { return QSize(920, 640); }

void MainWindow::FitNumberAndStatusColumns() {
  const QFontMetrics fm = view_->fontMetrics();
  const int pad = 16;
  const int headerPad = 16;
  auto headerWidth = [&](int column) {
    return view_->horizontalHeader()->fontMetrics().horizontalAdvance(
               model_->headerData(column, Qt::Horizontal).toString()) +
           headerPad;
  };
  // The check box and the number of the last row, at least five digits.
  const int digits = std::max(5, static_cast<int>(std::to_string(model_->rowCount()).size()));
  const int indicator = view_->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, view_);
  const int number = std::max({70, headerWidth(kColNumber),
                               indicator + 8 + fm.horizontalAdvance(QString(digits, u'9')) + pad});
  // The longest status a row shows.
  int status = std::max(80, headerWidth(kColStatus));
  for (const char* text : {"等待下载", "正在下载", "重试下载3", "下载完毕", "失败3次", "保存失败"}) {
    status = std::max(status, fm.horizontalAdvance(NameOf(text)) + pad);
  }
  // Later calls only widen them: the user may have made them wider.
  if (!columnsFitted_ || view_->columnWidth(kColNumber) < number)
    view_->setColumnWidth(kColNumber, number);
  if (!columnsFitted_ || view_->columnWidth(kColStatus) < status)
    view_->setColumnWidth(kColStatus, status);
  columnsFitted_ = true;
}

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
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setMinimumSectionSize(40);
  // The title column takes the spare width; number and status fit what they show.
  header->setSectionResizeMode(kColNumber, QHeaderView::Interactive);
  header->setSectionResizeMode(kColTitle, QHeaderView::Stretch);
  header->setSectionResizeMode(kColStatus, QHeaderView::Interactive);
  view_->setColumnWidth(kColLink, 0);
  view_->setColumnHidden(kColLink, true);
  FitNumberAndStatusColumns();
  connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { FitNumberAndStatusColumns(); });
  view_->setMinimumWidth(260);
  view_->setMinimumHeight(view_->verticalHeader()->defaultSectionSize() * 4 +
                          header->sizeHint().height());
  table_ = std::make_unique<QtChapterTable>(model_, view_);

  auto* progress = Named(new QProgressBar, "进度条1");
  progress->setRange(0, 1);
  progress->setValue(0);
  progress->setTextVisible(false);
  progress->setFormat(QStringLiteral("%v / %m"));
  // Chapters per second and the time left, while a run is active.
  speed_ = MakeLabel("标签_速度", "");
  speed_->setMinimumWidth(speed_->fontMetrics().horizontalAdvance(NameOf("99.9 章/秒，剩余 99:59:59")));
  connect(progress, &QProgressBar::valueChanged, this, [this] { UpdateSpeed(); });
  speedTimer_.setInterval(1000);
  connect(&speedTimer_, &QTimer::timeout, this, [this] { UpdateSpeed(); });

  // Where books go: the button opens a folder dialog, the label shows the folder.
  QPushButton* saveButton = MakeButton("按钮_保存到", "保存到");
  saveFolderLabel_ = MakeLabel("标签_保存位置", "");
  saveFolderLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  saveFolderLabel_->setMinimumWidth(80);
  saveButton->setAccessibleDescription(NameOf("选择保存书籍的文件夹"));
  connect(saveButton, &QPushButton::clicked, this, &MainWindow::ChooseSaveFolder);

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
  auto* progressLine = new QHBoxLayout;
  progressLine->addWidget(progress, 1);
  progressLine->addWidget(speed_);
  left->addLayout(progressLine);
  auto* saveLine = new QHBoxLayout;
  saveLine->addWidget(saveButton);
  saveLine->addWidget(saveFolderLabel_, 1);
  left->addLayout(saveLine);
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
  InstallKeys();
}

void MainWindow::InstallKeys() {
  // A shortcut presses its button: a disabled button ignores it, so every tool keeps its
  // enable rules. Captions stay as they are; the key shows in the button's tool tip.
  auto press = [this](const char* name) {
    if (auto* b = Find<QAbstractButton>(name)) b->click();
  };
  auto key = [this, press](const QKeySequence& seq, const char* name) {
    auto* s = new QShortcut(seq, this);
    s->setContext(Qt::WindowShortcut);
    connect(s, &QShortcut::activated, this, [press, name] { press(name); });
    return s;
  };
  const struct {
    const char* name;
    const char* keys;  // first the access key, then any further keys
  } keys[] = {
      {"按钮_获取章节标题", "Alt+G"}, {"按钮_选择规则", "Alt+R"},
      {"按钮_下载章节内容", "Ctrl+D"}, {"按钮_暂停继续", "Alt+P"},
      {"按钮_停止", "Alt+S"},         {"按钮_合并", "Alt+M"},
      {"按钮_全选", "Ctrl+A"},        {"按钮_反选", "Alt+I"},
      {"按钮_间选", "Alt+J"},         {"按钮_取消选择", "Alt+C"},
      {"按钮_删除选择", "Delete"},    {"按钮_上移", "Alt+Up"},
      {"按钮_下移", "Alt+Down"},      {"按钮_退出", "Alt+Q"},
      {"按钮_保存到", "Alt+O"},
  };
  for (const auto& k : keys) {
    const QKeySequence seq(QString::fromLatin1(k.keys));
    key(seq, k.name);
    if (QWidget* b = Find(k.name)) b->setToolTip(seq.toString(QKeySequence::NativeText));
  }
  // Space pauses and continues while a run is active, that is while the pause button is
  // enabled; otherwise it is left to the focused control.
  auto* pauseButton = Find<QAbstractButton>("按钮_暂停继续");
  spaceKey_ = key(QKeySequence(Qt::Key_Space), "按钮_暂停继续");
  spaceKey_->setEnabled(pauseButton->isEnabled());
  pauseButton->installEventFilter(this);
  // Alt+L puts the cursor in the address box; Enter there fetches.
  auto* address = Find<QLineEdit>("编辑框_章节列表网址");
  auto* focusAddress = new QShortcut(QKeySequence(QStringLiteral("Alt+L")), this);
  connect(focusAddress, &QShortcut::activated, address, [address] {
    address->setFocus(Qt::ShortcutFocusReason);
    address->selectAll();
  });
  connect(address, &QLineEdit::returnPressed, this, [this, press] {
    // While a fetch runs the button cancels it: Enter does not.
    if (WidgetText(Find("按钮_获取章节标题")) == Utf8ToGbk("获取章节标题")) press("按钮_获取章节标题");
  });

  // Tab follows the window as it reads: the address line, the table, then the panel on the
  // right from the top.
  const char* order[] = {"编辑框_章节列表网址", "按钮_获取章节标题", "按钮_选择规则",
                         "超级列表框1",         "按钮_下载章节内容", "按钮_暂停继续",
                         "按钮_停止",           "选择框_合并",       "按钮_合并",
                         "选择框_页面抓取",     "按钮_全选",         "按钮_反选",
                         "编辑框_首行",         "编辑框_间隔",       "编辑框_尾行",
                         "按钮_间选",           "按钮_取消选择",     "按钮_删除选择",
                         "按钮_上移",           "按钮_下移",         "按钮_保存到",
                         "按钮_退出"};
  QWidget* previous = nullptr;
  for (const char* name : order) {
    QWidget* w = Find(name);
    if (w == nullptr) continue;
    if (previous != nullptr) setTabOrder(previous, w);
    previous = w;
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::EnabledChange && spaceKey_ != nullptr &&
      watched == Find("按钮_暂停继续")) {
    const bool run = static_cast<QWidget*>(watched)->isEnabled();
    spaceKey_->setEnabled(run);
    // The folder is fixed while a run saves into it.
    Find("按钮_保存到")->setEnabled(!run);
    UpdateSpeed();
  }
  return QWidget::eventFilter(watched, event);
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
  // The user starting a run or picking rows wants to see them again.
  for (const char* name : {"按钮_下载章节内容", "按钮_间选"}) {
    connect(Find<QAbstractButton>(name), &QAbstractButton::pressed, this,
            [this] { table_->FollowAgain(); });
  }
  controls_->RegisterProgressBar(Find<QProgressBar>("进度条1"));
}

QWidget* MainWindow::Find(const char* name) const { return findChild<QWidget*>(NameOf(name)); }

void MainWindow::Run(const std::function<void(MainWindow&)>& step) {
  if (step) step(*this);
}

void MainWindow::RunCreatedHandling() {
  Run(hooks_.loadRuleWindow);
  if (QWidget* rules = controls_->Widget(Ctl::RuleWindow)) {
    const QSize size(settings_.GetInt(kRuleWidthKey, 0), settings_.GetInt(kRuleHeightKey, 0));
    if (size.width() > 0 && size.height() > 0) rules->resize(size.expandedTo(rules->minimumSizeHint()));
  }
  RuleStore().EnsureFile();
  Run(hooks_.fillRuleList);
  Run(hooks_.lookUpAddress);
  created_ = true;
}

void MainWindow::RunWillBeDestroyed() {
  if (destroyHandled_) return;
  destroyHandled_ = true;
  SaveSettings();
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
  if (!closeWithoutAsking_ && RunActive()) {
    // Closing now stops the run: say what that means and let the user decide.
    const NoticeAnswer answer = TimedNotice(
        Utf8ToGbk("提示"),
        Utf8ToGbk("正在下载章节，要停止下载并退出吗？\r\n正在下载的章节会下载完并保存；"
                  "其余章节保持勾选，下次可以接着下载。"),
        0, NoticeStyle::kYesNoDefaultNo);
    if (answer != NoticeAnswer::kYes || closing_) {
      event->ignore();
      return;
    }
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

std::filesystem::path MainWindow::SettingsPath() {
  return RuleStore().FilePath().parent_path() / SettingsFileName();
}

bool MainWindow::RunActive() const {
  const QWidget* pause = Find("按钮_暂停继续");
  return pause != nullptr && pause->isEnabled();
}

void MainWindow::CloseWithoutAsking() {
  closeWithoutAsking_ = true;
  close();
}

void MainWindow::ApplySettings() {
  const std::string address = settings_.GetString(kAddressKey);
  if (!address.empty()) SetWidgetText(Find("编辑框_章节列表网址"), Utf8ToGbk(address));
  auto* merge = Find<QCheckBox>("选择框_合并");
  merge->setChecked(settings_.GetBool(kAutoMergeKey, true));
  Find("按钮_合并")->setEnabled(!merge->isChecked());
  SetSaveFolder(QString::fromStdString(settings_.GetString(kSaveFolderKey)));

  const QRect saved(settings_.GetInt(kLeftKey, 0), settings_.GetInt(kTopKey, 0),
                    settings_.GetInt(kWidthKey, 0), settings_.GetInt(kHeightKey, 0));
  if (saved.width() > 0 && saved.height() > 0) {
    resize(saved.size().expandedTo(minimumSizeHint()));
    // Only where a screen still shows a good part of it (the screens may have changed).
    for (QScreen* screen : QGuiApplication::screens()) {
      const QRect seen = screen->availableGeometry().intersected(QRect(saved.topLeft(), size()));
      if (seen.width() >= 100 && seen.height() >= 50) {
        move(saved.topLeft());
        break;
      }
    }
  }
}

void MainWindow::SaveSettings() {
  settings_.SetString(kAddressKey, GbkToUtf8(WidgetText(Find("编辑框_章节列表网址"))));
  settings_.SetBool(kAutoMergeKey, Find<QCheckBox>("选择框_合并")->isChecked());
  settings_.SetString(kSaveFolderKey, saveFolder_.toStdString());
  settings_.SetInt(kLeftKey, pos().x());
  settings_.SetInt(kTopKey, pos().y());
  settings_.SetInt(kWidthKey, width());
  settings_.SetInt(kHeightKey, height());
  if (QWidget* rules = controls_->Widget(Ctl::RuleWindow)) {
    settings_.SetInt(kRuleWidthKey, rules->width());
    settings_.SetInt(kRuleHeightKey, rules->height());
  }
  settings_.Save();
}

Text MainWindow::SaveFolderText() const { return GbkFromQString(saveFolder_); }

bool MainWindow::SetSaveFolder(const QString& folder) {
  // The engine names files in CP936: a folder it cannot name is refused.
  if (!folder.isEmpty() && QStringFromGbk(GbkFromQString(folder)) != folder) return false;
  saveFolder_ = folder;
  const QString shown = folder.isEmpty() ? QDir::currentPath() : folder;
  saveFolderLabel_->setText(QDir::toNativeSeparators(shown));
  saveFolderLabel_->setToolTip(QDir::toNativeSeparators(shown));
  return true;
}

void MainWindow::SetFolderPickerForTesting(FolderPicker picker) { FolderPickerSlot() = std::move(picker); }

MainWindow::FolderPicker& MainWindow::FolderPickerSlot() {
  static FolderPicker picker;
  return picker;
}

void MainWindow::ChooseSaveFolder() {
  const QString current = saveFolder_.isEmpty() ? QDir::currentPath() : saveFolder_;
  const QString caption = NameOf("选择保存书籍的文件夹");
  const QString chosen = FolderPickerSlot()
                             ? FolderPickerSlot()(this, current)
                             : QFileDialog::getExistingDirectory(this, caption, current);
  if (chosen.isEmpty()) return;  // cancelled
  if (!SetSaveFolder(QDir(chosen).absolutePath())) {
    TimedNotice(Utf8ToGbk("提示"),
                Utf8ToGbk("这个文件夹的名称含有本程序无法用于文件名的字符，请另选一个文件夹。"), 0,
                NoticeStyle::kInfo);
    return;
  }
  settings_.SetString(kSaveFolderKey, saveFolder_.toStdString());
  settings_.Save();
}

void MainWindow::UpdateSpeed() {
  auto* bar = Find<QProgressBar>("进度条1");
  if (!RunActive()) {
    speedTimer_.stop();
    runClock_.invalidate();
    samples_.clear();
    speed_->clear();
    return;
  }
  if (!runClock_.isValid()) {
    runClock_.start();
    speedTimer_.start();
  }
  const qint64 now = runClock_.elapsed();
  const int done = bar->value();
  if (samples_.empty() || samples_.back().second != done) samples_.emplace_back(now, done);
  // The speed of the last half minute, so a pause or a slow patch shows soon.
  while (samples_.size() > 2 && now - samples_.front().first > 30000) samples_.pop_front();
  if (samples_.size() < 2 || done <= 0) {
    speed_->setText(NameOf("正在计算速度…"));
    return;
  }
  const double seconds = (now - samples_.front().first) / 1000.0;
  const double rate = seconds > 0 ? (samples_.back().second - samples_.front().second) / seconds : 0;
  if (rate <= 0) {
    speed_->setText(NameOf("0 章/秒"));
    return;
  }
  const long long left = std::llround((bar->maximum() - done) / rate);
  speed_->setText(QString::asprintf("%.1f ", rate) + NameOf("章/秒，剩余 ") +
                  QString::asprintf("%lld:%02lld:%02lld", left / 3600, left / 60 % 60, left % 60));
}

void MainWindow::MergeCheckClicked() {
  if (QWidget* merge = Find("按钮_合并"))
    merge->setEnabled(!Find<QCheckBox>("选择框_合并")->isChecked());
}

}  // namespace qv

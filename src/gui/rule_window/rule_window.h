// The rule-settings window "规则设置" and the rule lookup for the main window's address box.
//
// The rule shown here is the program's current rule: the engines read the three patterns and
// the two markers from its boxes (through Controls) and the page-capture flag from the main
// window's check box, which this window keeps in step with the rule. Every change of a box's
// text is written to the rule file at once. Window thread only.
#pragma once

#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "rules/rule_store.h"
#include "rules/site_rule.h"

class QAbstractButton;
class QInputDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace qv {

class QtControls;

// The main window's parts that the rule window works with.
struct MainWindowParts {
  QWidget* window = nullptr;              // MainWindow
  QWidget* addressBox = nullptr;          // 编辑框_章节列表网址
  QWidget* statusLabel = nullptr;         // 标签4
  QAbstractButton* captureCheck = nullptr;  // 选择框_页面抓取
  QAbstractButton* ruleButton = nullptr;    // 按钮_选择规则
};

class RuleWindow : public QWidget {
  Q_OBJECT

 public:
  // Item data of 列表框1: the item value (int) and the item's exact CP936 text (QByteArray).
  static constexpr int kItemValueRole = Qt::UserRole;
  static constexpr int kItemBytesRole = Qt::UserRole + 1;

  // The window, hidden, with no parent. Its six boxes and the window itself are registered
  // with `controls` (may be null) under their roles.
  explicit RuleWindow(QtControls* controls = nullptr, RuleStore store = RuleStore());
  ~RuleWindow() override;

  // The main window's parts that the placement, the lookup, the page-capture flag and the
  // toggle use; the clicks of 选择框_页面抓取 run SavePageCaptureFlag from now on.
  void AttachMainWindow(const MainWindowParts& parts);

  // Rule window left = main left + main width + 5, top = main top + 40 (frame rectangles) when
  // there is room on the main window's screen, else inside it (RuleWindowPosition).
  void PlaceRuleWindow();
  // Brings a shown rule window to the top without activating, moving or resizing it.
  void RaiseRuleWindow();
  // Shows or hides the window; 按钮_选择规则 reads "<<<<规则设定" while it shows.
  void ToggleRuleWindow();

  // The rule names into 列表框1 (item values 0), then item 0 selected and shown.
  void FillRuleList();
  // The selected item's rule into the six boxes and 选择框_页面抓取.
  void ShowSelectedRule();
  // Writes one field of the selected rule from its box.
  void SaveFieldEdit(RuleField field);
  // Writes the selected rule's 页面抓取 from 选择框_页面抓取.
  void SavePageCaptureFlag();

  void AddRuleButton();
  void RenameRuleButton();
  void DeleteRuleButton();

  // Selects and shows the rule whose host is the host of 编辑框_章节列表网址 and says in 标签4
  // whether there is one.
  void LookUpRuleForAddress();
  // Whether the rule file has a rule for the host of 编辑框_章节列表网址, looked up now.
  bool HasRuleForAddress();

  // True while a new name waits for confirmation ("确认增加").
  bool AdditionUnderWay() const { return adding_; }
  // 0-based index of the selected item of 列表框1, -1 when none.
  int SelectedIndex() const;

  QListWidget* RuleList() const { return list_; }
  // The edit box of a field (not of 页面抓取).
  QWidget* FieldBox(RuleField field) const;
  QPushButton* AddButton() const { return addButton_; }
  QPushButton* RenameButton() const { return renameButton_; }
  QPushButton* DeleteButton() const { return deleteButton_; }
  QLineEdit* TestAddressBox() const { return testAddressBox_; }
  QPushButton* TestButton() const { return testButton_; }
  QPlainTextEdit* TestResultView() const { return testResultView_; }

  // Starts a test of the rule in the boxes on the test address; a test under way is dropped
  // (its transfer ends, its result is never shown).
  void TestRuleButton();
  // Whether a test's result is still awaited.
  bool TestUnderWay() const { return testRunning_; }
  // The pattern box's compile error shown as typed (empty when it compiles).
  QString PatternProblem(RuleField field) const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  friend void DestroyRuleWindow(RuleWindow* window);
  class Busy;

  void Build();
  // Makes item i the selected one without running the list's selection handling (-1: none).
  void SelectItem(int i);
  // The input box owned by this window; false when cancelled.
  bool AskText(const Text& prompt, const Text& title, const Text& initial, Text& entered);
  void SetAddCaption(bool confirming);
  void DetachMainWindow();
  void MarkPattern(RuleField field);
  void ShowTestResult(unsigned generation, const Text& text);
  void CollectTestThreads(bool all);

  RuleStore store_;

  QListWidget* list_ = nullptr;
  QLineEdit* siteBox_ = nullptr;
  QPlainTextEdit* listPatternBox_ = nullptr;
  QPlainTextEdit* titlePatternBox_ = nullptr;
  QPlainTextEdit* authorPatternBox_ = nullptr;
  QLineEdit* leftMarkerBox_ = nullptr;
  QLineEdit* rightMarkerBox_ = nullptr;
  QPushButton* renameButton_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* deleteButton_ = nullptr;
  QLineEdit* testAddressBox_ = nullptr;
  QPushButton* testButton_ = nullptr;
  QPlainTextEdit* testResultView_ = nullptr;

  // One test on its worker thread; `cancel` ends its transfer, `done` says it has returned.
  struct TestRun {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<TestRun> testRuns_;
  unsigned testGeneration_ = 0;
  bool testRunning_ = false;
  bool testAddressEdited_ = false;
  QMetaObject::Connection addressConnection_;

  QPointer<QWidget> main_;
  QPointer<QWidget> addressBox_;
  QPointer<QWidget> statusLabel_;
  QPointer<QAbstractButton> captureCheck_;
  QPointer<QAbstractButton> ruleButton_;
  QMetaObject::Connection captureConnection_;

  bool adding_ = false;
  unsigned lookupGeneration_ = 0;
  int busy_ = 0;
  bool destroyWanted_ = false;
};

// Where the rule window's frame goes: 5 pixels right of the main window's frame and 40 below
// its top when that lies on the screen's `available` area; otherwise on the left of the main
// window if it fits there, else pushed inside the area. An empty area places it beside.
QPoint RuleWindowPosition(const QRect& mainFrame, const QSize& ruleFrame, const QRect& available);

// Creates the rule window hidden (modeless, no parent) and places it beside the main window.
RuleWindow* LoadRuleWindow(QtControls* controls, const MainWindowParts& parts);

// Destroys the window; one of its handlers still running (a notice or the input box open, a
// lookup pumping events) finishes first with the window hidden and detached from the main
// window, and the window goes when it returns.
void DestroyRuleWindow(RuleWindow* window);

// Called on the window thread with every input box of the rule window as soon as it shows
// (tests answer input boxes through it). An empty observer removes it.
using InputBoxObserver = std::function<void(QInputDialog*)>;
void SetInputBoxObserver(InputBoxObserver observer);

}  // namespace qv
